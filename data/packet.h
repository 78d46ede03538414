// Data packet: a whole table, or the change log of one, as one value.
//
// The application server hands tables to the client as packets and takes
// them back; the screen never looks inside one. The wire form is versioned,
// self-describing JSON:
//
//   {"format": "dg-packet", "version": 1, "kind": "table",
//    "fields": [{"name": "NRPEDIDO", "type": "string", "size": 10,
//                "required": false, "fixed": false}, ...],
//    "rows": [["000123", 2.5, "2024-05-01T00:00:00", null], ...]}
//
//   {"format": "dg-packet", "version": 1, "kind": "delta", "fields": [...],
//    "changes": [{"state": "modified", "old": [...], "new": [...]}, ...]}
//
// Cells are null (no value), a JSON string (string, memo, and date-time as
// "YYYY-MM-DDTHH:MM:SS[.mmm]"), or a JSON number (double, integer).
// Decoding checks everything and throws PacketError with a clear text on
// anything malformed; it never reads out of bounds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "data/variant.h"

namespace dg::data {

class PacketError : public Error {
 public:
  using Error::Error;
};

enum class FieldType { String, Double, Integer, DateTime, Memo };

// "string", "double", "integer", "datetime", "memo".
const char* FieldTypeName(FieldType type);
// Throws PacketError for an unknown name.
FieldType FieldTypeFromName(std::string_view name);

// One column. `size` is the maximum length in characters (UTF-8 code points)
// of a string field, 0 for other types. Intentionally copyable.
struct FieldDef {
  std::string name;
  FieldType type = FieldType::String;
  int size = 0;
  bool required = false;
  bool fixed = false;  // fixed-length string

  friend bool operator==(const FieldDef&, const FieldDef&) = default;
};

enum class RowState { Inserted, Modified, Deleted };

// A change log row's state as the packet text names it ("inserted", ...).
const char* RowStateName(RowState s);

// One changed row of a change log. `old_values` are the values when the row
// was loaded (empty vector for an inserted row); `new_values` the values now
// (empty vector for a deleted row).
struct RowChange {
  RowState state = RowState::Modified;
  std::vector<Variant> old_values;
  std::vector<Variant> new_values;

  friend bool operator==(const RowChange&, const RowChange&) = default;
};

// A table (kind Table: `rows`) or a change log (kind Delta: `changes`).
// Every row has exactly fields.size() cells; a cell is Null, or a value of the
// field's type (String/Memo: std::string, Double: double, Integer: int64,
// DateTime: DateTime). Intentionally copyable.
struct DataPacket {
  enum class Kind { Table, Delta };
  Kind kind = Kind::Table;
  std::vector<FieldDef> fields;
  std::vector<std::vector<Variant>> rows;
  std::vector<RowChange> changes;

  // Index of the field, or -1.
  int FieldIndex(std::string_view name) const;
  std::size_t RowCount() const { return kind == Kind::Table ? rows.size() : changes.size(); }

  friend bool operator==(const DataPacket&, const DataPacket&) = default;
};

// The packet text's format name and version.
inline constexpr const char* kPacketFormatName = "dg-packet";
inline constexpr int kPacketFormatVersion = 1;

// Limits the decoder enforces.
inline constexpr std::size_t kMaxPacketFields = 4096;
inline constexpr std::size_t kMaxFieldNameSize = 128;
inline constexpr std::size_t kMaxPacketRows = 50'000'000;
inline constexpr int kMaxStringFieldSize = 1 << 20;

// Number of characters (UTF-8 code points) of a text.
std::size_t Utf8Length(std::string_view text);

// Checks one cell against its field (type and size); throws PacketError.
void CheckCell(const FieldDef& field, const Variant& cell);

nlohmann::json PacketToJson(const DataPacket& packet);
DataPacket PacketFromJson(const nlohmann::json& json);
std::string EncodePacket(const DataPacket& packet);
DataPacket DecodePacket(std::string_view text);

// Variants on the wire (server arguments and results): a tagged JSON value
//   {"empty": true} | null | true | 5 | 2.5 | "text" |
//   {"date": "2024-05-01T00:00:00"} | {"packet": {...}} |
//   {"array": [...], "low": 0}
// A JSON integer decodes as Int, a JSON number with a fraction or exponent as
// Double (doubles are always written with a decimal point).
nlohmann::json VariantToJson(const Variant& value);
Variant VariantFromJson(const nlohmann::json& json);

}  // namespace dg::data
