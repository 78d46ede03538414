// The screenshot check: the screen is played through a session's key steps
// by the host program (in process, modules loaded as in production), and
// after every step the screen is rendered offscreen. Every picture must not
// be blank, must show the active tab's caption on the tab bar, every caption
// label that is showing, the grids' titles and the pictures drawn by their
// owners (the route).
//
// With EXP_UPDATE_DOCS set, the last picture of each tab (the tab with the
// work of its steps done) is written to docs/ as the reference picture of
// the README.
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "host/host.h"
#include "qtview/form_view.h"
#include "qtview/qtview.h"
#include "ui/canvas.h"
#include "ui/control.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace dg::qtview {
namespace {

namespace fs = std::filesystem;

fs::path SourceDir() {
  const char* dir = std::getenv("EXP_SOURCE_DIR");
  return dir != nullptr ? fs::path(dir) : fs::path(EXP_SOURCE_ROOT);
}

// Pixels of `area` that differ from the colour of its first pixel.
int Ink(const QImage& image, const QRect& area) {
  const QRect r = area.intersected(image.rect());
  if (r.isEmpty()) return 0;
  const QRgb back = image.pixel(r.topLeft());
  int ink = 0;
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) ink += image.pixel(x, y) != back;
  }
  return ink;
}

QRect AreaIn(const QWidget& widget, const QWidget& top) {
  return QRect(widget.mapTo(&top, QPoint(0, 0)), widget.size());
}

std::string Std(const QString& text) { return text.toStdString(); }

// What a grid shows wrongly: a column narrower than the layout says or than
// a text it holds, a raw field name for a title where the field has a label,
// a row indicator the options do not list.
std::vector<std::string> GridProblems(ui::DataGrid& grid, const QTableView& view) {
  std::vector<std::string> problems;
  if (view.verticalHeader()->isVisible() != grid.options.indicator) {
    problems.push_back(grid.Name() + " row indicator against its options");
  }
  const QFontMetrics metrics = view.fontMetrics();
  // An item view's text lies within a margin on each side, and the grid line.
  const int margins =
      2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1) + 1;
  QAbstractItemModel* model = view.model();
  for (int i = 0; i < grid.ColumnCount() && i < model->columnCount(); ++i) {
    if (view.isColumnHidden(i)) continue;
    const ui::GridColumn& column = grid.Column(i);
    const std::string name = grid.Name() + "." + column.FieldName();
    if (view.columnWidth(i) < column.width) problems.push_back(name + " narrower than its layout");
    const QString title = model->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
    data::ClientDataset* ds = grid.DataSet();
    const data::Field* field = ds != nullptr ? ds->FindField(column.FieldName()) : nullptr;
    if (field != nullptr && !field->display_label.empty() && Std(title) == column.FieldName()) {
      problems.push_back(name + " titled by its field name");
    }
    for (int row = 0; row < model->rowCount(); ++row) {
      const QString text = model->data(model->index(row, i), Qt::DisplayRole).toString();
      if (metrics.horizontalAdvance(text) + margins > view.columnWidth(i)) {
        problems.push_back(name + " cuts '" + Std(text) + "'");
        break;
      }
    }
  }
  return problems;
}

// What was seen on one tab; `problems` empty when the picture is right.
struct Shot {
  QImage image;
  std::vector<std::string> problems;
};

