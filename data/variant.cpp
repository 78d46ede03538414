#include "data/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "data/packet.h"

namespace dg::data {
namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian), and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

constexpr std::int64_t kMsPerDay = 86'400'000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidParts(int y, int mo, int d, int h, int mi, int s, int ms) {
  return y >= 1 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= DaysInMonth(y, mo) &&
         h >= 0 && h <= 23 && mi >= 0 && mi <= 59 && s >= 0 && s <= 59 && ms >= 0 && ms <= 999;
}

// Reads exactly `width` digits at `pos`.
bool ReadDigits(const std::string& t, std::size_t pos, std::size_t width, int* out) {
  if (pos + width > t.size()) return false;
  int v = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  *out = v;
  return true;
}

[[noreturn]] void ConversionError(VariantKind from, const char* to) {
  throw VariantConversionError(std::string("Could not convert variant of type (") + KindName(from) +
                               ") into type (" + to + ")");
}

std::string FormatDouble(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "INF" : "-INF";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, end);
}

// Parses a whole text as a number ('.' or ',' as decimal point, blanks around).
bool ParseNumber(const std::string& text, double* out) {
  std::size_t b = text.find_first_not_of(" \t");
  std::size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  std::string t = text.substr(b, e - b + 1);
  for (char& c : t)
    if (c == ',') c = '.';
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  double v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || p != t.data() + t.size()) return false;
  *out = v;
  return true;
}

}  // namespace

DateTime DateTime::FromParts(int y, int mo, int d, int h, int mi, int s, int ms) {
  if (!ValidParts(y, mo, d, h, mi, s, ms)) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "invalid date %04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi,
                  s);
    throw Error(buf);
  }
  DateTime out;
  out.ms_ = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kMsPerDay +
            ((h * 60 + mi) * 60 + s) * 1000LL + ms;
  return out;
}

bool DateTime::TryFromIso(const std::string& t, DateTime* out) {
  int y, mo, d, h = 0, mi = 0, s = 0, ms = 0;
  if (!ReadDigits(t, 0, 4, &y) || t.size() < 10 || t[4] != '-' || !ReadDigits(t, 5, 2, &mo) ||
      t[7] != '-' || !ReadDigits(t, 8, 2, &d))
    return false;
  std::size_t pos = 10;
  if (t.size() > pos) {
    if (t[pos] != 'T' && t[pos] != ' ') return false;
    if (!ReadDigits(t, pos + 1, 2, &h) || t.size() < pos + 6 || t[pos + 3] != ':' ||
        !ReadDigits(t, pos + 4, 2, &mi))
      return false;
    pos += 6;
    if (t.size() > pos) {
      if (t[pos] != ':' || !ReadDigits(t, pos + 1, 2, &s)) return false;
      pos += 3;
      if (t.size() > pos) {
        if (t[pos] != '.' || !ReadDigits(t, pos + 1, 3, &ms) || t.size() != pos + 4) return false;
      }
    }
  }
  if (!ValidParts(y, mo, d, h, mi, s, ms)) return false;
  *out = FromParts(y, mo, d, h, mi, s, ms);
  return true;
}

DateTime DateTime::FromIso(const std::string& text) {
  DateTime out;
  if (!TryFromIso(text, &out)) throw Error("invalid date-time \"" + text + "\"");
  return out;
}

DateTime DateTime::FromBrazilian(const std::string& t) {
  int d, mo, y, h = 0, mi = 0, s = 0;
  bool ok = ReadDigits(t, 0, 2, &d) && t.size() >= 10 && t[2] == '/' && ReadDigits(t, 3, 2, &mo) &&
            t[5] == '/' && ReadDigits(t, 6, 4, &y);
  if (ok && t.size() > 10) {
    ok = t[10] == ' ' && ReadDigits(t, 11, 2, &h) && t.size() >= 16 && t[13] == ':' &&
         ReadDigits(t, 14, 2, &mi);
    if (ok && t.size() > 16) ok = t.size() == 19 && t[16] == ':' && ReadDigits(t, 17, 2, &s);
  }
  if (!ok || !ValidParts(y, mo, d, h, mi, s, 0)) throw Error("invalid date \"" + t + "\"");
  return FromParts(y, mo, d, h, mi, s);
}

