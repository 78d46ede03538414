// Reading the CSV files that spreadsheets write: the text's encoding, its
// records, and the numbers and dates of its cells as Brazilian and
// international spreadsheets write them.
//
// Pure functions of their inputs; thread-compatible.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/errors.h"

namespace dg::server::csv {

// A file that cannot be read as CSV text at all (its encoding, an open
// quote); `line` is the 1-based line where the reader stopped, 0 for the
// whole file.
class CsvError : public Error {
 public:
  CsvError(int line, const std::string& what) : Error(what), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

enum class Encoding { Utf8, Utf8WithBom, Windows1252 };

// The file's bytes as UTF-8: a UTF-8 byte-order mark is dropped; bytes that
// are not valid UTF-8 are read as Windows-1252 (what spreadsheets on Windows
// write as plain "CSV"). CsvError for UTF-16 text, a spreadsheet workbook,
// a NUL byte, or a byte Windows-1252 leaves undefined.
std::string DecodeText(std::string_view bytes, Encoding* encoding = nullptr);

// One record as it stands in the file: `line` is the line where it starts
// (a quoted cell may run over several lines).
struct Record {
  int line = 0;
  std::vector<std::string> cells;
};

struct Table {
  char separator = ';';
  Record header;
  std::vector<Record> records;  // blank records (every cell empty) left out
};

// Splits UTF-8 text into records. The separator is the one the header line
// uses: ";" when it holds one, else "," or a tab; a first line "sep=X" (as
// some spreadsheets write) names it and is skipped. Quoted cells follow the
// usual rules ("" for a quote inside); lines end with CR LF, LF or CR.
// CsvError for an empty text or a quote left open.
Table ParseTable(const std::string& text);

// The decimal mark a file's numbers use.
enum class DecimalMark { Comma, Point };

// Reads a number whose decimal mark is `mark`, allowing the other mark as a
// thousands separator between groups of three ("1.234,5"). A text with both
// marks is read by their order whatever `mark` says ("1,234.5" is 1234.5).
// Blanks around are allowed, "R$" and "%" are not. None for anything else.
std::optional<double> ParseDecimal(std::string_view text, DecimalMark mark);

// The mark a file's number cells use: what the cells that can be read one
// way only say ("10,5": comma; "0.024": point); when they say nothing or
// both, the separator decides (";" and tab: comma, ",": point).
DecimalMark GuessDecimalMark(const std::vector<std::string_view>& numbers, char separator);

// A date "dd/mm/aaaa" or ISO "aaaa-mm-dd", each with an optional time
// "hh:mm[:ss]" after a blank (or "T" for ISO), as
// "YYYY-MM-DDTHH:MM:SS". None for anything else, a two-digit year or a day
// that the calendar does not have.
std::optional<std::string> ParseDate(std::string_view text);

// Blanks (spaces, tabs, no-break spaces) trimmed from both ends.
std::string Trim(std::string_view text);

// How a message quotes a cell: whole when it is short, else its first
// kQuotedPoints characters, "…" and its size ("\"abc…\" (52428800 bytes)"),
// so that no report echoes a large cell.
inline constexpr std::size_t kQuotedPoints = 40;
std::string ShortQuote(std::string_view text);

// Writes one cell for a ";"-separated file: quoted when it holds the
// separator, a quote or a line break.
std::string QuoteCell(const std::string& cell, char separator = ';');

}  // namespace dg::server::csv
