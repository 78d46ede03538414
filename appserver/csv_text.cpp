#include "appserver/csv_text.h"

#include <algorithm>
#include <cctype>

#include "data/format.h"
#include "data/variant.h"

namespace dg::server::csv {
namespace {

// Windows-1252 bytes 0x80..0x9F (0 where the code page defines none); the
// bytes from 0xA0 up are the Unicode code points of the same value.
constexpr char32_t kHigh1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the valid UTF-8 sequence at `i`, 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  if (b < 0x80) return 1;
  std::size_t n = 0;
  char32_t cp = 0, min = 0;
  if ((b & 0xE0) == 0xC0) {
    n = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceAt(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

int LineAt(std::string_view s, std::size_t offset) {
  return 1 + static_cast<int>(std::count(s.begin(), s.begin() + offset, '\n'));
}

std::string Hex(unsigned char b) {
  static const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `n` digits at `i` (n == 0: one or two).
bool Digits(std::string_view t, std::size_t& i, int n, int* out) {
  const std::size_t start = i;
  const std::size_t max = n == 0 ? 2 : static_cast<std::size_t>(n);
  int value = 0;
  while (i < t.size() && i - start < max && IsDigit(t[i])) value = value * 10 + (t[i++] - '0');
  const std::size_t got = i - start;
  if (got == 0 || (n != 0 && got != static_cast<std::size_t>(n))) return false;
  *out = value;
  return true;
}

// "hh:mm[:ss[.fff]]" from `i` to the end.
bool TimeOfDay(std::string_view t, std::size_t i, int* h, int* mi, int* s) {
  if (!Digits(t, i, 2, h) || i >= t.size() || t[i++] != ':' || !Digits(t, i, 2, mi)) return false;
  *s = 0;
  if (i < t.size()) {
    if (t[i++] != ':' || !Digits(t, i, 2, s)) return false;
    if (i < t.size() && t[i] == '.') {
      for (++i; i < t.size() && IsDigit(t[i]);) ++i;
    }
  }
  return i == t.size();
}

}  // namespace

std::string ShortQuote(std::string_view text) {
  std::size_t end = 0, points = 0;
  while (end < text.size() && points < kQuotedPoints) {
    ++points;
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  if (end == text.size()) return "\"" + std::string(text) + "\"";
  return "\"" + std::string(text.substr(0, end)) + "…\" (" + std::to_string(text.size()) +
         " bytes)";
}

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  const auto blank_at = [&](std::size_t i, bool from_end) -> std::size_t {
    if (!from_end) {
      if (text[i] == ' ' || text[i] == '\t') return 1;
      if (i + 1 < text.size() && text[i] == '\xC2' && text[i + 1] == '\xA0') return 2;
      return 0;
    }
    if (text[i - 1] == ' ' || text[i - 1] == '\t') return 1;
    if (i >= 2 && text[i - 2] == '\xC2' && text[i - 1] == '\xA0') return 2;
    return 0;
  };
  while (b < e) {
    const std::size_t n = blank_at(b, false);
    if (n == 0) break;
    b += n;
  }
  while (e > b) {
    const std::size_t n = blank_at(e, true);
    if (n == 0) break;
    e -= n;
  }
  return std::string(text.substr(b, e - b));
}

std::string DecodeText(std::string_view bytes, Encoding* encoding) {
  const auto starts = [&](std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
  };
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    throw CsvError(0, "o arquivo é texto UTF-16; salve-o como CSV UTF-8 ou como CSV simples");
  }
  if (starts("PK\x03\x04") || starts("\xD0\xCF\x11\xE0")) {
    throw CsvError(0, "o arquivo é uma pasta de trabalho, não CSV; salve a planilha como CSV");
  }
  if (const auto nul = bytes.find('\0'); nul != std::string_view::npos) {
    throw CsvError(LineAt(bytes, nul), "o arquivo contém um byte NUL: não é texto");
  }
  if (starts("\xEF\xBB\xBF")) {
    const std::string_view rest = bytes.substr(3);
    if (!ValidUtf8(rest)) {
      for (std::size_t i = 0; i < rest.size();) {
        const std::size_t n = Utf8SequenceAt(rest, i);
        if (n == 0) {
          throw CsvError(LineAt(bytes, i + 3), "o arquivo está marcado como UTF-8, mas o byte " +
                                                   Hex(static_cast<unsigned char>(rest[i])) +
                                                   " não é UTF-8");
        }
        i += n;
      }
    }
    if (encoding) *encoding = Encoding::Utf8WithBom;
    return std::string(rest);
  }
  if (ValidUtf8(bytes)) {
    if (encoding) *encoding = Encoding::Utf8;
    return std::string(bytes);
  }
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else if (b >= 0xA0) {
      AppendUtf8(out, b);
    } else if (kHigh1252[b - 0x80] != 0) {
      AppendUtf8(out, kHigh1252[b - 0x80]);
    } else {
      throw CsvError(LineAt(bytes, i),
                     "o byte " + Hex(b) + " não é UTF-8 nem um caractere Windows-1252");
    }
  }
  if (encoding) *encoding = Encoding::Windows1252;
  return out;
}

Table ParseTable(const std::string& text) {
  Table table;
  std::size_t pos = 0;
  int line = 1;
  // The separator: named by a "sep=X" line, else the one the header uses.
  const std::size_t first_end = text.find_first_of("\r\n");
  const std::string first = text.substr(0, first_end);
  if (first.size() == 5 && (first.rfind("sep=", 0) == 0 || first.rfind("SEP=", 0) == 0)) {
    table.separator = first[4];
    pos = first_end == std::string::npos ? text.size() : first_end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    line = 2;
  } else {
    int semicolons = 0, commas = 0, tabs = 0;
    bool quoted = false;
    for (char c : first) {
      if (c == '"') quoted = !quoted;
      if (quoted) continue;
      semicolons += c == ';';
      commas += c == ',';
      tabs += c == '\t';
    }
    table.separator = semicolons > 0 ? ';' : commas > 0 ? ',' : tabs > 0 ? '\t' : ';';
  }

  const char sep = table.separator;
  bool have_header = false;
  while (pos < text.size()) {
    Record record;
    record.line = line;
    std::string cell;
    bool cell_quoted = false;
    bool end_of_record = false;
    while (pos < text.size() && !end_of_record) {
      const char c = text[pos];
      if (c == '"' && cell.empty() && !cell_quoted) {
        // A quoted cell: runs to the closing quote, "" standing for one.
        cell_quoted = true;
        const int opened = line;
        ++pos;
        for (;;) {
          if (pos >= text.size()) {
            throw CsvError(
                opened, "uma aspa aberta na linha " + std::to_string(opened) + " nunca se fecha");
          }
          const char q = text[pos];
          if (q == '"') {
            if (pos + 1 < text.size() && text[pos + 1] == '"') {
              cell += '"';
              pos += 2;
              continue;
            }
            ++pos;
            break;
          }
          if (q == '\n' || (q == '\r' && (pos + 1 >= text.size() || text[pos + 1] != '\n'))) {
            ++line;
          }
          cell += q;
          ++pos;
        }
      } else if (c == sep) {
        record.cells.push_back(std::move(cell));
        cell.clear();
        cell_quoted = false;
        ++pos;
      } else if (c == '\r' || c == '\n') {
        pos += (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
        ++line;
        end_of_record = true;
      } else {
        cell += c;
        ++pos;
      }
    }
    record.cells.push_back(std::move(cell));
    if (!have_header) {
      table.header = std::move(record);
      have_header = true;
      continue;
    }
    const bool blank = std::all_of(record.cells.begin(), record.cells.end(),
                                   [](const std::string& x) { return Trim(x).empty(); });
    if (!blank) table.records.push_back(std::move(record));
  }
  if (!have_header || std::all_of(table.header.cells.begin(), table.header.cells.end(),
                                  [](const std::string& x) { return Trim(x).empty(); })) {
    throw CsvError(0, "o arquivo está vazio: a primeira linha deve nomear as colunas");
  }
  return table;
}

std::optional<double> ParseDecimal(std::string_view text, DecimalMark mark) {
  const std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  const data::NumberSeparators brazilian{',', '.'}, international{'.', ','};
  // Read with these separators; a thousands group never starts with a zero
  // ("0.024" is not 24).
  const auto read = [&](const data::NumberSeparators& seps) -> std::optional<double> {
    const auto group = t.find(seps.thousands);
    if (group != std::string::npos && group < t.find(seps.decimal)) {
      const std::size_t lead = t[0] == '-' || t[0] == '+' ? 1 : 0;
      if (lead < t.size() && t[lead] == '0') return std::nullopt;
    }
    return data::ParseNumber(t, seps);
  };
  const auto comma = t.rfind(','), point = t.rfind('.');
  if (comma != std::string::npos && point != std::string::npos) {
    return read(comma > point ? brazilian : international);
  }
  const auto& first = mark == DecimalMark::Comma ? brazilian : international;
  const auto& second = mark == DecimalMark::Comma ? international : brazilian;
  if (auto v = read(first)) return v;
  return read(second);
}

DecimalMark GuessDecimalMark(const std::vector<std::string_view>& numbers, char separator) {
  bool comma_seen = false, point_seen = false;
  for (std::string_view raw : numbers) {
    const std::string t = Trim(raw);
    const auto commas = std::count(t.begin(), t.end(), ','),
               points = std::count(t.begin(), t.end(), '.');
    if (commas > 0 && points > 0) {
      (t.rfind(',') > t.rfind('.') ? comma_seen : point_seen) = true;
      continue;
    }
    if (commas + points == 0) continue;
    const char mark = commas > 0 ? ',' : '.';
    if (commas + points > 1) {
      // Only a thousands separator repeats.
      (mark == ',' ? point_seen : comma_seen) = true;
      continue;
    }
    // One mark: a thousands separator has three digits after it and a
    // significant digit before it; anything else is a decimal mark.
    const std::size_t at = t.find(mark);
    const std::string before = t.substr(0, at);
    const std::string lead = before.empty() || before[0] == '-' || before[0] == '+'
                                 ? before.substr(before.empty() ? 0 : 1)
                                 : before;
    const bool could_group =
        t.size() - at - 1 == 3 && !lead.empty() && lead != "0" && lead.size() <= 3;
    if (!could_group) (mark == ',' ? comma_seen : point_seen) = true;
  }
  if (comma_seen != point_seen) return comma_seen ? DecimalMark::Comma : DecimalMark::Point;
  return separator == ',' ? DecimalMark::Point : DecimalMark::Comma;
}

std::optional<std::string> ParseDate(std::string_view text) {
  const std::string t = Trim(text);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  std::size_t i = 0;
  bool ok = false;
  if (t.find('/') != std::string::npos) {
    ok = Digits(t, i, 0, &d) && i < t.size() && t[i++] == '/' && Digits(t, i, 0, &mo) &&
         i < t.size() && t[i++] == '/' && Digits(t, i, 4, &y);
    if (ok && i < t.size()) {
      std::size_t k = i;
      while (k < t.size() && t[k] == ' ') ++k;
      ok = k > i && TimeOfDay(t, k, &h, &mi, &s);
    } else if (ok) {
      ok = i == t.size();
    }
  } else {
    ok = Digits(t, i, 4, &y) && i < t.size() && t[i++] == '-' && Digits(t, i, 2, &mo) &&
         i < t.size() && t[i++] == '-' && Digits(t, i, 2, &d);
    if (ok && i < t.size()) {
      ok = (t[i] == 'T' || t[i] == ' ') && TimeOfDay(t, i + 1, &h, &mi, &s);
    } else if (ok) {
      ok = i == t.size();
    }
  }
  if (!ok || y < 1000 || h > 23 || mi > 59 || s > 59) return std::nullopt;
  try {
    return data::DateTime::FromParts(y, mo, d, h, mi, s).ToIso();
  } catch (const Error&) {
    return std::nullopt;
  }
}

std::string QuoteCell(const std::string& cell, char separator) {
  if (cell.find_first_of(std::string("\"\r\n") + separator) == std::string::npos) return cell;
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace dg::server::csv
