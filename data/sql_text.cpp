#include "data/sql_text.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "data/errors.h"

namespace dg::data {
namespace {

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

bool IsPostgresUrl(std::string_view db) {
  return db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0;
}

NumberedSql NumberSqlParams(const std::string& sql, SqlParamStyle style) {
  NumberedSql out;
  out.text.reserve(sql.size() + 16);
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= sql.size()) throw Error("unclosed quote in [" + sql + "]");
        if (sql[j] != c) continue;
        if (j + 1 < sql.size() && sql[j + 1] == c) {
          ++j;
          continue;
        }
        break;
      }
      out.text.append(sql, i, j - i + 1);
      i = j;
      continue;
    }
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const std::size_t end = sql.find('\n', i);
      const std::size_t stop = end == std::string::npos ? sql.size() : end;
      out.text.append(sql, i, stop - i);
      i = stop - 1;
      continue;
    }
    if (style == SqlParamStyle::kPositional && c == '?') {
      out.text += "$" + std::to_string(++out.count);
      continue;
    }
    if (style == SqlParamStyle::kNamed && c == ':') {
      if (i + 1 < sql.size() && sql[i + 1] == ':') {
        out.text += "::";
        ++i;
        continue;
      }
      std::size_t end = i + 1;
      while (end < sql.size() && IsNameChar(sql[end])) ++end;
      if (end > i + 1) {
        const std::string name = sql.substr(i + 1, end - i - 1);
        std::size_t n = 0;
        while (n < out.names.size() && !SameName(out.names[n], name)) ++n;
        if (n == out.names.size()) out.names.push_back(name);
        out.text += "$" + std::to_string(n + 1);
        i = end - 1;
        continue;
      }
    }
    out.text += c;
  }
  if (style == SqlParamStyle::kNamed) out.count = static_cast<int>(out.names.size());
  return out;
}

std::optional<std::string> SqlParamText(const Variant& value) {
  switch (value.Kind()) {
    case VariantKind::Empty:
    case VariantKind::Null:
      return std::nullopt;
    case VariantKind::Bool:
    case VariantKind::Int:
      return std::to_string(value.ToInt64());
    case VariantKind::Double: {
      const double d = value.ToDouble();
      if (std::isnan(d)) return "NaN";
      if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
      char buffer[64];
      return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, d).ptr);
    }
    case VariantKind::DateTime:
      return value.ToDateTime().ToIso();
    case VariantKind::String: {
      std::string text = value.ToString();
      if (text.find('\0') != std::string::npos) {
        throw Error("a text holding a NUL character cannot be sent to the database");
      }
      return text;
    }
    case VariantKind::Packet:
    case VariantKind::Array:
    case VariantKind::BoolRef:
    case VariantKind::StringRef:
      break;
  }
  throw Error(std::string("a value of kind ") + KindName(value.Kind()) +
              " cannot be sent to the database as one cell");
}

}  // namespace dg::data
