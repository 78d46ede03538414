#include "appserver/call_args.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace dg::server::detail {

using data::Variant;
using data::VariantKind;

namespace {

const char* ArgKindName(ArgKind kind) {
  switch (kind) {
    case ArgKind::Text:
      return "a text";
    case ArgKind::Date:
      return "a date";
    case ArgKind::Number:
      return "a number";
    case ArgKind::Packet:
      return "a data packet";
  }
  return "?";
}

bool KindFits(ArgKind kind, const Variant& v) {
  if (kind != ArgKind::Packet && v.IsEmptyOrNull()) return true;
  switch (kind) {
    case ArgKind::Text:
      return v.Kind() == VariantKind::String;
    case ArgKind::Date: {
      if (v.Kind() == VariantKind::DateTime) return true;
      data::DateTime d;
      return v.Kind() == VariantKind::String &&
             (v.ToString().empty() || data::DateTime::TryFromIso(v.ToString(), &d));
    }
    case ArgKind::Number:
      return v.IsNumeric();
    case ArgKind::Packet:
      return v.Kind() == VariantKind::Packet;
  }
  return false;
}

// Where a UTF-8 text is cut to keep `size` code points: its length when it
// is no longer than that, or `size` is 0.
std::size_t CutPoint(const std::string& text, int size) {
  if (size <= 0 || text.size() <= static_cast<std::size_t>(size)) return text.size();
  int points = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && points++ == size) return i;
  }
  return text.size();
}

}  // namespace

// ---- arguments -------------------------------------------------------------

void CheckArgs(const std::string& method, const std::vector<ArgKind>& kinds,
               const std::vector<Variant>& values) {
  if (values.size() != kinds.size()) {
    throw Error(method + ": expected " + std::to_string(kinds.size()) + " argument" +
                (kinds.size() == 1 ? "" : "s") + ", got " + std::to_string(values.size()));
  }
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (!KindFits(kinds[i], values[i])) {
      throw Error(method + ": argument " + std::to_string(i + 1) + " must be " +
                  ArgKindName(kinds[i]) + ", got " + data::KindName(values[i].Kind()));
    }
  }
}

std::string Args::Text(int i) const {
  const Variant& v = values_[i];
  return v.IsEmptyOrNull() ? std::string() : v.ToString();
}

Variant Args::Date(int i) const {
  const Variant& v = values_[i];
  if (v.Kind() == VariantKind::DateTime) return v;
  if (v.Kind() == VariantKind::String && !v.ToString().empty()) {
    return Variant(data::DateTime::FromIso(v.ToString()));
  }
  return Variant::Null();
}

std::string Args::Day(int i) const {
  const Variant d = Date(i);
  return d.IsNull() ? std::string() : d.ToDateTime().ToIso().substr(0, 10);
}

double Args::Number(int i) const {
  const Variant& v = values_[i];
  return v.IsEmptyOrNull() ? 0.0 : v.ToDouble();
}

const data::DataPacket& Args::Packet(int i) const { return values_[i].AsPacket(); }

// ---- packets ---------------------------------------------------------------

data::DataPacket& PacketBuilder::Mutable() {
  if (packet_.use_count() > 1) packet_ = std::make_shared<data::DataPacket>(*packet_);
  return *packet_;
}

PacketBuilder& PacketBuilder::Str(const char* name, int size, bool fixed) {
  Mutable().fields.push_back({name, data::FieldType::String, size, false, fixed});
  return *this;
}
PacketBuilder& PacketBuilder::Dbl(const char* name) {
  Mutable().fields.push_back({name, data::FieldType::Double, 0, false, false});
  return *this;
}
PacketBuilder& PacketBuilder::Date(const char* name) {
  Mutable().fields.push_back({name, data::FieldType::DateTime, 0, false, false});
  return *this;
}
PacketBuilder& PacketBuilder::Memo(const char* name) {
  Mutable().fields.push_back({name, data::FieldType::Memo, 0, false, false});
  return *this;
}

void PacketBuilder::Add(std::vector<Variant> cells) {
  data::DataPacket& packet = Mutable();
  cells.resize(packet.fields.size());
  for (std::size_t i = 0; i < cells.size(); ++i) {
    Variant& c = cells[i];
    const data::FieldDef& f = packet.fields[i];
    if (c.IsEmpty()) {
      c = Variant::Null();
    } else if (const std::string* text = c.IfString()) {
      if (text->empty()) {
        c = Variant::Null();
      } else if (f.type == data::FieldType::String) {
        const std::size_t cut = CutPoint(*text, f.size);
        if (cut < text->size()) c = Variant(text->substr(0, cut));
      }
    } else if (c.Kind() == VariantKind::Int && f.type == data::FieldType::Double) {
      c = Variant(c.ToDouble());
    }
  }
  packet.rows.push_back(std::move(cells));
}

Variant PacketBuilder::Build() const {
  return Variant(std::shared_ptr<const data::DataPacket>(packet_));
}

// ---- cells and texts -------------------------------------------------------

std::string S(const Value& v) { return v.IsEmptyOrNull() ? std::string() : v.ToString(); }
double D(const Value& v) { return v.IsEmptyOrNull() ? 0.0 : v.ToDouble(); }

Variant DateCell(const Value& iso) {
  data::DateTime d;
  if (iso.Kind() == VariantKind::String && data::DateTime::TryFromIso(iso.ToString(), &d)) {
    return Variant(d);
  }
  return Variant::Null();
}

std::string OrderKey(const std::string& order) {
  std::string t;
  for (char c : order) {
    if (c != ' ') t += c;
  }
  const bool digits = !t.empty() && std::all_of(t.begin(), t.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
  if (!digits) return t;
  const auto first = t.find_first_not_of('0');
  return first == std::string::npos ? "0" : t.substr(first);
}

std::string StopOrderText(std::size_t number) {
  const std::string n = std::to_string(number);
  return n.size() >= 3 ? n : std::string(3 - n.size(), '0') + n;
}

std::string Digits(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) out += c;
  }
  return out;
}

Transporter ParseKey(const std::string& key) {
  if (key.empty()) return {};
  return {key.substr(0, 1), Digits(key.substr(1))};
}

std::string NowIso() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return data::DateTime::FromMillis(ms).ToIso();
}

}  // namespace dg::server::detail
