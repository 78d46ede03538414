// The dialogs as message boxes, and forms shown by the Qt window system with
// the clerk's gestures going to the headless controls.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "data/errors.h"
#include "qtview/form_view.h"
#include "qtview/qtview.h"
#include "ui/application.h"
#include "ui/user_actions.h"

namespace dg::qtview {
namespace {

TEST(QtDialogsTest, QuestionsErrorsAndListsInPortuguese) {
  QtDialogs dialogs;
  struct Case {
    ui::Answer answer;
    const char* logged;
  } cases[] = {{ui::Answer::Yes, "yes"}, {ui::Answer::No, "no"}};
  for (const Case& c : cases) {
    dialogs.AnswerAutomatically(c.answer);
    EXPECT_EQ(c.answer, dialogs.Question("Deseja continuar ?"));
    const std::string& shown = dialogs.Shown().back();
    EXPECT_EQ(0u, shown.find("question: Deseja continuar ? ["));
    EXPECT_NE(std::string::npos, shown.find("Sim")) << shown;
    EXPECT_NE(std::string::npos, shown.find("Não")) << shown;
    EXPECT_EQ(std::string("-> ") + c.logged, shown.substr(shown.size() - 3 - strlen(c.logged)));
  }

  // A failure reaching an event's entry point is shown through them.
  ui::ScopedDialogs scoped(&dialogs);
  ui::App().HandleException(std::make_exception_ptr(Error("Transportadora não cadastrada.")));
  ui::App().HandleException(std::make_exception_ptr(Abort()));  // silent
  ASSERT_EQ(3u, dialogs.Shown().size());
  EXPECT_EQ("error: Transportadora não cadastrada. [OK]", dialogs.Shown().back());

  ui::ListDialog list{"Transportadora",
                      {"NRINSJURTRAN", "NMFANTTRAN"},
                      {"Inscrição", "Nome"},
                      {{"1", "Rápido"}, {"2", "Lento"}}};
  dialogs.AnswerAutomatically(ui::Answer::Yes, 1);
  EXPECT_EQ(std::optional<int>(1), dialogs.PickFromList(list));
  dialogs.AnswerAutomatically(ui::Answer::No);
  EXPECT_EQ(std::nullopt, dialogs.PickFromList(list));
  EXPECT_EQ("list: Transportadora (2 rows) -> none", dialogs.Shown().back());
}

// The manifest's save dialog: a name typed without the extension gets the
// filter's (the list shows only those files, so a clerk would not find it
// again), also a name with a dot of its own ("15.07"), and the file it then
// names is replaced only when the clerk says so; a name with it is kept as
// typed, and Escape saves nothing.
TEST(QtDialogsTest, ANameSavedWithoutItsExtensionGetsTheFiltersOwn) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString() + "/";
  QFile taken(dir.path() + "/dia 15.07.pdf");
  ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
  taken.close();
  // Each step answers the dialog up then: a name typed into the file
  // dialog and the key pressed there, or the button of the question.
  struct Step {
    QString typed;
    Qt::Key key = Qt::Key_Return;
    QMessageBox::StandardButton button = QMessageBox::NoButton;
  };
  const auto answer = [&](std::vector<Step> steps) {
    // The widget answered last: the next step waits for another one (a
    // question over the dialog, or the dialog again after it).
    QPointer<QWidget> answered;
    std::function<void()> next = [&] {
      if (steps.empty()) return;
      QWidget* up = QApplication::activeModalWidget();
      if (up == answered || (qobject_cast<QMessageBox*>(up) == nullptr &&
                       qobject_cast<QFileDialog*>(up) == nullptr)) {
        QTimer::singleShot(10, next);
        return;
      }
      const Step step = steps.front();
      steps.erase(steps.begin());
      answered = up;
      QTimer::singleShot(10, next);
      if (auto* box = qobject_cast<QMessageBox*>(up)) {
        ASSERT_NE(QMessageBox::NoButton, step.button) << box->text().toStdString();
        box->button(step.button)->click();
        return;
      }
      ASSERT_EQ(QMessageBox::NoButton, step.button);
      auto* name = up->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(nullptr, name);
      name->setText(step.typed);
      QTest::keyClick(name, step.key);
    };
    QTimer::singleShot(0, next);
    return AskSavePath("Salvar Romaneio de Carga", folder + "romaneio-0001-000001.pdf",
                       "PDF (*.pdf)");
  };
  using B = QMessageBox::StandardButton;
  EXPECT_EQ(folder + "romaneio-hoje.pdf", answer({{"romaneio-hoje"}}));
  EXPECT_EQ(folder + "rota 15.07.pdf", answer({{"rota 15.07"}}));
  EXPECT_EQ(folder + "rota.1.pdf", answer({{"rota.1.pdf"}}));
  EXPECT_EQ(std::nullopt, answer({{"nada", Qt::Key_Escape}}));
  // The file the extension names exists: "Não" gives the dialog back.
  EXPECT_EQ(std::nullopt,
            answer({{"dia 15.07"}, {"", Qt::Key_Return, B::No}, {"", Qt::Key_Escape}}));
  EXPECT_EQ(folder + "dia 15.07.pdf", answer({{"dia 15.07"}, {"", Qt::Key_Return, B::Yes}}));
}

// The sign-in dialog: the refusal shown as the server said it, the
// password hidden and focused when the operator is known, the code given
// back without blanks around it; Enter signs in, Escape gives nothing.
TEST(SignInDialogTest, EnterSignsInAndEscapeGivesNothing) {
  // Types into the dialog once it is up, then presses `key` in it.
  auto answer = [](const std::string& code, const std::string& why, const QString& typed,
                   Qt::Key key, QString* shown) {
    QTimer::singleShot(0, [=] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(nullptr, dialog);
      ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
      for (QLabel* label : dialog->findChildren<QLabel*>()) *shown += label->text() + "\n";
      const QList<QLineEdit*> lines = dialog->findChildren<QLineEdit*>();
      ASSERT_EQ(2, lines.size());
      EXPECT_EQ(QLineEdit::Normal, lines[0]->echoMode());
      EXPECT_EQ(QLineEdit::Password, lines[1]->echoMode());
      if (QApplication::focusWidget() == lines[0]) {
        QTest::keyClicks(lines[0], typed.section('|', 0, 0));
        QTest::keyClick(lines[0], Qt::Key_Tab);
      }
      EXPECT_EQ(lines[1], QApplication::focusWidget());
      QTest::keyClicks(lines[1], typed.section('|', 1));
      QTest::keyClick(QApplication::focusWidget(), key);
    });
    return AskSignIn("https://servidor:8443", code, why);
  };
  QString shown;
  const auto known =
      answer("ANA", "Operador ou senha inválidos.", "|senha certa", Qt::Key_Return, &shown);
  ASSERT_TRUE(known);
  EXPECT_EQ("ANA", known->first);
  EXPECT_EQ("senha certa", known->second);
  EXPECT_TRUE(shown.contains("https://servidor:8443")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("Operador ou senha inválidos.")) << shown.toStdString();

