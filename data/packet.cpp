#include "data/packet.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "data/json_text.h"

namespace dg::data {
namespace {

using nlohmann::json;

constexpr int kMaxVariantDepth = 32;

[[noreturn]] void Fail(const std::string& text) {
  throw PacketError("invalid data packet: " + text);
}

RowState StateFromName(const std::string& name) {
  if (name == "inserted") return RowState::Inserted;
  if (name == "modified") return RowState::Modified;
  if (name == "deleted") return RowState::Deleted;
  Fail("unknown row state \"" + name + "\"");
}

json CellToJson(const FieldDef& f, const Variant& v) {
  if (v.IsEmptyOrNull()) return nullptr;
  switch (f.type) {
    case FieldType::String:
    case FieldType::Memo:
      return v.ToString();
    case FieldType::Double:
      return v.ToDouble();
    case FieldType::Integer:
      return v.ToInt64();
    case FieldType::DateTime:
      return v.ToDateTime().ToIso();
  }
  return nullptr;
}

Variant CellFromJson(const FieldDef& f, const json& j, const std::string& where) {
  if (j.is_null()) return Variant::Null();
  switch (f.type) {
    case FieldType::String:
    case FieldType::Memo: {
      if (!j.is_string()) Fail(where + ": field " + f.name + " expects a text");
      Variant v(j.get<std::string>());
      CheckCell(f, v);
      return v;
    }
    case FieldType::Double:
      if (!j.is_number()) Fail(where + ": field " + f.name + " expects a number");
      return Variant(j.get<double>());
    case FieldType::Integer:
      if (!j.is_number_integer()) Fail(where + ": field " + f.name + " expects an integer");
      return Variant(j.get<std::int64_t>());
    case FieldType::DateTime: {
      if (!j.is_string()) Fail(where + ": field " + f.name + " expects a date-time text");
      DateTime d;
      if (!DateTime::TryFromIso(j.get<std::string>(), &d))
        Fail(where + ": field " + f.name + " has an invalid date-time \"" + j.get<std::string>() +
             "\"");
      return Variant(d);
    }
  }
  Fail("unknown field type");
}

json RowToJson(const std::vector<FieldDef>& fields, const std::vector<Variant>& row) {
  if (row.size() != fields.size())
    throw PacketError("row has " + std::to_string(row.size()) + " cells for " +
                      std::to_string(fields.size()) + " fields");
  json out = json::array();
  for (std::size_t i = 0; i < fields.size(); ++i) out.push_back(CellToJson(fields[i], row[i]));
  return out;
}

std::vector<Variant> RowFromJson(const std::vector<FieldDef>& fields, const json& j,
                                 const std::string& where) {
  if (!j.is_array()) Fail(where + " is not an array");
  if (j.size() != fields.size())
    Fail(where + " has " + std::to_string(j.size()) + " cells for " +
         std::to_string(fields.size()) + " fields");
  std::vector<Variant> row;
  row.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i)
    row.push_back(CellFromJson(fields[i], j[i], where));
  return row;
}

// The keys of an object as {"a", "b"}, cut short: the values are never
// printed, whatever they hold.
std::string KeyList(const json& object) {
  std::string out = "{";
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (out.size() > 60) return out + ", ...}";
    if (out.size() > 1) out += ", ";
    const std::string& key = it.key();
    out += "\"" + (key.size() > 20 ? key.substr(0, 20) + "..." : key) + "\"";
  }
  return out + "}";
}

Variant VariantFromJsonAt(const json& j, int depth) {
  if (depth > kMaxVariantDepth) throw PacketError("invalid value: nested too deeply");
  switch (j.type()) {
    case json::value_t::null:
      return Variant::Null();
    case json::value_t::boolean:
      return Variant(j.get<bool>());
    case json::value_t::number_integer:
      return Variant(j.get<std::int64_t>());
    case json::value_t::number_unsigned: {
      const auto u = j.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(INT64_MAX))
        throw PacketError("invalid value: integer too large");
      return Variant(static_cast<std::int64_t>(u));
    }
    case json::value_t::number_float:
      return Variant(j.get<double>());
    case json::value_t::string:
      return Variant(j.get<std::string>());
    case json::value_t::object: {
      if (j.size() == 1 && j.contains("empty")) return Variant();
      if (j.size() == 1 && j.contains("date") && j["date"].is_string()) {
        DateTime d;
        if (!DateTime::TryFromIso(j["date"].get<std::string>(), &d))
          throw PacketError("invalid value: bad date \"" + j["date"].get<std::string>() + "\"");
        return Variant(d);
      }
      if (j.size() == 1 && j.contains("packet")) return Variant(PacketFromJson(j["packet"]));
      if (j.contains("array") && j["array"].is_array() && j.size() <= 2) {
        int low = 0;
        if (j.contains("low")) {
          if (!j["low"].is_number_integer()) throw PacketError("invalid value: array low bound");
          const auto l = j["low"].get<std::int64_t>();
          if (l < -1'000'000 || l > 1'000'000) throw PacketError("invalid value: array low bound");
          low = static_cast<int>(l);
        } else if (j.size() != 1) {
          throw PacketError("invalid value: unknown object");
        }
        std::vector<Variant> items;
        items.reserve(j["array"].size());
        for (const auto& e : j["array"]) items.push_back(VariantFromJsonAt(e, depth + 1));
        return Variant(VariantArray(std::move(items), low));
      }
      throw PacketError("invalid value: unknown object " + KeyList(j));
    }
    default:
      throw PacketError("invalid value");
  }
}

}  // namespace

