#include "data/wire_json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>

#include <nlohmann/json.hpp>

#include "data/json_events.h"
#include "data/json_text.h"
#include "data/packet.h"

namespace dg::data {
namespace {

using nlohmann::json;

// Plain texts (printable ASCII without quote or backslash) are written as
// they stand; any other text the library escapes, so that escapes, UTF-8
// checks and their failures stay exactly its own.
bool IsPlain(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E || c == '"' || c == '\\') return false;
  }
  return true;
}

}  // namespace

WireWriter& WireWriter::Values(const std::vector<Variant>& values) {
  out_ += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out_ += ',';
    Value(values[i]);
  }
  out_ += ']';
  return *this;
}

WireWriter& WireWriter::Text(std::string_view text) {
  if (IsPlain(text)) {
    out_.push_back('"');
    out_.append(text);
    out_.push_back('"');
    return *this;
  }
  try {
    out_ += json(std::string(text))
                .dump(-1, ' ', false,
                      bad_ == BadText::Replace ? json::error_handler_t::replace
                                               : json::error_handler_t::strict);
  } catch (const json::exception&) {
    if (!bad_text_) bad_text_ = std::current_exception();
    out_ += "\"\"";
  }
  return *this;
}

void WireWriter::Double(double value) {
  if (!std::isfinite(value)) {
    out_ += "null";
    return;
  }
  // The library's own shortest form, so the bytes are those dump() writes.
  char buffer[64];
  const char* end = nlohmann::detail::to_chars(buffer, buffer + sizeof buffer, value);
  out_.append(buffer, static_cast<std::size_t>(end - buffer));
}

WireWriter& WireWriter::Value(const Variant& v) {
  switch (v.Kind()) {
    case VariantKind::Empty:
      return Raw("{\"empty\":true}");
    case VariantKind::Null:
      return Raw("null");
    case VariantKind::Bool:
      return Raw(v.ToBool() ? "true" : "false");
    case VariantKind::Int: {
      char buffer[24];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, *v.IfInt()).ptr;
      return Raw(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
    }
    case VariantKind::Double: {
      const double d = *v.IfDouble();
      if (!std::isfinite(d)) throw PacketError("a number that is not finite cannot be sent");
      Double(d);
      return *this;
    }
    case VariantKind::String:
      return Text(*v.IfString());
    case VariantKind::DateTime:
      Raw("{\"date\":").Text(v.IfDateTime()->ToIso());
      return Raw("}");
    case VariantKind::Packet:
      Raw("{\"packet\":");
      Packet(v.AsPacket());
      return Raw("}");
    case VariantKind::Array: {
      const VariantArray& array = v.AsArray();
      Raw("{\"array\":").Values(array.Items()).Raw(",\"low\":");
      return Value(Variant(array.Low())).Raw("}");
    }
    case VariantKind::BoolRef:
    case VariantKind::StringRef:
      throw PacketError("a reference to a local variable cannot be sent");
  }
  return *this;
}

void WireWriter::Row(const DataPacket& p, const std::vector<Variant>& row) {
  if (row.size() != p.fields.size()) {
    throw PacketError("row has " + std::to_string(row.size()) + " cells for " +
                      std::to_string(p.fields.size()) + " fields");
  }
  out_.push_back('[');
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i > 0) out_.push_back(',');
    const Variant& cell = row[i];
    if (cell.IsEmptyOrNull()) {
      out_ += "null";
      continue;
    }
    switch (p.fields[i].type) {
      case FieldType::String:
      case FieldType::Memo:
        if (const std::string* s = cell.IfString()) {
          Text(*s);
        } else {
          Text(cell.ToString());
        }
        break;
      case FieldType::Double:
        Double(cell.ToDouble());
        break;
      case FieldType::Integer:
        Value(Variant(cell.ToInt64()));
        break;
      case FieldType::DateTime:
        Text(cell.ToDateTime().ToIso());
        break;
    }
  }
  out_.push_back(']');
}