  const auto typed = answer("", "", "  ZE |outra senha", Qt::Key_Return, &shown);
  ASSERT_TRUE(typed);
  EXPECT_EQ("ZE", typed->first);
  EXPECT_EQ("outra senha", typed->second);

  EXPECT_EQ(std::nullopt, answer("ANA", "", "|meia senha", Qt::Key_Escape, &shown));
}

// A transporter strip: medCdTransp refuses to be left empty (its exit
// handler puts the focus back and aborts, as a validation does), then
// medTpTransp, a page control with two pages, and a close button.
class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    form.client_width = 420;
    form.client_height = 200;
    code = &form.Add<ui::MaskEdit>("medCdTransp");
    code->left = 10;
    code->top = 10;
    code->tab_order = 0;
    code->on_exit = [this](ui::Control& c) {
      log += "exit " + c.Name() + ";";
      if (code->Text().empty()) {
        code->SetFocus();
        throw Abort();
      }
    };
    type = &form.Add<ui::MaskEdit>("medTpTransp");
    type->left = 150;
    type->top = 10;
    type->tab_order = 1;
    type->on_enter = [this](ui::Control& c) { log += "enter " + c.Name() + ";"; };
    pages = &form.Add<ui::PageControl>("pgcPadrao");
    pages->left = 10;
    pages->top = 40;
    pages->width = 300;
    pages->height = 100;
    first = &form.Add<ui::TabSheet>("tbsPedido", pages);
    first->SetCaption("Grade por Pedido");
    second = &form.Add<ui::TabSheet>("tshPadrao", pages);
    second->SetCaption("Grade por Item");
    pages->SetActivePage(first);
    pages->tab_order = 2;
    pages->on_change = [this](ui::Control&) { log += "page;"; };
    close = &form.Add<ui::Button>("btnFechar");
    close->SetCaption("&Fechar");
    close->left = 10;
    close->top = 160;
    close->tab_order = 3;
    close->on_click = [this](ui::Control&) { form.Close(); };
    form.on_activate = [this](ui::Form&) { ++activations; };
  }

  // Runs `steps` once the form is up, then closes it if it is still open.
  void Show(const std::function<void(FormView&)>& steps) {
    QTimer::singleShot(0, [&] {
      auto* view = qobject_cast<FormView*>(QApplication::activeModalWidget());
      ASSERT_NE(nullptr, view);
      ASSERT_TRUE(QTest::qWaitForWindowActive(view));
      steps(*view);
      if (form.IsOpen()) static_cast<QPushButton*>(view->WidgetOf(*close))->click();
    });
    form.ShowModal();
  }

  QtWindowSystem windows;
  QtDialogs dialogs;
  ui::ScopedDialogs scoped{&dialogs, &windows};
  ui::Form form{"frmTransp"};
  ui::MaskEdit* code;
  ui::MaskEdit* type;
  ui::PageControl* pages;
  ui::TabSheet* first;
  ui::TabSheet* second;
  ui::Button* close;
  std::string log;
  int activations = 0;
};

