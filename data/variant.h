// Variant: the one typed value of the system, with an explicit empty and null.
//
// The launch array, every server argument and result, and every cell of a
// client dataset are made of variants. A variant is a value: copying it is
// cheap (strings are copied, packets and arrays are shared and immutable).
// Thread-compatible: const methods may be called from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "data/errors.h"

namespace dg::data {

struct DataPacket;
class VariantArray;

// A conversion a variant cannot make ("Could not convert variant of type
// (String) into type (Integer)").
class VariantConversionError : public Error {
 public:
  using Error::Error;
};

// An index outside an array's bounds; the text names index and bounds.
class VariantIndexError : public Error {
 public:
  using Error::Error;
};

// A calendar date and time of day without time zone, to the millisecond.
// Intentionally copyable.
class DateTime {
 public:
  DateTime() = default;
  // REQUIRES: a valid calendar date; throws Error otherwise.
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int millisecond = 0);
  // "YYYY-MM-DD", "YYYY-MM-DDTHH:MM:SS" or "YYYY-MM-DD HH:MM:SS[.mmm]".
  static DateTime FromIso(const std::string& text);
  // Non-throwing form of FromIso.
  static bool TryFromIso(const std::string& text, DateTime* out);
  // "dd/mm/yyyy" with an optional " hh:mm[:ss]", as a Brazilian clerk types.
  static DateTime FromBrazilian(const std::string& text);

  // Milliseconds since 1970-01-01T00:00:00 (negative before it).
  static DateTime FromMillis(std::int64_t ms) {
    DateTime d;
    d.ms_ = ms;
    return d;
  }
  std::int64_t Millis() const { return ms_; }

  int Year() const;
  int Month() const;
  int Day() const;
  int Hour() const;
  int Minute() const;
  int Second() const;

  // "YYYY-MM-DDTHH:MM:SS" (milliseconds added only when not zero).
  std::string ToIso() const;
  // "dd/mm/yyyy", with " hh:mm:ss" when the time is not midnight.
  std::string ToBrazilian() const;

  friend auto operator<=>(const DateTime&, const DateTime&) = default;

 private:
  std::int64_t ms_ = 0;
};

// BoolRef and StringRef carry a reference to a variable the caller owns (the
// host's result variables of a launch); they never travel over the wire.
enum class VariantKind {
  Empty,
  Null,
  Bool,
  Int,
  Double,
  String,
  DateTime,
  Packet,
  Array,
  BoolRef,
  StringRef
};

// Name of a kind as errors print it: "Empty", "Null", "Boolean", "Integer",
// "Double", "String", "Date", "Packet", "Array".
const char* KindName(VariantKind kind);

class Variant {
 public:
  struct NullTag {};

  Variant() = default;  // empty
  Variant(NullTag) : v_(NullTag{}) {}
  Variant(bool b) : v_(b) {}
  Variant(int i) : v_(static_cast<std::int64_t>(i)) {}
  Variant(std::int64_t i) : v_(i) {}
  Variant(double d) : v_(d) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(DateTime d) : v_(d) {}
  Variant(DataPacket packet);
  Variant(std::shared_ptr<const DataPacket> packet);
  Variant(VariantArray array);
  // REQUIRES: the variable outlives every copy of this variant.
  static Variant RefTo(bool* variable);
  static Variant RefTo(std::string* variable);

  static Variant Null() { return Variant(NullTag{}); }

  VariantKind Kind() const { return static_cast<VariantKind>(v_.index()); }
  bool IsEmpty() const { return Kind() == VariantKind::Empty; }
  bool IsNull() const { return Kind() == VariantKind::Null; }
  // Empty or null: "no value".
  bool IsEmptyOrNull() const { return IsEmpty() || IsNull(); }
  bool IsNumeric() const { return Kind() == VariantKind::Int || Kind() == VariantKind::Double; }

  // Conversions. Each throws VariantConversionError naming the value's kind
  // when the value cannot be converted. Empty converts to 0, "", false;
  // null converts to nothing (error), as the host platform does.
  std::int32_t ToInt32() const;  // also errors when out of 32-bit range
  std::int64_t ToInt64() const;
  double ToDouble() const;
  std::string ToString() const;  // numbers with '.' as decimal point
  DateTime ToDateTime() const;
  bool ToBool() const;
  // REQUIRES: Kind() == Packet, else VariantConversionError.
  const DataPacket& AsPacket() const;
  std::shared_ptr<const DataPacket> PacketPtr() const;
  // REQUIRES: Kind() == Array, else VariantConversionError.
  const VariantArray& AsArray() const;

  // Direct access without conversion or copy: the held value when the
  // variant holds exactly that kind, else nullptr.
  const std::string* IfString() const { return std::get_if<std::string>(&v_); }
  const double* IfDouble() const { return std::get_if<double>(&v_); }
  const std::int64_t* IfInt() const { return std::get_if<std::int64_t>(&v_); }
  const DateTime* IfDateTime() const { return std::get_if<DateTime>(&v_); }
  // REQUIRES: Kind() == BoolRef / StringRef, else VariantConversionError.
  bool* ToBoolRef() const;
  std::string* ToStringRef() const;

  // Structural equality (packets and arrays compare by content).
  friend bool operator==(const Variant& a, const Variant& b);

  // A compact text for traces and test failures: 12, 1.5, "abc", null, empty,
  // 2024-01-02T00:00:00, packet(rows=3), [1, "a"].
  std::string DebugString() const;

 private:
  std::variant<std::monostate, NullTag, bool, std::int64_t, double, std::string, DateTime,
               std::shared_ptr<const DataPacket>, std::shared_ptr<const VariantArray>, bool*,
               std::string*>
      v_;
};

// A one-dimensional variant array with its own lower and upper bound
// (an array built with bounds 0..5 has six elements). Intentionally copyable.
class VariantArray {
 public:
  VariantArray() = default;
  // REQUIRES: high >= low - 1.
  VariantArray(int low, int high);
  explicit VariantArray(std::vector<Variant> items, int low = 0);

  int Low() const { return low_; }
  int High() const { return low_ + static_cast<int>(items_.size()) - 1; }
  int Count() const { return static_cast<int>(items_.size()); }

  // Throws VariantIndexError ("index 6 outside bounds 0..5") when out of range.
  const Variant& At(int index) const;
  Variant& At(int index);
  const Variant& operator[](int index) const { return At(index); }
  Variant& operator[](int index) { return At(index); }

  const std::vector<Variant>& Items() const { return items_; }

  friend bool operator==(const VariantArray&, const VariantArray&) = default;

 private:
  int low_ = 0;
  std::vector<Variant> items_;
};

}  // namespace dg::data
