// The PDF of a report as a reader gets it back (poppler's pdftotext): page
// sets per section, numbered on their own, tables that run over pages with
// their column titles again, group rows kept with what follows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "data/errors.h"
#include "qtview/qtview.h"
#include "qtview/testing/pdf_text.h"
#include "ui/report.h"

namespace dg::qtview {
namespace {

using testing::PdfPages;

// Section "Longa" with a table of `stops` groups of three rows; section
// "Curta" with a field and a paragraph.
ui::Report Sample(int stops) {
  ui::Report report;
  report.title = "Teste";
  report.footer = "Rodapé do documento";
  ui::ReportSection longa{"Seção Longa", {}};
  longa.blocks.push_back(ui::ReportBlock::Heading("Entregas"));
  std::vector<ui::ReportRow> rows;
  for (int s = 1; s <= stops; ++s) {
    rows.push_back({ui::RowStyle::Group,
                    {"Parada " + std::to_string(s) + ": Cliente número " + std::to_string(s)}});
    for (int i = 1; i <= 3; ++i) {
      rows.push_back({ui::RowStyle::Normal,
                      {"P" + std::to_string(s), std::to_string(i),
                       "Produto com nome comprido " + std::to_string(i), "1.234,500"}});
    }
    rows.push_back({ui::RowStyle::Total, {"Total " + std::to_string(s), "", "", "3.703,500"}});
  }
  longa.blocks.push_back(ui::ReportBlock::Table(
      {{"Pedido", 1}, {"Item", 0.5}, {"Descrição", 4}, {"Peso (kg)", 1.2, ui::Alignment::Right}},
      std::move(rows)));
  ui::ReportSection curta{"Seção Curta", {}};
  curta.blocks.push_back(
      ui::ReportBlock::Fields({{"Veículo", "1001 - VUC"}, {"Frete", "1 - FOB"}}));
  curta.blocks.push_back(ui::ReportBlock::Paragraph("Linha um\nLinha dois"));
  report.sections = {longa, curta};
  return report;
}

TEST(ReportPdfTest, SectionsRunOverPagesNumberedOnTheirOwn) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("r.pdf").toStdString();
  WriteReportPdf(Sample(40), path);
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
  const auto pages = PdfPages(path);
  if (!pages) GTEST_SKIP() << "pdftotext is not installed (poppler-utils)";
  ASSERT_GE(pages->size(), 3u);
  const std::size_t long_pages = pages->size() - 1;
  int next_stop = 1;
  for (std::size_t p = 0; p < pages->size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    const std::string& page = (*pages)[p];
    const bool is_long = p < long_pages;
    EXPECT_NE(page.find(is_long ? "Seção Longa" : "Seção Curta"), std::string::npos);
    EXPECT_NE(page.find("Rodapé do documento"), std::string::npos);
    const std::string number =
        is_long ? "Página " + std::to_string(p + 1) + " de " + std::to_string(long_pages)
                : "Página 1 de 1";
    EXPECT_NE(page.find(number), std::string::npos) << page;
    if (!is_long) continue;
    // Every page of the table starts with its column titles, and carries
    // the stops on from the page before, in order.
    EXPECT_NE(page.find("Pedido"), std::string::npos);
    std::size_t at = 0;
    for (;;) {
      const std::string label = "Parada " + std::to_string(next_stop) + ":";
      const std::size_t found = page.find(label, at);
      if (found == std::string::npos) break;
      // A stop's heading is never the last line of its page.
      EXPECT_NE(page.find("Produto com nome comprido 1", found), std::string::npos) << label;
      at = found;
      ++next_stop;
    }
  }
  EXPECT_EQ(next_stop, 41);
  EXPECT_NE(pages->back().find("Linha dois"), std::string::npos);
  EXPECT_NE(pages->back().find("1001 - VUC"), std::string::npos);
}

TEST(ReportPdfTest, AnUnwritablePlaceIsAnErrorAndLeavesNothing) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("no/such/folder/r.pdf").toStdString();
  EXPECT_THROW(WriteReportPdf(Sample(1), path), Error);
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

// `--out /dev/stdout` or a pipe to the printer: the PDF goes through it, and
// the pipe is still there afterwards.
TEST(ReportPdfTest, APipeIsWrittenIntoNotReplaced) {
  QTemporaryDir dir;
  const std::string pipe = dir.filePath("printer").toStdString();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // Held open for reading and writing, so neither the reader's open nor its
  // last read can wait for ever, whatever the writer does.
  const int keep = ::open(pipe.c_str(), O_RDWR);
  ASSERT_GE(keep, 0);
  std::string got;
  std::promise<void> opened;
  std::thread reader([&] {
    const int fd = ::open(pipe.c_str(), O_RDONLY);
    opened.set_value();
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) got.append(buffer, n);
    ::close(fd);
  });
  opened.get_future().wait();
  EXPECT_NO_THROW(WriteReportPdf(Sample(3), pipe));
  ::close(keep);
  reader.join();
  EXPECT_EQ(got.rfind("%PDF-", 0), 0u) << got.size() << " bytes";
  EXPECT_NE(got.find("%%EOF"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
  EXPECT_FALSE(std::filesystem::exists(pipe + ".part"));
}

}  // namespace
}  // namespace dg::qtview