Shot Look(const ui::Form& form, const ui::PageControl& pages) {
  Shot shot;
  FormView view(const_cast<ui::Form&>(form), /*interactive=*/false);
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  view.Refresh();
  shot.image = view.grab().toImage();
  auto problem = [&](const std::string& what) { shot.problems.push_back(what); };

  std::set<QRgb> colours;
  for (int y = 0; y < shot.image.height(); y += 4) {
    for (int x = 0; x < shot.image.width(); x += 4) colours.insert(shot.image.pixel(x, y));
  }
  if (colours.size() < 10) problem("blank picture");

  auto* tabs = qobject_cast<QTabWidget*>(view.WidgetOf(pages));
  const ui::TabSheet* active = pages.ActivePage();
  if (tabs == nullptr || active == nullptr) {
    problem("no page control");
    return shot;
  }
  const int index = tabs->currentIndex();
  if (tabs->tabText(index).toStdString() != active->Caption()) {
    problem("tab bar shows '" + tabs->tabText(index).toStdString() + "'");
  }
  QRect tab = tabs->tabBar()->tabRect(index);
  tab.moveTopLeft(tabs->tabBar()->mapTo(&view, tab.topLeft()));
  if (Ink(shot.image, tab.adjusted(4, 4, -4, -4)) < 30) problem("tab caption not drawn");

  for (ui::Control* c : form.AllControls()) {
    if (!c->Showing()) continue;
    QWidget* w = view.WidgetOf(*c);
    if (w == nullptr || !w->isVisible()) continue;
    if (auto* label = dynamic_cast<ui::Label*>(c); label != nullptr && !label->Caption().empty()) {
      const QRect area = AreaIn(*w, view);
      if (static_cast<QLabel*>(w)->text().toStdString() != label->Caption()) {
        problem(c->Name() + " shows another caption");
      } else if (Ink(shot.image, area) < 20) {
        problem(c->Name() + " caption not drawn");
      }
    }
    // A picture its owner draws (the route) must show more than its paper.
    if (dynamic_cast<ui::PaintBox*>(c) != nullptr && Ink(shot.image, AreaIn(*w, view)) < 200) {
      problem(c->Name() + " picture not drawn");
    }
    if (auto* grid = qobject_cast<QTableView*>(w);
        grid != nullptr && grid->horizontalHeader()->isVisible()) {
      if (Ink(shot.image, AreaIn(*grid->horizontalHeader(), view)) < 50) {
        problem(c->Name() + " titles not drawn");
      }
    }
    if (auto* grid = qobject_cast<QTableView*>(w)) {
      for (const std::string& p : GridProblems(*dynamic_cast<ui::DataGrid*>(c), *grid)) {
        problem(p);
      }
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
      const int text = combo->fontMetrics().horizontalAdvance(combo->currentText());
      if (combo->width() < text + 20)
        problem(c->Name() + " cuts '" + Std(combo->currentText()) + "'");
      if (AreaIn(*combo, view).right() >= view.width()) problem(c->Name() + " sticks out");
    }
  }
  // The itinerary is read with its scroll bar.
  if (const ui::Control* memo = form.Find("dbmItinerario")) {
    auto* edit = qobject_cast<QPlainTextEdit*>(view.WidgetOf(*memo));
    if (edit == nullptr || edit->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOn) {
      problem("dbmItinerario has no vertical scroll bar");
    }
  }
  return shot;
}

// The dialog's pictures: its grid titles are bold, its columns cut nothing.
std::vector<std::string> LookAtDialog(const ui::Form& form) {
  std::vector<std::string> problems;
  FormView view(const_cast<ui::Form&>(form), /*interactive=*/false);
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  view.Refresh();
  for (ui::Control* c : form.AllControls()) {
    auto* grid = qobject_cast<QTableView*>(view.WidgetOf(*c));
    if (grid == nullptr) continue;
    if (!grid->horizontalHeader()->font().bold())
      problems.push_back(c->Name() + " titles not bold");
    for (const std::string& p : GridProblems(*dynamic_cast<ui::DataGrid*>(c), *grid)) {
      problems.push_back(p);
    }
  }
  return problems;
}

TEST(ScreenshotCheck, EachTabAfterTheKeyStepsShowsItsCaptions) {
  QTemporaryDir dir;
  host::Options options;
  options.script = (SourceDir() / "examples" / "demo-session.json").string();
  options.trace = dir.filePath("trace.jsonl").toStdString();
  options.screenshots = dir.filePath("steps").toStdString();

  std::map<std::string, Shot> last;  // by tab sheet name: the reference picture
  std::vector<std::string> problems;
  host::Display display;
  display.screenshot = [&](const ui::Form& form, const std::string& stem) {
    const auto* pages = dynamic_cast<const ui::PageControl*>(form.Find("pgcPadrao"));
    if (pages == nullptr) {
      for (const std::string& p : LookAtDialog(form)) problems.push_back(stem + ": " + p);
      return;
    }
    if (pages->ActivePage() == nullptr) return;
    Shot shot = Look(form, *pages);
    for (const std::string& p : shot.problems) problems.push_back(stem + ": " + p);
    last.insert_or_assign(pages->ActivePage()->Name(), std::move(shot));
  };
  std::ostringstream out, err;
  ASSERT_EQ(0, host::RunHost(options, display, out, err)) << err.str();

  const std::map<std::string, std::string> pictures = {{"tbsPedido", "screen-pedido.png"},
                                                       {"tshPadrao", "screen-item.png"},
                                                       {"tshRota", "screen-rota.png"}};
  for (const auto& [sheet, file] : pictures) {
    ASSERT_TRUE(last.count(sheet)) << "no picture of " << sheet;
  }
  for (const std::string& p : problems) ADD_FAILURE() << p;
  for (const auto& [sheet, shot] : last) {
    if (std::getenv("EXP_UPDATE_DOCS") != nullptr && pictures.count(sheet)) {
      const fs::path to = SourceDir() / "docs" / pictures.at(sheet);
      fs::create_directories(to.parent_path());
      EXPECT_TRUE(shot.image.save(QString::fromStdString(to.string()), "PNG"));
    }
  }
}

