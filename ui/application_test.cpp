#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/application.h"
#include "ui/user_actions.h"

namespace dg::ui {
namespace {

// A window system that plays a list of steps against the form it shows,
// as the scripted player does, and records repaints and the busy cursor.
class ScriptWindows : public WindowSystem {
 public:
  std::vector<std::function<void(Form&)>> steps;
  std::vector<std::string> log;
  void ShowModal(Form& form) override {
    log.push_back("show " + form.Name());
    form.Activate();
    for (auto& step : steps) {
      if (!form.IsOpen()) break;
      try {
        step(form);
      } catch (...) {
        App().HandleException(std::current_exception());
      }
    }
    if (form.IsOpen()) form.Close();
  }
  void Repaint(Form& form) override { log.push_back("repaint " + form.Name()); }
  void BusyChanged(bool busy) override { log.push_back(busy ? "busy" : "idle"); }
};

class AppTest : public ::testing::Test {
 protected:
  ScriptedDialogs dialogs;
  ScriptWindows windows;
  ScopedDialogs scope{&dialogs, &windows};
};

TEST_F(AppTest, QuestionsTakeQueuedAnswersThenDefaultToNo) {
  dialogs.QueueAnswer(Answer::Yes);
  EXPECT_EQ(Answer::Yes, App().Dlg().Question("Continue?"));
  EXPECT_FALSE(dialogs.LastAnswerDefaulted());
  EXPECT_EQ(Answer::No, App().Dlg().Question("Again?"));
  EXPECT_TRUE(dialogs.LastAnswerDefaulted());
  App().Dlg().Info("Done.");
  dialogs.QueuePick([](const ListDialog& list) -> std::optional<int> {
    for (std::size_t i = 0; i < list.rows.size(); ++i) {
      if (list.rows[i][0] == "B") return static_cast<int>(i);
    }
    return std::nullopt;
  });
  ListDialog list{"Pick", {"CODE"}, {"Code"}, {{"A"}, {"B"}}};
  EXPECT_EQ(1, App().Dlg().PickFromList(list));
  EXPECT_EQ(std::nullopt, App().Dlg().PickFromList(list));  // nothing queued
  dialogs.QueuePick(7);                                     // out of range: none
  EXPECT_EQ(std::nullopt, App().Dlg().PickFromList(list));
  EXPECT_EQ(
      "question: Continue? -> yes | question: Again? -> no | info: Done. | "
      "list: Pick (2 rows) -> 1 | list: Pick (2 rows) -> none | list: Pick (2 rows) -> none",
      dialogs.Joined());
}

TEST_F(AppTest, HandleExceptionSwallowsTheSilentAbortAndReportsTheRest) {
  App().HandleException(std::make_exception_ptr(Abort()));
  App().HandleException(std::make_exception_ptr(Error("server down")));
  EXPECT_EQ("error: server down", dialogs.Joined());
  std::vector<std::string> reported;
  App().on_error_report = [&](const std::string& text) { reported.push_back(text); };
  App().HandleException(std::make_exception_ptr(std::runtime_error("boom")));
  App().on_error_report = nullptr;
  EXPECT_EQ(std::vector<std::string>{"boom"}, reported);
  EXPECT_EQ("error: server down", dialogs.Joined());
}

TEST_F(AppTest, UpdateLockNestsAndIsReleasedOnFailure) {
  Form form("frm");
  try {
    UpdateLock outer(form);
    {
      UpdateLock inner(form);
      EXPECT_EQ(2, form.LockDepth());
    }
    form.Repaint();  // suppressed while locked
    EXPECT_TRUE(form.UpdatesLocked());
    throw Error("fails inside the lock");
  } catch (const Error&) {
  }
  EXPECT_FALSE(form.UpdatesLocked());
  EXPECT_EQ(1, form.RepaintCount());  // one repaint when the last lock went
  form.UnlockUpdates();               // an extra unlock does nothing
  EXPECT_EQ(0, form.LockDepth());
}

TEST_F(AppTest, BusyCursorNests) {
  {
    BusyCursor a;
    BusyCursor b;
    EXPECT_TRUE(App().Busy());
  }
  EXPECT_FALSE(App().Busy());
  EXPECT_EQ((std::vector<std::string>{"busy", "idle"}), windows.log);
}

TEST_F(AppTest, CloseHandlerMayRefuseOrFailAndTheFormStaysOpen) {
  Form form("frmScreen");
  int activations = 0;
  form.on_activate = [&](Form&) { ++activations; };
  int attempt = 0;
  form.on_close = [&](Form&, CloseAction& action) {
    ++attempt;
    if (attempt == 1) action = CloseAction::None;     // refused
    if (attempt == 2) throw Error("cannot discard");  // failed
    if (attempt == 3) action = CloseAction::Free;
  };
  windows.steps = {
      [](Form& f) { UserClose(f); },
      [](Form& f) { UserClose(f); },
      [](Form& f) { EXPECT_TRUE(f.IsOpen()); },
      [](Form& f) { UserClose(f); },
      [](Form&) { ADD_FAILURE() << "runs after the close"; },
  };
  EXPECT_EQ(ModalResult::Cancel, form.ShowModal());
  EXPECT_EQ(1, activations);
  EXPECT_EQ(3, attempt);
  EXPECT_FALSE(form.IsOpen());
  EXPECT_TRUE(form.DisposeRequested());
  EXPECT_EQ("error: cannot discard", dialogs.Joined());
}

TEST_F(AppTest, ButtonWithModalResultClosesTheForm) {
  Form form("frmDialog");
  auto& ok = form.Add<Button>("btnOK");
  ok.modal_result = Button::Result::Ok;
  windows.steps = {[&](Form&) { UserClick(ok); }};
  EXPECT_EQ(ModalResult::Ok, form.ShowModal());
  App().SetWindowSystem(nullptr);
  EXPECT_THROW(form.ShowModal(), Error);
  EXPECT_FALSE(form.IsOpen());
  App().SetWindowSystem(&windows);
}

TEST_F(AppTest, KeyPreviewLetsTheFormSeeKeysFirst) {
  Form form("frmDialog");
  form.key_preview = true;
  auto& ok = form.Add<Button>("btnOK");
  auto& edit = form.Add<Edit>("edt");
  form.on_key_down = [&](Control&, int& key) {
    if (key == 13) {
      ok.Click();
      key = 0;
    }
  };
  ok.modal_result = Button::Result::Ok;
  form.SetModalResult(ModalResult::None);
  UserKey(edit, 'a');
  UserKey(edit, 'b');
  UserKey(edit, '\b');
  EXPECT_EQ("a", edit.Text());
  UserKey(edit, '\r');
  EXPECT_EQ(ModalResult::Ok, form.GetModalResult());
}

TEST(ControlTest, MaskedEditKeepsItsValueAcrossMaskChanges) {
  Form form("frm");
  auto& med = form.Add<MaskEdit>("medCode");
  int changes = 0;
  med.on_change = [&](Control&) { ++changes; };
  UserType(med, "12345678000190");
  EXPECT_EQ(1, changes);
  med.SetEditMask("99.999.999/9999-99;0; ");
  EXPECT_EQ("12.345.678/0001-90", med.DisplayText());
  EXPECT_EQ("12345678000190", med.Text());
  EXPECT_EQ(2, changes);
  med.SetEditMask("");
  EXPECT_EQ("12345678000190", med.DisplayText());
  EXPECT_EQ(3, changes);
  med.SetEditMask("");  // no change, no event
  EXPECT_EQ(3, changes);
  EXPECT_EQ("", med.EditMask());
}

TEST(ControlTest, ComboSelectionFiresChangeOnlyFromTheUser) {
  Form form("frm");
  auto& cbb = form.Add<ComboBox>("cbb");
  cbb.items = {"0 - A", "1 - B"};
  int changes = 0;
  cbb.on_change = [&](Control&) { ++changes; };
  cbb.SetItemIndex(1);
  EXPECT_EQ(0, changes);
  EXPECT_EQ("1 - B", cbb.Text());
  EXPECT_EQ(Outcome::Done, UserSelect(cbb, 0));
  EXPECT_EQ(Outcome::Done, UserSelect(cbb, 0));
  EXPECT_EQ(1, changes);
  EXPECT_EQ(Outcome::NoSuchItem, UserSelect(cbb, 2));
  EXPECT_EQ(Outcome::NoSuchItem, UserSelect(cbb, -2));
  EXPECT_EQ(0, cbb.ItemIndex());
  EXPECT_EQ(1, changes);
  EXPECT_EQ(Outcome::ReadOnly, UserType(cbb, "x"));  // a drop-down list takes no free text
  EXPECT_THROW(cbb.SetItemIndex(2), Error);
  EXPECT_EQ(-1, (cbb.SetItemIndex(-1), cbb.ItemIndex()));
  EXPECT_EQ("", cbb.Text());
}

TEST(ControlTest, NumberBoxShowsFixedDecimalsWithADecimalComma) {
  Form form("frm");
  auto& ned = form.Add<NumberBox>("ned");
  ned.decimals = 3;
  struct Case {
    double value;
    const char* text;
  } cases[] = {{0, "0,000"}, {1234.5, "1234,500"}, {2.0005, "2,001"}, {-0.25, "-0,250"}};
  for (const Case& c : cases) {
    ned.SetNumber(c.value);
    EXPECT_EQ(c.text, ned.Text()) << c.value;
  }
  ned.thousands = true;
  ned.SetNumber(1234.5);
  EXPECT_EQ("1.234,500", ned.Text());
  EXPECT_THROW(ned.SetText("abc"), Error);
}

TEST(ControlTest, MenuItemCarriesItsLinkedButton) {
  Form form("frm");
  auto& menu = form.Add<Menu>("mnu");
  auto& item = form.Add<MenuItem>("mnuGo", &menu);
  auto& button = form.Add<SpeedButton>("sbtGo");
  item.LinkControl(&button);
  item.SetEnabledLinked(false);
  EXPECT_FALSE(button.Enabled());
  EXPECT_EQ(Outcome::Disabled, UserClick(button));
  EXPECT_EQ(Outcome::Disabled, UserClick(item));
}

}  // namespace
}  // namespace dg::ui