void WireWriter::Packet(const DataPacket& p) {
  std::string fields = "\"fields\":[";
  {
    std::string rest = std::exchange(out_, {});
    bool first = true;
    for (const FieldDef& f : p.fields) {
      if (!first) out_ += ",";
      first = false;
      Raw(f.fixed ? "{\"fixed\":true,\"name\":" : "{\"name\":").Text(f.name);
      if (f.required) Raw(",\"required\":true");
      Raw(",\"size\":").Value(Variant(f.size)).Raw(",\"type\":\"").Raw(FieldTypeName(f.type));
      Raw("\"}");
    }
    fields += std::exchange(out_, std::move(rest));
    fields += "]";
  }
  out_.push_back('{');
  if (p.kind == DataPacket::Kind::Table) {
    out_ += fields;
    out_ += ",\"format\":\"dg-packet\",\"kind\":\"table\",\"rows\":[";
    for (std::size_t r = 0; r < p.rows.size(); ++r) {
      if (r > 0) out_.push_back(',');
      Row(p, p.rows[r]);
    }
    out_ += "],\"version\":1}";
    return;
  }
  out_ += "\"changes\":[";
  for (std::size_t c = 0; c < p.changes.size(); ++c) {
    const RowChange& change = p.changes[c];
    // The old values are checked before the new ones, as the document is
    // built, though the new ones are written first.
    std::string rest = std::exchange(out_, {});
    if (change.state == RowState::Inserted) {
      out_ += "null";
    } else {
      Row(p, change.old_values);
    }
    std::string old_text = std::exchange(out_, std::move(rest));
    if (c > 0) out_.push_back(',');
    out_ += "{\"new\":";
    if (change.state == RowState::Deleted) {
      out_ += "null";
    } else {
      Row(p, change.new_values);
    }
    out_ += ",\"old\":";
    out_ += old_text;
    Raw(",\"state\":\"").Raw(RowStateName(change.state)).Raw("\"}");
  }
  out_ += "],";
  out_ += fields;
  out_ += ",\"format\":\"dg-packet\",\"kind\":\"delta\",\"version\":1}";
}

std::string WireWriter::Take() {
  if (bad_text_) std::rethrow_exception(std::exchange(bad_text_, nullptr));
  return std::exchange(out_, {});
}

// ---- reading ---------------------------------------------------------------

namespace {

// Variants nested deeper than this are left to the general decoder (which
// allows somewhat more, and refuses beyond that).
constexpr int kMaxFastNesting = 16;

// Builds variants from the parser's events. Every event that is not the
// common form answers false, which stops the parse; the caller then
// decodes the text the general way.
class Reader {
 public:
  explicit Reader(std::span<const WireMember> members) : members_(members) {}
  // A lone variant as the document.
  explicit Reader(Variant* value) : lone_(value) {}