int DateTime::Year() const {
  int y, m, d;
  CivilFromDays(FloorDiv(ms_, kMsPerDay), &y, &m, &d);
  return y;
}
int DateTime::Month() const {
  int y, m, d;
  CivilFromDays(FloorDiv(ms_, kMsPerDay), &y, &m, &d);
  return m;
}
int DateTime::Day() const {
  int y, m, d;
  CivilFromDays(FloorDiv(ms_, kMsPerDay), &y, &m, &d);
  return d;
}
int DateTime::Hour() const {
  return static_cast<int>((ms_ - FloorDiv(ms_, kMsPerDay) * kMsPerDay) / 3'600'000);
}
int DateTime::Minute() const {
  return static_cast<int>((ms_ - FloorDiv(ms_, kMsPerDay) * kMsPerDay) / 60'000 % 60);
}
int DateTime::Second() const {
  return static_cast<int>((ms_ - FloorDiv(ms_, kMsPerDay) * kMsPerDay) / 1000 % 60);
}

namespace {

// `value` (0 to 10^width - 1) as `width` digits with leading zeros.
char* Digits(char* out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

}  // namespace

std::string DateTime::ToIso() const {
  int y, m, d;
  const std::int64_t days = FloorDiv(ms_, kMsPerDay);
  CivilFromDays(days, &y, &m, &d);
  const std::int64_t in_day = ms_ - days * kMsPerDay;
  char buf[48];
  const int ms = static_cast<int>(in_day % 1000);
  const int s = static_cast<int>(in_day / 1000);
  // Every date of a packet passes here when it is sent: the years of four
  // digits are written digit by digit, the same text the format below gives.
  if (y >= 0 && y <= 9999) {
    char* out = Digits(buf, y, 4);
    *out++ = '-';
    out = Digits(out, m, 2);
    *out++ = '-';
    out = Digits(out, d, 2);
    *out++ = 'T';
    out = Digits(out, s / 3600, 2);
    *out++ = ':';
    out = Digits(out, s / 60 % 60, 2);
    *out++ = ':';
    out = Digits(out, s % 60, 2);
    if (ms) {
      *out++ = '.';
      out = Digits(out, ms, 3);
    }
    return std::string(buf, out);
  }
  if (ms)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, m, d, s / 3600,
                  s / 60 % 60, s % 60, ms);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, m, d, s / 3600, s / 60 % 60,
                  s % 60);
  return buf;
}

std::string DateTime::ToBrazilian() const {
  int y, m, d;
  const std::int64_t days = FloorDiv(ms_, kMsPerDay);
  CivilFromDays(days, &y, &m, &d);
  const int s = static_cast<int>((ms_ - days * kMsPerDay) / 1000);
  char buf[48];
  if (s)
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", d, m, y, s / 3600, s / 60 % 60,
                  s % 60);
  else
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d, m, y);
  return buf;
}

const char* KindName(VariantKind kind) {
  switch (kind) {
    case VariantKind::Empty:
      return "Empty";
    case VariantKind::Null:
      return "Null";
    case VariantKind::Bool:
      return "Boolean";
    case VariantKind::Int:
      return "Integer";
    case VariantKind::Double:
      return "Double";
    case VariantKind::String:
      return "String";
    case VariantKind::DateTime:
      return "Date";
    case VariantKind::Packet:
      return "Packet";
    case VariantKind::Array:
      return "Array";
    case VariantKind::BoolRef:
      return "Boolean reference";
    case VariantKind::StringRef:
      return "String reference";
  }
  return "Unknown";
}