// The window as a clerk opens it on a 1600 x 1000 screen: the order list
// and the route's picture take the room, and a route of 14 stops with a
// block of five neighbours shows every number.
TEST(ScreenshotCheck, TheWindowUsesTheRoomOfALargeScreen) {
  QTemporaryDir dir;
  const std::string fixture = (SourceDir() / "qtview" / "screens" / "fourteen-stops.json").string();
  const std::string session = dir.filePath("session.json").toStdString();
  {
    std::ofstream out(session);
    out << R"({"fixture": ")" << fixture << R"(",
      "host": {"branch": "0001", "operator": "ANA"}, "launch": {"items": "all"},
      "steps": [
        {"type": "medCdTransp", "text": "45781233000107"},
        {"type": "medTpTransp", "text": "0001"},
        {"select": "cbbTipoFrete", "index": 1},
        {"focus": "DBGrid1"},
        {"expect": {"cdsGPedido.count": 14}},
        {"tab": "tshRota"},
        {"answers": ["yes"]},
        {"click": "sbtSugerirOrdem"},
        {"click": "sbtGeraMapa"},
        {"expect": {"cdsGradeRota.count": 14}}]})";
  }
  host::Options options;
  options.script = session;
  options.trace = dir.filePath("trace.jsonl").toStdString();
  options.screenshots = dir.filePath("steps").toStdString();

  std::map<std::string, QImage> wide;
  std::vector<std::string> problems;
  host::Display display;
  display.screenshot = [&](const ui::Form& form, const std::string& stem) {
    const auto* pages = dynamic_cast<const ui::PageControl*>(form.Find("pgcPadrao"));
    if (pages == nullptr || pages->ActivePage() == nullptr) return;
    FormView view(const_cast<ui::Form&>(form), /*interactive=*/false);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.resize(1600, 1000);
    view.show();
    view.Refresh();
    const std::string sheet = pages->ActivePage()->Name();
    auto size = [&](const char* name) {
      const ui::Control* c = form.Find(name);
      const QWidget* w = c != nullptr ? view.WidgetOf(*c) : nullptr;
      return w != nullptr ? w->size() : QSize();
    };
    if (sheet == "tbsPedido" && size("DBGrid1").height() < 600) {
      problems.push_back(stem + ": the order list is " + std::to_string(size("DBGrid1").height()) +
                         " pixels tall");
    }
    if (sheet == "tshRota" && size("pbxRota").width() <= size("dbmItinerario").width()) {
      problems.push_back(stem + ": the route's picture is narrower than the itinerary");
    }
    wide.insert_or_assign(sheet, view.grab().toImage());
  };
  std::ostringstream out, err;
  ASSERT_EQ(0, host::RunHost(options, display, out, err)) << err.str();
  for (const std::string& p : problems) ADD_FAILURE() << p;
  const std::map<std::string, std::string> pictures = {{"tbsPedido", "window-pedido.png"},
                                                       {"tshRota", "window-rota.png"}};
  for (const auto& [sheet, file] : pictures) {
    ASSERT_TRUE(wide.count(sheet)) << "no picture of " << sheet;
    EXPECT_EQ(wide.at(sheet).size(), QSize(1600, 1000));
    if (std::getenv("EXP_UPDATE_DOCS") != nullptr) {
      const fs::path to = SourceDir() / "docs" / file;
      EXPECT_TRUE(wide.at(sheet).save(QString::fromStdString(to.string()), "PNG"));
    }
  }
}

}  // namespace
}  // namespace dg::qtview
