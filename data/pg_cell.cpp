#include "data/pg_cell.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace dg::data {

namespace {

// Type identifiers of the built-in types (pg_type.oid).
enum : unsigned int {
  kBool = 16,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kOid = 26,
  kFloat4 = 700,
  kFloat8 = 701,
  kNumeric = 1700
};

}  // namespace

Variant PgCell(const char* text, int length, unsigned int type_oid) {
  switch (type_oid) {
    case kBool:
      return Variant(static_cast<std::int64_t>(text[0] == 't' ? 1 : 0));
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: {
      std::int64_t n = 0;
      std::from_chars(text, text + length, n);
      return Variant(n);
    }
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return Variant(std::strtod(text, nullptr));
    default:
      return Variant(std::string(text, static_cast<std::size_t>(length)));
  }
}

}  // namespace dg::data
