// The screenshot check: the screen is played through a session's key steps
// by the host program (in process, modules loaded as in production), and
// after every step the screen is rendered offscreen. Every picture must not
// be blank, must show the active tab's caption on the tab bar, every caption
// label that is showing, and the grids' titles.
//
// With EXP_UPDATE_DOCS set, the last picture of each tab (the tab with the
// work of its steps done) is written to docs/ as the reference picture of
// the README.
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "host/host.h"
#include "qtview/form_view.h"
#include "qtview/qtview.h"
#include "ui/control.h"
#include "ui/form.h"

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
    if (auto* grid = qobject_cast<QTableView*>(w);
        grid != nullptr && grid->horizontalHeader()->isVisible()) {
      if (Ink(shot.image, AreaIn(*grid->horizontalHeader(), view)) < 50) {
        problem(c->Name() + " titles not drawn");
      }
    }
  }
  return shot;
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
    if (pages == nullptr || pages->ActivePage() == nullptr) return;  // a dialog's picture
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

}  // namespace
}  // namespace dg::qtview