Variant::Variant(DataPacket packet) : v_(std::make_shared<const DataPacket>(std::move(packet))) {}
Variant::Variant(std::shared_ptr<const DataPacket> packet) : v_(std::move(packet)) {
  if (!std::get<std::shared_ptr<const DataPacket>>(v_)) v_ = NullTag{};
}
Variant::Variant(VariantArray array) : v_(std::make_shared<const VariantArray>(std::move(array))) {}

std::int64_t Variant::ToInt64() const {
  switch (Kind()) {
    case VariantKind::Empty:
      return 0;
    case VariantKind::Bool:
      return std::get<bool>(v_) ? -1 : 0;
    case VariantKind::Int:
      return std::get<std::int64_t>(v_);
    case VariantKind::Double: {
      const double d = std::get<double>(v_);
      if (!std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18) ConversionError(Kind(), "Int64");
      return static_cast<std::int64_t>(std::nearbyint(d));
    }
    case VariantKind::String: {
      double d;
      if (!ParseNumber(std::get<std::string>(v_), &d) || d != std::floor(d) ||
          std::fabs(d) >= 9.2e18)
        ConversionError(Kind(), "Int64");
      return static_cast<std::int64_t>(d);
    }
    default:
      ConversionError(Kind(), "Int64");
  }
}

std::int32_t Variant::ToInt32() const {
  std::int64_t v;
  try {
    v = ToInt64();
  } catch (const VariantConversionError&) {
    ConversionError(Kind(), "Integer");
  }
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw VariantConversionError("Variant value " + std::to_string(v) +
                                 " is out of the range of a 32-bit integer");
  return static_cast<std::int32_t>(v);
}

double Variant::ToDouble() const {
  switch (Kind()) {
    case VariantKind::Empty:
      return 0;
    case VariantKind::Bool:
      return std::get<bool>(v_) ? -1 : 0;
    case VariantKind::Int:
      return static_cast<double>(std::get<std::int64_t>(v_));
    case VariantKind::Double:
      return std::get<double>(v_);
    case VariantKind::String: {
      double d;
      if (!ParseNumber(std::get<std::string>(v_), &d)) ConversionError(Kind(), "Double");
      return d;
    }
    case VariantKind::DateTime:
      // Days since 1899-12-30, the host platform's date serial.
      return static_cast<double>(std::get<DateTime>(v_).Millis()) / kMsPerDay + 25569.0;
    default:
      ConversionError(Kind(), "Double");
  }
}

std::string Variant::ToString() const {
  switch (Kind()) {
    case VariantKind::Empty:
      return "";
    case VariantKind::Bool:
      return std::get<bool>(v_) ? "True" : "False";
    case VariantKind::Int:
      return std::to_string(std::get<std::int64_t>(v_));
    case VariantKind::Double:
      return FormatDouble(std::get<double>(v_));
    case VariantKind::String:
      return std::get<std::string>(v_);
    case VariantKind::DateTime:
      return std::get<DateTime>(v_).ToIso();
    default:
      ConversionError(Kind(), "String");
  }
}

DateTime Variant::ToDateTime() const {
  switch (Kind()) {
    case VariantKind::Empty:
      return DateTime::FromMillis(DaysFromCivil(1899, 12, 30) * kMsPerDay);
    case VariantKind::DateTime:
      return std::get<DateTime>(v_);
    case VariantKind::Int:
    case VariantKind::Double: {
      const double days = ToDouble() - 25569.0;
      if (!std::isfinite(days) || std::fabs(days) > 4e6) ConversionError(Kind(), "Date");
      return DateTime::FromMillis(static_cast<std::int64_t>(std::llround(days * kMsPerDay)));
    }
    case VariantKind::String: {
      const std::string& s = std::get<std::string>(v_);
      DateTime d;
      if (DateTime::TryFromIso(s, &d)) return d;
      try {
        return DateTime::FromBrazilian(s);
      } catch (const Error&) {
        ConversionError(Kind(), "Date");
      }
    }
    default:
      ConversionError(Kind(), "Date");
  }
}