const char* RowStateName(RowState s) {
  switch (s) {
    case RowState::Inserted:
      return "inserted";
    case RowState::Modified:
      return "modified";
    case RowState::Deleted:
      return "deleted";
  }
  return "?";
}

const char* FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::String:
      return "string";
    case FieldType::Double:
      return "double";
    case FieldType::Integer:
      return "integer";
    case FieldType::DateTime:
      return "datetime";
    case FieldType::Memo:
      return "memo";
  }
  return "?";
}

FieldType FieldTypeFromName(std::string_view name) {
  if (name == "string") return FieldType::String;
  if (name == "double") return FieldType::Double;
  if (name == "integer") return FieldType::Integer;
  if (name == "datetime") return FieldType::DateTime;
  if (name == "memo") return FieldType::Memo;
  Fail("unknown field type \"" + std::string(name) + "\"");
}

int DataPacket::FieldIndex(std::string_view name) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name == name) return static_cast<int>(i);
  return -1;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

void CheckCell(const FieldDef& f, const Variant& cell) {
  if (cell.IsEmptyOrNull()) return;
  if (f.type == FieldType::String && f.size > 0 && cell.Kind() == VariantKind::String) {
    const std::size_t len = Utf8Length(cell.ToString());
    if (len > static_cast<std::size_t>(f.size))
      throw PacketError("text of " + std::to_string(len) + " characters is longer than field " +
                        f.name + " (size " + std::to_string(f.size) + ")");
  }
}

json PacketToJson(const DataPacket& p) {
  json out;
  out["format"] = kPacketFormatName;
  out["version"] = kPacketFormatVersion;
  out["kind"] = p.kind == DataPacket::Kind::Table ? "table" : "delta";
  json fields = json::array();
  for (const auto& f : p.fields) {
    json jf = {{"name", f.name}, {"type", FieldTypeName(f.type)}, {"size", f.size}};
    if (f.required) jf["required"] = true;
    if (f.fixed) jf["fixed"] = true;
    fields.push_back(std::move(jf));
  }
  out["fields"] = std::move(fields);
  if (p.kind == DataPacket::Kind::Table) {
    json rows = json::array();
    for (const auto& r : p.rows) rows.push_back(RowToJson(p.fields, r));
    out["rows"] = std::move(rows);
  } else {
    json changes = json::array();
    for (const auto& c : p.changes) {
      json jc = {{"state", RowStateName(c.state)}};
      jc["old"] = c.state == RowState::Inserted ? json(nullptr) : RowToJson(p.fields, c.old_values);
      jc["new"] = c.state == RowState::Deleted ? json(nullptr) : RowToJson(p.fields, c.new_values);
      changes.push_back(std::move(jc));
    }
    out["changes"] = std::move(changes);
  }
  return out;
}