  bool null() { return Scalar(Variant::Null(), Token::Null); }
  bool boolean(bool value) { return Scalar(Variant(value), Token::Bool); }
  bool number_integer(json::number_integer_t value) {
    return Scalar(Variant(static_cast<std::int64_t>(value)), Token::Integer);
  }
  bool number_unsigned(json::number_unsigned_t value) {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    return Scalar(Variant(static_cast<std::int64_t>(value)), Token::Integer);
  }
  bool number_float(json::number_float_t value, const json::string_t&) {
    if (!std::isfinite(value)) return false;
    return Scalar(Variant(static_cast<double>(value)), Token::Float);
  }
  bool string(json::string_t& value) { return Text(value); }
  bool binary(json::binary_t&) { return false; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  bool start_object(std::size_t);
  bool start_array(std::size_t);
  bool end_object();
  bool end_array();
  bool key(json::string_t& name);

  bool Done() const { return done_; }

 private:
  enum class Token { Null, Bool, Integer, Float };
  // What an open container is.
  enum class Kind { Members, List, Tagged, Packet, Fields, Field, Rows, Row };
  // Keys of a packet and of a field, in sorted order.
  enum PacketKey { kFields, kFormat, kKind, kRows, kVersion, kPacketKeys };
  enum FieldKey { kFixed, kName, kRequired, kSize, kType, kFieldKeys };

  struct Open {
    explicit Open(Kind k) : kind(k) {}
    Kind kind;
    int key = -1;                // the member or key whose value comes next
    std::vector<Variant> items;  // List
    std::string tag;             // Tagged: "array", "date", "empty", "packet"
    Variant value;               // Tagged: what it stands for
    bool low = false;            // Tagged array: its low bound was given
  };

  bool Depth(int change) {
    depth_ += change;
    return depth_ <= kMaxJsonDepth;
  }
  // The value just read goes where the open container wants it.
  bool Place(Variant value);
  bool Scalar(Variant value, Token token);
  bool Text(std::string& value);
  bool FinishPacket();
  bool FinishField();
  int Nesting() const {
    int n = 0;
    for (const Open& o : open_) n += o.kind == Kind::List ? 1 : 0;
    return n;
  }

  std::span<const WireMember> members_;
  Variant* lone_ = nullptr;
  std::vector<Open> open_;
  int depth_ = 0;
  bool done_ = false;

  // The packet being read (packets do not nest).
  std::shared_ptr<DataPacket> packet_;
  std::string format_, kind_;
  std::int64_t version_ = 0;
  unsigned packet_seen_ = 0;
  bool fields_done_ = false;
  FieldDef field_;
  unsigned field_seen_ = 0;
  std::size_t cell_ = 0;
};

bool Reader::Place(Variant value) {
  if (open_.empty()) {
    if (lone_ == nullptr || done_) return false;
    *lone_ = std::move(value);
    done_ = true;
    return true;
  }
  Open& o = open_.back();
  switch (o.kind) {
    case Kind::Members: {
      if (o.key < 0) return false;
      const WireMember& m = members_[static_cast<std::size_t>(o.key)];
      if (m.value == nullptr) return false;
      *m.value = std::move(value);
      return true;
    }
    case Kind::List:
      o.items.push_back(std::move(value));
      return true;
    default:
      return false;
  }
}

bool Reader::Scalar(Variant value, Token token) {
  if (open_.empty() || open_.back().kind == Kind::Members || open_.back().kind == Kind::List) {
    if (!open_.empty() && open_.back().kind == Kind::Members) {
      const Open& o = open_.back();
      if (o.key < 0 || members_[static_cast<std::size_t>(o.key)].value == nullptr) return false;
    }
    return Place(std::move(value));
  }
  Open& o = open_.back();
  switch (o.kind) {
    case Kind::Tagged:
      if (o.tag == "empty" && token == Token::Bool && value.ToBool() && o.value.IsNull()) {
        o.value = Variant();
        o.key = 1;  // answered
        return true;
      }
      if (o.tag == "array" && o.key == 1 && token == Token::Integer && !o.low) {
        const std::int64_t low = *value.IfInt();
        if (low < -1'000'000 || low > 1'000'000) return false;
        o.low = true;
        o.value = Variant(VariantArray(std::move(o.items), static_cast<int>(low)));
        return true;
      }
      return false;
    case Kind::Packet:
      if (o.key == kVersion && token == Token::Integer) {
        version_ = *value.IfInt();
        return true;
      }
      return false;
    case Kind::Field:
      if (o.key == kSize && token == Token::Integer) {
        const std::int64_t size = *value.IfInt();
        if (size < 0 || size > kMaxStringFieldSize) return false;
        field_.size = static_cast<int>(size);
        return true;
      }
      if ((o.key == kRequired || o.key == kFixed) && token == Token::Bool) {
        (o.key == kRequired ? field_.required : field_.fixed) = value.ToBool();
        return true;
      }
      return false;
    case Kind::Row: {
      if (cell_ >= packet_->fields.size()) return false;
      const FieldDef& f = packet_->fields[cell_++];
      std::vector<Variant>& row = packet_->rows.back();
      if (token == Token::Null) {
        row.push_back(Variant::Null());
        return true;
      }
      if (f.type == FieldType::Double && token != Token::Bool) {
        row.push_back(Variant(value.ToDouble()));
        return true;
      }
      if (f.type == FieldType::Integer && token == Token::Integer) {
        row.push_back(std::move(value));
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

bool Reader::Text(std::string& value) {
  if (open_.empty() || open_.back().kind == Kind::List) return Place(Variant(std::move(value)));
  Open& o = open_.back();
  switch (o.kind) {
    case Kind::Members: {
      if (o.key < 0) return false;
      const WireMember& m = members_[static_cast<std::size_t>(o.key)];
      if (m.text != nullptr) {
        *m.text = std::move(value);
        return true;
      }
      return Place(Variant(std::move(value)));
    }
    case Kind::Tagged: {
      DateTime d;
      if (o.tag != "date" || !o.value.IsNull() || !DateTime::TryFromIso(value, &d)) return false;
      o.value = Variant(d);
      return true;
    }
    case Kind::Packet:
      if (o.key == kFormat) {
        format_ = std::move(value);
      } else if (o.key == kKind) {
        kind_ = std::move(value);
      } else {
        return false;
      }
      return true;
    case Kind::Field:
      if (o.key == kName) {
        field_.name = std::move(value);
      } else if (o.key == kType) {
        if (value == "string") {
          field_.type = FieldType::String;
        } else if (value == "double") {
          field_.type = FieldType::Double;
        } else if (value == "integer") {
          field_.type = FieldType::Integer;
        } else if (value == "datetime") {
          field_.type = FieldType::DateTime;
        } else if (value == "memo") {
          field_.type = FieldType::Memo;
        } else {
          return false;
        }
      } else {
        return false;
      }
      return true;
    case Kind::Row: {
      if (cell_ >= packet_->fields.size()) return false;
      const FieldDef& f = packet_->fields[cell_++];
      std::vector<Variant>& row = packet_->rows.back();
      if (f.type == FieldType::DateTime) {
        DateTime d;
        if (!DateTime::TryFromIso(value, &d)) return false;
        row.push_back(Variant(d));
        return true;
      }
      if (f.type != FieldType::String && f.type != FieldType::Memo) return false;
      if (f.type == FieldType::String && f.size > 0 &&
          Utf8Length(value) > static_cast<std::size_t>(f.size)) {
        return false;
      }
      row.push_back(Variant(std::move(value)));
      return true;
    }
    default:
      return false;
  }
}

bool Reader::key(json::string_t& name) {
  Open& o = open_.back();
  // Keys come in strictly increasing order: none twice, none unknown.
  auto next = [&](const auto& keys, int count) {
    for (int k = o.key + 1; k < count; ++k) {
      if (name == keys[k]) {
        o.key = k;
        return true;
      }
    }
    return false;
  };
  switch (o.kind) {
    case Kind::Members: {
      for (int k = o.key + 1; k < static_cast<int>(members_.size()); ++k) {
        if (name == members_[static_cast<std::size_t>(k)].key) {
          if (k != o.key + 1) return false;  // a member missing
          o.key = k;
          return true;
        }
      }
      return false;
    }
    case Kind::Tagged:
      if (o.key == -1) {
        if (name != "array" && name != "date" && name != "empty" && name != "packet") return false;
        o.tag = name;
        o.key = 0;
        o.value = Variant::Null();
        return true;
      }
      // Only an array's low bound may follow its items.
      if (o.tag != "array" || o.key != 2 || name != "low") return false;
      o.key = 1;
      return true;
    case Kind::Packet: {
      static const char* const kKeys[] = {"fields", "format", "kind", "rows", "version"};
      if (!next(kKeys, kPacketKeys)) return false;
      packet_seen_ |= 1u << o.key;
      return o.key != kRows || fields_done_;
    }
    case Kind::Field: {
      static const char* const kKeys[] = {"fixed", "name", "required", "size", "type"};
      if (!next(kKeys, kFieldKeys)) return false;
      field_seen_ |= 1u << o.key;
      return true;
    }
    default:
      return false;
  }
}

bool Reader::start_object(std::size_t) {
  if (!Depth(1)) return false;
  if (open_.empty()) {
    if (lone_ != nullptr) {
      open_.emplace_back(Kind::Tagged);
      return true;
    }
    open_.emplace_back(Kind::Members);
    return true;
  }
  Open& o = open_.back();
  switch (o.kind) {
    case Kind::Members:
      if (o.key < 0 || members_[static_cast<std::size_t>(o.key)].value == nullptr) return false;
      open_.emplace_back(Kind::Tagged);
      return true;
    case Kind::List:
      open_.emplace_back(Kind::Tagged);
      return true;
    case Kind::Tagged:
      if (o.tag != "packet" || packet_ || !o.value.IsNull()) return false;
      packet_ = std::make_shared<DataPacket>();
      format_.clear();
      kind_.clear();
      version_ = 0;
      packet_seen_ = 0;
      fields_done_ = false;
      open_.emplace_back(Kind::Packet);
      return true;
    case Kind::Fields:
      field_ = FieldDef();
      field_seen_ = 0;
      open_.emplace_back(Kind::Field);
      return true;
    default:
      return false;
  }
}

bool Reader::start_array(std::size_t) {
  if (!Depth(1) || open_.empty()) return false;
  Open& o = open_.back();
  switch (o.kind) {
    case Kind::Members:
      if (o.key < 0 || members_[static_cast<std::size_t>(o.key)].list == nullptr) return false;
      open_.emplace_back(Kind::List);
      return true;
    case Kind::Tagged:
      if (o.tag != "array" || o.key != 0 || Nesting() >= kMaxFastNesting) return false;
      open_.emplace_back(Kind::List);
      return true;
    case Kind::Packet:
      if (o.key == kFields) {
        open_.emplace_back(Kind::Fields);
        return true;
      }
      if (o.key == kRows) {
        open_.emplace_back(Kind::Rows);
        return true;
      }
      return false;
    case Kind::Rows:
      if (packet_->rows.size() >= kMaxPacketRows) return false;
      packet_->rows.emplace_back().reserve(packet_->fields.size());
      cell_ = 0;
      open_.emplace_back(Kind::Row);
      return true;
    default:
      return false;
  }
}

bool Reader::end_array() {
  Depth(-1);
  Open closed = std::move(open_.back());
  open_.pop_back();
  switch (closed.kind) {
    case Kind::List: {
      Open& o = open_.back();
      if (o.kind == Kind::Members) {
        *members_[static_cast<std::size_t>(o.key)].list = std::move(closed.items);
        return true;
      }
      // A tagged array: its items, then perhaps its low bound.
      o.items = std::move(closed.items);
      o.value = Variant(false);  // answered; made at the low bound or the end
      o.key = 2;
      return true;
    }
    case Kind::Fields:
      fields_done_ = true;
      return packet_->fields.size() <= kMaxPacketFields;
    case Kind::Rows:
      return true;
    case Kind::Row:
      return cell_ == packet_->fields.size();
    default:
      return false;
  }
}

bool Reader::FinishField() {
  if ((field_seen_ & (1u << kName)) == 0 || (field_seen_ & (1u << kType)) == 0) return false;
  if (field_.name.empty() || field_.name.size() > kMaxFieldNameSize) return false;
  if (packet_->FieldIndex(field_.name) >= 0) return false;
  packet_->fields.push_back(std::move(field_));
  return true;
}

bool Reader::FinishPacket() {
  const unsigned needed =
      1u << kFields | 1u << kFormat | 1u << kKind | 1u << kRows | 1u << kVersion;
  if ((packet_seen_ & needed) != needed) return false;
  if (format_ != kPacketFormatName || version_ != kPacketFormatVersion || kind_ != "table") {
    return false;
  }
  Open& o = open_.back();  // the tagged "packet"
  o.value = Variant(std::shared_ptr<const DataPacket>(std::move(packet_)));
  packet_.reset();
  o.key = 1;  // answered
  return true;
}

bool Reader::end_object() {
  Depth(-1);
  Open closed = std::move(open_.back());
  open_.pop_back();
  switch (closed.kind) {
    case Kind::Members:
      if (closed.key != static_cast<int>(members_.size()) - 1) return false;
      done_ = true;
      return true;
    case Kind::Field:
      return FinishField();
    case Kind::Packet:
      return FinishPacket();
    case Kind::Tagged:
      // Answered: "empty" and "packet" set key 1, "date" has its value,
      // "array" has its items (key 2) or items and low bound (key 1).
      if (closed.tag.empty() || closed.value.IsNull()) return false;
      if (closed.tag == "array" && closed.key == 2) {
        closed.value = Variant(VariantArray(std::move(closed.items), 0));
      }
      return Place(std::move(closed.value));
    default:
      return false;
  }
}

}  // namespace

bool TryReadWireObject(std::string_view text, std::span<const WireMember> members) {
  Reader reader(members);
  try {
    return ReadJsonEvents(text, reader, kMaxJsonDepth + 1) && reader.Done();
  } catch (const std::exception&) {
    return false;
  }
}

bool TryReadWireVariant(std::string_view text, Variant* out) {
  Reader reader(out);
  try {
    return ReadJsonEvents(text, reader, kMaxJsonDepth + 1) && reader.Done();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace dg::data
