// Commands of the host in the screen's window: they join its menu bar, run
// as gestures do, and stay out of the windows the screen opens over itself.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "data/errors.h"
#include "qtview/form_view.h"
#include "qtview/qtview.h"
#include "ui/application.h"

namespace dg::qtview {
namespace {

// The host command's action in a view's menu bar, or null.
QAction* Command(FormView& view) {
  auto* bar = view.findChild<QMenuBar*>();
  if (bar == nullptr) return nullptr;
  for (QAction* menu : bar->actions()) {
    if (menu->text() != QStringLiteral("Romaneio") || menu->menu() == nullptr) continue;
    for (QAction* a : menu->menu()->actions()) {
      if (a->text() == QStringLiteral("Imprimir Romaneio de Carga...")) return a;
    }
  }
  return nullptr;
}

TEST(HostCommandTest, JoinsTheScreensMenuAndRunsAsAGesture) {
  QtWindowSystem windows;
  QtDialogs dialogs;
  ui::ScopedDialogs scoped{&dialogs, &windows};
  ui::Form screen{"frmGrade"}, over{"frmErro"};
  screen.client_width = over.client_width = 200;
  screen.client_height = over.client_height = 100;
  auto& menu = screen.Add<ui::Menu>("mnuMenu");
  screen.Add<ui::MenuItem>("mnuOperacao", &menu).SetCaption("Operação");

  int runs = 0;
  bool fail = false;
  windows.AddCommand("Romaneio", "Imprimir Romaneio de Carga...", "Ctrl+Shift+R", [&] {
    ++runs;
    if (fail) throw Error("A grade 000009 não existe.");
  });
  std::string reported;
  ui::App().on_error_report = [&](const std::string& text) { reported = text; };

  bool over_has_it = true;
  QTimer::singleShot(0, [&] {
    auto* view = qobject_cast<FormView*>(QApplication::activeModalWidget());
    ASSERT_NE(view, nullptr);
    QAction* action = Command(*view);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+R")));
    action->trigger();
    EXPECT_EQ(runs, 1);
    fail = true;
    action->trigger();
    EXPECT_EQ(reported, "A grade 000009 não existe.");
    // A window opened over the screen has no such command.
    QTimer::singleShot(0, [&] {
      auto* top = qobject_cast<FormView*>(QApplication::activeModalWidget());
      over_has_it = top != nullptr && Command(*top) != nullptr;
      if (top != nullptr) top->close();  // the clerk closes it
    });
    over.ShowModal();
    view->close();
  });
  screen.ShowModal();
  ui::App().on_error_report = nullptr;
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(over_has_it);
}

}  // namespace
}  // namespace dg::qtview