bool Variant::ToBool() const {
  switch (Kind()) {
    case VariantKind::Empty:
      return false;
    case VariantKind::Bool:
      return std::get<bool>(v_);
    case VariantKind::Int:
      return std::get<std::int64_t>(v_) != 0;
    case VariantKind::Double:
      return std::get<double>(v_) != 0;
    case VariantKind::String: {
      std::string s = std::get<std::string>(v_);
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (s == "true") return true;
      if (s == "false") return false;
      double d;
      if (ParseNumber(s, &d)) return d != 0;
      ConversionError(Kind(), "Boolean");
    }
    default:
      ConversionError(Kind(), "Boolean");
  }
}

const DataPacket& Variant::AsPacket() const {
  if (Kind() != VariantKind::Packet) ConversionError(Kind(), "Packet");
  return *std::get<std::shared_ptr<const DataPacket>>(v_);
}

std::shared_ptr<const DataPacket> Variant::PacketPtr() const {
  if (Kind() != VariantKind::Packet) ConversionError(Kind(), "Packet");
  return std::get<std::shared_ptr<const DataPacket>>(v_);
}

Variant Variant::RefTo(bool* variable) {
  Variant v;
  v.v_ = variable;
  return v;
}

Variant Variant::RefTo(std::string* variable) {
  Variant v;
  v.v_ = variable;
  return v;
}

bool* Variant::ToBoolRef() const {
  if (Kind() != VariantKind::BoolRef) ConversionError(Kind(), "Boolean reference");
  return std::get<bool*>(v_);
}

std::string* Variant::ToStringRef() const {
  if (Kind() != VariantKind::StringRef) ConversionError(Kind(), "String reference");
  return std::get<std::string*>(v_);
}

const VariantArray& Variant::AsArray() const {
  if (Kind() != VariantKind::Array) ConversionError(Kind(), "Array");
  return *std::get<std::shared_ptr<const VariantArray>>(v_);
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.Kind() != b.Kind()) return false;
  switch (a.Kind()) {
    case VariantKind::Packet:
      return a.AsPacket() == b.AsPacket();
    case VariantKind::Array:
      return a.AsArray() == b.AsArray();
    case VariantKind::Empty:
    case VariantKind::Null:
      return true;
    default:
      return a.v_ == b.v_;
  }
}

std::string Variant::DebugString() const {
  switch (Kind()) {
    case VariantKind::Empty:
      return "empty";
    case VariantKind::Null:
      return "null";
    case VariantKind::String:
      return "\"" + std::get<std::string>(v_) + "\"";
    case VariantKind::Packet:
      return "packet(rows=" + std::to_string(AsPacket().RowCount()) + ")";
    case VariantKind::Array: {
      std::string out = "[";
      for (const auto& item : AsArray().Items()) {
        if (out.size() > 1) out += ", ";
        out += item.DebugString();
      }
      return out + "]";
    }
    default:
      return ToString();
  }
}

VariantArray::VariantArray(int low, int high) : low_(low) {
  if (high < low - 1) throw VariantIndexError("invalid array bounds");
  items_.resize(static_cast<std::size_t>(high - low + 1));
}

VariantArray::VariantArray(std::vector<Variant> items, int low)
    : low_(low), items_(std::move(items)) {}

const Variant& VariantArray::At(int index) const {
  if (index < Low() || index > High())
    throw VariantIndexError("Variant array index " + std::to_string(index) + " outside bounds " +
                            std::to_string(Low()) + ".." + std::to_string(High()));
  return items_[static_cast<std::size_t>(index - low_)];
}

Variant& VariantArray::At(int index) {
  return const_cast<Variant&>(static_cast<const VariantArray&>(*this).At(index));
}

}  // namespace dg::data
