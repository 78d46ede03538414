#include "data/mask.h"

#include <cctype>

#include "data/errors.h"

namespace dg::data {
namespace {

// Splits a text into its UTF-8 characters.
std::vector<std::string> Characters(std::string_view text) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
    out.emplace_back(text.substr(i, n));
    i += n;
  }
  return out;
}

// The code point of one UTF-8 character (a malformed one reads as U+FFFD).
char32_t CodePoint(const std::string& ch) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(ch[i]); };
  if (ch.size() == 1) return b(0);
  // A run of more than three continuation bytes is no character (and would
  // shift the lead byte's mask out of range).
  if (ch.size() > 4) return 0xFFFD;
  char32_t c = b(0) & (0xFFu >> (ch.size() + 1));
  for (std::size_t i = 1; i < ch.size(); ++i) c = (c << 6) | (b(i) & 0x3F);
  return c;
}

bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }
// Letters: ASCII letters and the accented letters of Latin-1 and beyond; a
// broken character (U+FFFD) is none.
bool IsLetter(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= 0xC0 && c != 0xD7 && c != 0xF7 && c != 0xFFFD);
}

bool Fits(char slot, char32_t c) {
  switch (slot) {
    case '0':
    case '9':
      return IsDigit(c);
    case 'L':
    case 'l':
      return IsLetter(c);
    case 'A':
    case 'a':
      return IsLetter(c) || IsDigit(c);
    case '#':
      return IsDigit(c) || c == '+' || c == '-';
    default:
      return c >= ' ';  // 'C', 'c'
  }
}

std::string ChangeCase(const std::string& ch, int case_change) {
  if (case_change == 0 || ch.size() != 1) return ch;
  const unsigned char c = static_cast<unsigned char>(ch[0]);
  return std::string(1, static_cast<char>(case_change > 0 ? std::toupper(c) : std::tolower(c)));
}

}  // namespace

EditMask::EditMask(std::string_view mask) : mask_(mask) {
  // Pattern up to the first ';' that is not escaped, then the literal flag,
  // then the blank character.
  std::size_t i = 0;
  int case_change = 0;
  for (; i < mask.size() && mask[i] != ';'; ++i) {
    const char c = mask[i];
    Position p;
    switch (c) {
      case '!':
        leading_blanks_ = true;
        continue;
      case '>':
        case_change = 1;
        continue;
      case '<':
        if (i + 1 < mask.size() && mask[i + 1] == '>') {
          case_change = 0;
          ++i;
        } else {
          case_change = -1;
        }
        continue;
      case '\\':
        if (i + 1 >= mask.size())
          throw Error("invalid edit mask \"" + mask_ + "\": it ends with \\");
        ++i;
        p.literal = true;
        break;
      case '0':
      case '9':
      case 'L':
      case 'l':
      case 'A':
      case 'a':
      case 'C':
      case 'c':
      case '#':
        p.slot = c;
        p.case_change = case_change;
        break;
      default:
        p.literal = true;
        break;
    }
    if (p.literal) {
      std::size_t n = 1;
      while (i + n < mask.size() && (static_cast<unsigned char>(mask[i + n]) & 0xC0) == 0x80) ++n;
      p.text = std::string(mask.substr(i, n));
      i += n - 1;
    }
    positions_.push_back(std::move(p));
  }
  pattern_ = std::string(mask.substr(0, i));
  if (i < mask.size()) {  // the literal flag
    const std::size_t end = std::min(mask.find(';', i + 1), mask.size());
    const std::string_view flag = mask.substr(i + 1, end - i - 1);
    if (flag != "0" && flag != "1" && !flag.empty())
      throw Error("invalid edit mask \"" + mask_ + "\": literal flag must be 0 or 1");
    keep_literals_ = flag != "0";
    if (end < mask.size()) {
      const std::string_view blank = mask.substr(end + 1);
      if (blank.size() > 1)
        throw Error("invalid edit mask \"" + mask_ + "\": blank must be one character");
      if (blank.size() == 1) blank_ = blank[0];
    }
  }
}

std::string EditMask::Format(std::string_view value) const {
  std::vector<std::string> chars = Characters(value);
  if (!keep_literals_) return FormatSlots(chars);
  // The value carries the literals: one character per position; with
  // leading blanks a short value fills the last positions.
  if (leading_blanks_ && chars.size() < positions_.size())
    chars.insert(chars.begin(), positions_.size() - chars.size(), std::string(1, blank_));
  std::string text;
  for (std::size_t i = 0; i < positions_.size(); ++i) {
    const Position& p = positions_[i];
    if (p.literal)
      text += p.text;
    else
      text += i < chars.size() && chars[i] != " " && chars[i] != std::string(1, blank_)
                  ? ChangeCase(chars[i], p.case_change)
                  : std::string(1, blank_);
  }
  return text;
}

std::string EditMask::FormatSlots(const std::vector<std::string>& chars) const {
  std::size_t slots = 0;
  for (const Position& p : positions_) slots += !p.literal;
  const std::size_t filled = std::min(chars.size(), slots);
  // Leading blanks: an incomplete value fills the last slots.
  std::size_t skip = leading_blanks_ ? slots - filled : 0;
  std::size_t next = 0;
  std::string text;
  for (const Position& p : positions_) {
    if (p.literal) {
      text += p.text;
    } else if (skip > 0) {
      --skip;
      text += blank_;
    } else {
      text += next < filled ? ChangeCase(chars[next++], p.case_change) : std::string(1, blank_);
    }
  }
  return text;
}

std::string EditMask::Type(std::string_view typed) const {
  std::vector<std::string> taken;
  std::size_t at = 0;
  for (const std::string& ch : Characters(typed)) {
    while (at < positions_.size() && positions_[at].literal && positions_[at].text != ch) ++at;
    if (at >= positions_.size()) break;
    if (positions_[at].literal) {
      ++at;  // taken as the literal it equals
    } else if (Fits(positions_[at].slot, CodePoint(ch))) {
      taken.push_back(ch);
      ++at;
    }
  }
  return FormatSlots(taken);
}

std::string EditMask::Yield(std::string_view displayed) const {
  const std::vector<std::string> chars = Characters(displayed);
  const std::string blank(1, blank_);
  std::string out;
  for (std::size_t i = 0; i < positions_.size(); ++i) {
    const Position& p = positions_[i];
    const std::string ch = i < chars.size() ? chars[i] : blank;
    if (p.literal) {
      if (keep_literals_) out += p.text;
    } else if (ch == blank) {
      if (keep_literals_) out += ' ';
    } else {
      out += ch;
    }
  }
  return out;
}

bool EditMask::Accepts(std::size_t position, char32_t c) const {
  if (position >= positions_.size() || positions_[position].literal) return false;
  return Fits(positions_[position].slot, c);
}

}  // namespace dg::data