TEST_F(WindowTest, ClicksTypingAndTabsGoToTheHeadlessControls) {
  Show([this](FormView& view) {
    auto* code_line = static_cast<QLineEdit*>(view.WidgetOf(*code));
    auto* type_line = static_cast<QLineEdit*>(view.WidgetOf(*type));
    QTest::mouseClick(code_line, Qt::LeftButton);
    EXPECT_EQ(code, form.ActiveControl());

    // The refused move: the exit handler keeps the focus, in Qt as well.
    QTest::mouseClick(type_line, Qt::LeftButton);
    EXPECT_EQ(code, form.ActiveControl());
    EXPECT_TRUE(code_line->hasFocus());
    QTest::keyClick(code_line, Qt::Key_Tab);
    EXPECT_EQ(code, form.ActiveControl());
    EXPECT_EQ("exit medCdTransp;exit medCdTransp;", log);

    QTest::keyClicks(code_line, "123");
    EXPECT_EQ("123", code->Text());
    QTest::keyClick(code_line, Qt::Key_Tab);
    EXPECT_EQ(type, form.ActiveControl());
    EXPECT_TRUE(type_line->hasFocus());

    // Text set from code shows at once.
    code->SetText("456");
    view.Refresh();
    EXPECT_EQ("456", code_line->text().toStdString());

    // A tab click is the user's tab selection.
    auto* tabs = static_cast<QTabWidget*>(view.WidgetOf(*pages));
    tabs->setCurrentIndex(1);
    EXPECT_EQ(second, pages->ActivePage());
    EXPECT_EQ(pages, form.ActiveControl());
  });
  EXPECT_FALSE(form.IsOpen());
  EXPECT_EQ(1, activations);
  EXPECT_EQ("exit medCdTransp;exit medCdTransp;exit medCdTransp;enter medTpTransp;page;", log);
}

