#include "ui/report.h"

namespace dg::ui {

ReportBlock ReportBlock::Heading(std::string text) {
  ReportBlock b;
  b.kind = Kind::Heading;
  b.text = std::move(text);
  return b;
}

ReportBlock ReportBlock::Paragraph(std::string text) {
  ReportBlock b;
  b.kind = Kind::Paragraph;
  b.text = std::move(text);
  return b;
}

ReportBlock ReportBlock::Fields(std::vector<std::pair<std::string, std::string>> fields,
                                int columns) {
  ReportBlock b;
  b.kind = Kind::Fields;
  b.fields = std::move(fields);
  b.field_columns = columns < 1 ? 1 : columns;
  return b;
}

ReportBlock ReportBlock::Table(std::vector<ReportColumn> columns, std::vector<ReportRow> rows) {
  ReportBlock b;
  b.kind = Kind::Table;
  b.columns = std::move(columns);
  b.rows = std::move(rows);
  return b;
}

std::string ReportText(const Report& report) {
  std::string out;
  for (const ReportSection& section : report.sections) {
    out += "== " + section.title + "\n";
    for (const ReportBlock& b : section.blocks) {
      switch (b.kind) {
        case ReportBlock::Kind::Heading:
          out += "# " + b.text + "\n";
          break;
        case ReportBlock::Kind::Paragraph:
          out += b.text + "\n";
          break;
        case ReportBlock::Kind::Fields:
          for (const auto& [label, value] : b.fields) out += label + ": " + value + "\n";
          break;
        case ReportBlock::Kind::Table: {
          for (std::size_t i = 0; i < b.columns.size(); ++i) {
            out += (i == 0 ? "" : " | ") + b.columns[i].title;
          }
          out += "\n";
          for (const ReportRow& row : b.rows) {
            std::string line = row.style == RowStyle::Group   ? "> "
                               : row.style == RowStyle::Total ? "= "
                                                              : "";
            for (std::size_t i = 0; i < row.cells.size(); ++i) {
              line += (i == 0 ? "" : " | ") + row.cells[i];
            }
            out += line + "\n";
          }
          break;
        }
      }
    }
  }
  return out;
}

}  // namespace dg::ui
