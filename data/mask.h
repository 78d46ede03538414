// Edit masks of the host toolkit: "!999;1; ", "lll 9999;0; ",
// "99.999.999/9999-99;0; ", "999.999.999-99;0; ".
//
// A mask has up to three sections separated by ';': the pattern, whether the
// literal characters are kept in the text the edit yields ("1") or not ("0"),
// and the blank character shown for unfilled positions. Pattern characters:
// "0" digit required, "9" digit optional, "L" letter required, "l" letter
// optional, "A" alphanumeric required, "a" optional, "C" any character
// required, "c" optional, "#" digit or sign optional, ">" upper-case from
// here, "<" lower-case from here, "<>" no case change, "!" leading blanks
// (optional positions not filled are shown at the start), "\" the next
// character is a literal; every other character is a literal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dg::data {

class EditMask {
 public:
  // Throws Error on a malformed mask (e.g. a trailing "\").
  explicit EditMask(std::string_view mask);

  bool KeepLiterals() const { return keep_literals_; }
  char Blank() const { return blank_; }
  const std::string& Mask() const { return mask_; }

  // The displayed text for a bare value (the value without literals, or with
  // them when the mask keeps literals): characters placed into the editable
  // positions, literals inserted, unfilled positions shown as the blank.
  std::string Format(std::string_view value) const;
  // The text the edit yields from a displayed text: with or without the
  // literal characters as the second section says; unfilled positions are
  // dropped (or kept as blanks when literals are kept).
  std::string Yield(std::string_view displayed) const;
  // Whether a typed character fits the position it would go into.
  bool Accepts(std::size_t position, char32_t c) const;
  // The displayed text after the user types `typed` into the empty edit, one
  // character after the other, as a masked edit takes them: a character
  // equal to the literal of the next position is taken as that literal (a
  // literal it does not equal is filled in and passed over); an editable
  // position takes a character it accepts and refuses any other; characters
  // beyond the last position are refused. With leading blanks ("!") a short
  // entry then moves to the last positions, as Format places it.
  std::string Type(std::string_view typed) const;

 private:
  // One position of the pattern: a literal or an editable slot.
  struct Position {
    bool literal = false;
    std::string text;     // the literal character (UTF-8)
    char slot = 0;        // the pattern character of a slot
    int case_change = 0;  // >0 upper, <0 lower
  };

  // The displayed text for the characters of the editable positions, in
  // order (at most one per position).
  std::string FormatSlots(const std::vector<std::string>& chars) const;

  std::string mask_;
  std::vector<Position> positions_;
  bool leading_blanks_ = false;
  std::string pattern_;
  bool keep_literals_ = true;
  char blank_ = '_';
};

}  // namespace dg::data