// Qt moves its focus away from a widget it hides (the page a tab click
// leaves) or disables; the screen's focus is the toolkit's, which moves only
// as the clerk moves it: a tab click to the page control, nowhere else, and
// a control the screen disables keeps it.
TEST_F(WindowTest, TheFocusMovesOnlyAsTheClerkMovesIt) {
  auto watch = [this](ui::Control& c) {
    c.on_enter = [this](ui::Control& s) { log += "enter " + s.Name() + ";"; };
    c.on_exit = [this](ui::Control& s) { log += "exit " + s.Name() + ";"; };
  };
  auto& order = form.Add<ui::Edit>("edtPedido", first);
  order.left = 10;
  order.top = 10;
  watch(order);
  auto& item = form.Add<ui::Edit>("edtItem", second);
  item.left = 10;
  item.top = 10;
  watch(item);
  item.on_change = [&item](ui::Control&) {
    if (item.Text() == "x") item.SetEnabled(false);
  };
  code->SetText("1");
  Show([&](FormView& view) {
    QTest::mouseClick(view.WidgetOf(order), Qt::LeftButton);
    ASSERT_EQ(&order, form.ActiveControl());
    log.clear();

    QTabBar* bar = static_cast<QTabWidget*>(view.WidgetOf(*pages))->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(second, pages->ActivePage());
    EXPECT_EQ(pages, form.ActiveControl());
    EXPECT_EQ("exit edtPedido;page;", log);
    EXPECT_EQ(bar, QApplication::focusWidget());  // not the page's edit

    // A click on the tab already shown moves the focus there as well.
    QTest::mouseClick(view.WidgetOf(item), Qt::LeftButton);
    ASSERT_EQ(&item, form.ActiveControl());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(pages, form.ActiveControl());

    // The screen disables the focused control: its focus stays.
    QTest::mouseClick(view.WidgetOf(item), Qt::LeftButton);
    log.clear();
    QTest::keyClicks(view.WidgetOf(item), "x");
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.WidgetOf(item)->isEnabled());
    EXPECT_EQ(&item, form.ActiveControl());
    EXPECT_EQ("", log);
  });
}

// The clerk goes to another program and comes back: the application is
// active again, the screen is not activated again (its activation would
// start over in the transporter panel and discard the grid).
TEST_F(WindowTest, ComingBackFromAnotherProgramIsNoActivation) {
  Show([this](FormView&) {
    for (Qt::ApplicationState state : {Qt::ApplicationInactive, Qt::ApplicationActive}) {
      QMetaObject::invokeMethod(qApp, "applicationStateChanged",
                                Q_ARG(Qt::ApplicationState, state));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(1, activations);
  });
  EXPECT_EQ(1, activations);
}

TEST_F(WindowTest, DisabledPagesAndRefusedClosesStay) {
  second->SetEnabled(false);
  bool refuse = true;
  form.on_close = [&](ui::Form&, ui::CloseAction& action) {
    if (refuse) action = ui::CloseAction::None;
  };
  Show([&](FormView& view) {
    auto* tabs = static_cast<QTabWidget*>(view.WidgetOf(*pages));
    EXPECT_FALSE(tabs->isTabEnabled(1));
    view.close();  // the window's close box: the close handler refuses
    EXPECT_TRUE(form.IsOpen());
    EXPECT_TRUE(view.isVisible());
    refuse = false;
  });
  EXPECT_FALSE(form.IsOpen());
  EXPECT_EQ(first, pages->ActivePage());
}

}  // namespace
}  // namespace dg::qtview
