// A JSON reader that hands its events to a handler with the interface of
// nlohmann-json's SAX handlers (null, boolean, number_integer,
// number_unsigned, number_float, string, key, start_object, start_array,
// end_object, end_array), for the call bodies and answers that carry
// fleet-sized packets: the library's own lexer keeps a copy of every token
// and reads the input a character at a time through an adapter, which made
// up most of the time a packet took to read.
//
// It reads strict JSON (RFC 8259) only, and of that a little less than the
// library: a number that overflows its integer type or a double, and a
// leading byte order mark, are not read. Whatever it reads, the library
// reads to the same events with the same values, in the same order; where
// it stops (malformed text, a form it leaves out, or a handler answering
// false) it answers false and the caller reads the text the general way.
// The handler's parse_error is never called.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "data/utf8.h"

namespace dg::data {

namespace json_events_detail {

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads four hex digits at p (end not passed); -1 when they are not.
inline int Hex4(const char* p, const char* end) {
  if (end - p < 4) return -1;
  int v = 0;
  for (int i = 0; i < 4; ++i) {
    const int d = HexDigit(p[i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

inline bool InRange(const char* p, unsigned char low, unsigned char high) {
  const auto u = static_cast<unsigned char>(*p);
  return u >= low && u <= high;
}

// The length of the well-formed UTF-8 sequence (RFC 3629) that starts at p
// with a byte above 0x7F, or 0 when it is not one.
inline std::size_t Utf8Sequence(const char* p, const char* end) {
  const auto lead = static_cast<unsigned char>(*p);
  const std::ptrdiff_t left = end - p;
  auto tail = [&](std::ptrdiff_t i) { return InRange(p + i, 0x80, 0xBF); };
  if (lead >= 0xC2 && lead <= 0xDF) return left >= 2 && tail(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3) return 0;
    const bool second = lead == 0xE0   ? InRange(p + 1, 0xA0, 0xBF)
                        : lead == 0xED ? InRange(p + 1, 0x80, 0x9F)
                                       : tail(1);
    return second && tail(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (left < 4) return 0;
    const bool second = lead == 0xF0   ? InRange(p + 1, 0x90, 0xBF)
                        : lead == 0xF4 ? InRange(p + 1, 0x80, 0x8F)
                                       : tail(1);
    return second && tail(2) && tail(3) ? 4 : 0;
  }
  return 0;
}

// Reads the string whose opening quote is at p[-1] into out; leaves p after
// the closing quote. False on anything JSON does not allow in a string.
inline bool ReadString(const char*& p, const char* end, std::string& out) {
  out.clear();
  const char* run = p;
  while (p < end) {
    const auto u = static_cast<unsigned char>(*p);
    if (u >= 0x20 && u < 0x80 && u != '"' && u != '\\') {
      ++p;
      continue;
    }
    out.append(run, static_cast<std::size_t>(p - run));
    if (u == '"') {
      ++p;
      return true;
    }
    if (u < 0x20) return false;
    if (u >= 0x80) {
      const std::size_t n = Utf8Sequence(p, end);
      if (n == 0) return false;
      out.append(p, n);
      p += n;
      run = p;
      continue;
    }
    // An escape.
    if (end - p < 2) return false;
    const char e = p[1];
    p += 2;
    switch (e) {
      case '"':
      case '\\':
      case '/':
        out.push_back(e);
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        const int first = Hex4(p, end);
        if (first < 0) return false;
        p += 4;
        std::uint32_t cp = static_cast<std::uint32_t>(first);
        if (first >= 0xDC00 && first <= 0xDFFF) return false;  // a low surrogate alone
        if (first >= 0xD800 && first <= 0xDBFF) {
          // A high surrogate must be followed by its low one.
          if (end - p < 6 || p[0] != '\\' || p[1] != 'u') return false;
          const int second = Hex4(p + 2, end);
          if (second < 0xDC00 || second > 0xDFFF) return false;
          p += 6;
          cp = 0x10000 + ((cp - 0xD800) << 10) + static_cast<std::uint32_t>(second - 0xDC00);
        }
        AppendUtf8(out, cp);
        break;
      }
      default:
        return false;
    }
    run = p;
  }
  return false;
}

}  // namespace json_events_detail

// Reads `text` as one JSON document (blanks around it allowed) and hands
// its events to `handler`; true when the text was read whole and every
// event answered true. `max_depth` bounds the nesting of arrays and objects
// (deeper text answers false), so the reader's own stack stays small.
template <class Handler>
bool ReadJsonEvents(std::string_view text, Handler& handler, int max_depth = 64) {
  using namespace json_events_detail;
  const char* p = text.data();
  const char* const end = p + text.size();
  // Open containers: true for an object.
  std::vector<bool> open;
  std::string buffer;
  auto blanks = [&] {
    while (p < end && IsBlank(*p)) ++p;
  };
  auto literal = [&](std::string_view word) {
    if (static_cast<std::size_t>(end - p) < word.size() ||
        std::string_view(p, word.size()) != word) {
      return false;
    }
    p += word.size();
    return true;
  };
  // A number: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
  auto number = [&] {
    const char* start = p;
    const bool negative = *p == '-';
    if (negative) ++p;
    if (p == end) return false;
    if (*p == '0') {
      ++p;
    } else if (*p >= '1' && *p <= '9') {
      while (p < end && *p >= '0' && *p <= '9') ++p;
    } else {
      return false;
    }
    bool whole = true;
    if (p < end && *p == '.') {
      whole = false;
      ++p;
      if (p == end || *p < '0' || *p > '9') return false;
      while (p < end && *p >= '0' && *p <= '9') ++p;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
      whole = false;
      ++p;
      if (p < end && (*p == '+' || *p == '-')) ++p;
      if (p == end || *p < '0' || *p > '9') return false;
      while (p < end && *p >= '0' && *p <= '9') ++p;
    }
    if (whole && negative) {
      std::int64_t v = 0;
      const auto r = std::from_chars(start, p, v);
      if (r.ec != std::errc() || r.ptr != p) return false;
      return static_cast<bool>(handler.number_integer(v));
    }
    if (whole) {
      std::uint64_t v = 0;
      const auto r = std::from_chars(start, p, v);
      if (r.ec != std::errc() || r.ptr != p) return false;
      return static_cast<bool>(handler.number_unsigned(v));
    }
    double v = 0;
    const auto r = std::from_chars(start, p, v);
    if (r.ec != std::errc() || r.ptr != p) return false;
    static const std::string kNoToken;
    return static_cast<bool>(handler.number_float(v, kNoToken));
  };

  blanks();
  for (;;) {
    // A value.
    if (p == end) return false;
    const char c = *p;
    if (c == '{' || c == '[') {
      const bool object = c == '{';
      if (static_cast<int>(open.size()) >= max_depth) return false;
      ++p;
      if (!(object ? handler.start_object(static_cast<std::size_t>(-1))
                   : handler.start_array(static_cast<std::size_t>(-1)))) {
        return false;
      }
      blanks();
      if (p < end && *p == (object ? '}' : ']')) {
        ++p;
        if (!(object ? handler.end_object() : handler.end_array())) return false;
      } else {
        open.push_back(object);
        if (object) {
          // The first key.
          if (p == end || *p != '"') return false;
          ++p;
          if (!ReadString(p, end, buffer) || !handler.key(buffer)) return false;
          blanks();
          if (p == end || *p != ':') return false;
          ++p;
        }
        blanks();
        continue;
      }
    } else if (c == '"') {
      ++p;
      if (!ReadString(p, end, buffer) || !handler.string(buffer)) return false;
    } else if (c == 't') {
      if (!literal("true") || !handler.boolean(true)) return false;
    } else if (c == 'f') {
      if (!literal("false") || !handler.boolean(false)) return false;
    } else if (c == 'n') {
      if (!literal("null") || !handler.null()) return false;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      if (!number()) return false;
    } else {
      return false;
    }
    // After a value: the next member or item, or the end of containers.
    for (;;) {
      blanks();
      if (open.empty()) return p == end;
      if (p == end) return false;
      const bool object = open.back();
      if (*p == ',') {
        ++p;
        blanks();
        if (object) {
          if (p == end || *p != '"') return false;
          ++p;
          if (!ReadString(p, end, buffer) || !handler.key(buffer)) return false;
          blanks();
          if (p == end || *p != ':') return false;
          ++p;
          blanks();
        }
        break;  // the next value
      }
      if (*p != (object ? '}' : ']')) return false;
      ++p;
      open.pop_back();
      if (!(object ? handler.end_object() : handler.end_array())) return false;
    }
  }
}

}  // namespace dg::data