DataPacket PacketFromJson(const json& j) {
  if (!j.is_object()) Fail("not an object");
  if (!j.contains("format") || j["format"] != kPacketFormatName)
    Fail("not a packet (format tag missing)");
  if (!j.contains("version") || !j["version"].is_number_integer()) Fail("version missing");
  if (j["version"].get<std::int64_t>() != kPacketFormatVersion)
    Fail("unsupported version " + j["version"].dump());
  if (!j.contains("kind") || !j["kind"].is_string()) Fail("kind missing");
  DataPacket p;
  const std::string kind = j["kind"].get<std::string>();
  if (kind == "table")
    p.kind = DataPacket::Kind::Table;
  else if (kind == "delta")
    p.kind = DataPacket::Kind::Delta;
  else
    Fail("unknown kind \"" + kind + "\"");

  if (!j.contains("fields") || !j["fields"].is_array()) Fail("field list missing");
  const json& jfields = j["fields"];
  if (jfields.size() > kMaxPacketFields)
    Fail("too many fields (" + std::to_string(jfields.size()) + ")");
  for (const auto& jf : jfields) {
    if (!jf.is_object() || !jf.contains("name") || !jf["name"].is_string() ||
        !jf.contains("type") || !jf["type"].is_string())
      Fail("field definition without name or type");
    FieldDef f;
    f.name = jf["name"].get<std::string>();
    if (f.name.empty() || f.name.size() > kMaxFieldNameSize) Fail("bad field name");
    if (p.FieldIndex(f.name) >= 0) Fail("duplicate field " + f.name);
    f.type = FieldTypeFromName(jf["type"].get<std::string>());
    if (jf.contains("size")) {
      if (!jf["size"].is_number_integer()) Fail("field " + f.name + ": size is not an integer");
      const auto size = jf["size"].get<std::int64_t>();
      if (size < 0 || size > kMaxStringFieldSize)
        Fail("field " + f.name + ": absurd size " + std::to_string(size));
      f.size = static_cast<int>(size);
    }
    if (jf.contains("required")) {
      if (!jf["required"].is_boolean()) Fail("field " + f.name + ": required is not a boolean");
      f.required = jf["required"].get<bool>();
    }
    if (jf.contains("fixed")) {
      if (!jf["fixed"].is_boolean()) Fail("field " + f.name + ": fixed is not a boolean");
      f.fixed = jf["fixed"].get<bool>();
    }
    p.fields.push_back(std::move(f));
  }

  if (p.kind == DataPacket::Kind::Table) {
    if (!j.contains("rows") || !j["rows"].is_array()) Fail("row list missing");
    const json& jrows = j["rows"];
    if (jrows.size() > kMaxPacketRows) Fail("too many rows");
    p.rows.reserve(jrows.size());
    for (std::size_t i = 0; i < jrows.size(); ++i)
      p.rows.push_back(RowFromJson(p.fields, jrows[i], "row " + std::to_string(i + 1)));
  } else {
    if (!j.contains("changes") || !j["changes"].is_array()) Fail("change list missing");
    const json& jchanges = j["changes"];
    if (jchanges.size() > kMaxPacketRows) Fail("too many changes");
    for (std::size_t i = 0; i < jchanges.size(); ++i) {
      const json& jc = jchanges[i];
      const std::string where = "change " + std::to_string(i + 1);
      if (!jc.is_object() || !jc.contains("state") || !jc["state"].is_string())
        Fail(where + " without state");
      RowChange c;
      c.state = StateFromName(jc["state"].get<std::string>());
      if (c.state != RowState::Inserted) {
        if (!jc.contains("old")) Fail(where + " without old values");
        c.old_values = RowFromJson(p.fields, jc["old"], where + " (old)");
      }
      if (c.state != RowState::Deleted) {
        if (!jc.contains("new")) Fail(where + " without new values");
        c.new_values = RowFromJson(p.fields, jc["new"], where + " (new)");
      }
      p.changes.push_back(std::move(c));
    }
  }
  return p;
}

std::string EncodePacket(const DataPacket& packet) { return PacketToJson(packet).dump(); }

DataPacket DecodePacket(std::string_view text) {
  json j;
  try {
    j = ParseJson(text);
  } catch (const JsonTextError& e) {
    Fail(std::string("malformed JSON: ") + e.what());
  }
  return PacketFromJson(j);
}

json VariantToJson(const Variant& v) {
  switch (v.Kind()) {
    case VariantKind::Empty:
      return {{"empty", true}};
    case VariantKind::Null:
      return nullptr;
    case VariantKind::Bool:
      return v.ToBool();
    case VariantKind::Int:
      return v.ToInt64();
    case VariantKind::Double: {
      const double d = v.ToDouble();
      if (!std::isfinite(d)) throw PacketError("a number that is not finite cannot be sent");
      return d;
    }
    case VariantKind::String:
      return v.ToString();
    case VariantKind::DateTime:
      return {{"date", v.ToDateTime().ToIso()}};
    case VariantKind::Packet:
      return {{"packet", PacketToJson(v.AsPacket())}};
    case VariantKind::Array: {
      json items = json::array();
      for (const auto& item : v.AsArray().Items()) items.push_back(VariantToJson(item));
      return {{"array", std::move(items)}, {"low", v.AsArray().Low()}};
    }
    case VariantKind::BoolRef:
    case VariantKind::StringRef:
      throw PacketError("a reference to a local variable cannot be sent");
  }
  return nullptr;
}

Variant VariantFromJson(const json& j) { return VariantFromJsonAt(j, 0); }

}  // namespace dg::data
