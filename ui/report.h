// A printed document, built headless and laid out on paper by the view:
// the loading manifest of a grid is one.
//
// A report is a list of sections; each section starts on a new page, repeats
// its title at the top of each of its pages and numbers its pages on its own
// ("Página 2 de 3"), so that the pages of one section can be handed out
// apart from the others. A section is a list of blocks that follow one
// another down the page: headings, label and value fields, tables and
// paragraphs. Tables repeat their column titles on every page they run over,
// and a group row (a stop of a route, say) never ends a page alone.
//
// Plain values; intentionally copyable.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ui/control.h"

namespace dg::ui {

struct ReportColumn {
  std::string title;
  double width = 1;  // share of the table's width
  Alignment align = Alignment::Left;
};

enum class RowStyle {
  Normal,
  Group,  // one cell across the whole table, bold, ruled above; kept with the next row
  Total,  // bold, ruled above
};

struct ReportRow {
  RowStyle style = RowStyle::Normal;
  std::vector<std::string> cells;  // a group row: one cell
};

struct ReportBlock {
  enum class Kind { Heading, Fields, Table, Paragraph };
  Kind kind = Kind::Paragraph;
  // Heading and paragraph: the text; a paragraph keeps its line breaks.
  std::string text;
  // Fields: label and value pairs, laid out in `field_columns` columns.
  std::vector<std::pair<std::string, std::string>> fields;
  int field_columns = 2;
  // Table.
  std::vector<ReportColumn> columns;
  std::vector<ReportRow> rows;

  static ReportBlock Heading(std::string text);
  static ReportBlock Paragraph(std::string text);
  static ReportBlock Fields(std::vector<std::pair<std::string, std::string>> fields,
                            int columns = 2);
  static ReportBlock Table(std::vector<ReportColumn> columns, std::vector<ReportRow> rows);
};

struct ReportSection {
  std::string title;  // at the top of every page of the section
  std::vector<ReportBlock> blocks;
};

struct Report {
  std::string title;   // the document's own title
  std::string footer;  // at the foot of every page, beside the page number
  std::vector<ReportSection> sections;
};

// The report's text in reading order, one line per heading, field, table
// row (cells joined by " | ") and paragraph line; sections start with their
// title. What a reader of the printed pages sees, without the layout.
std::string ReportText(const Report& report);

}  // namespace dg::ui
