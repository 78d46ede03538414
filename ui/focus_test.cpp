#include <string>

#include <gtest/gtest.h>

#include "ui/form.h"
#include "ui/user_actions.h"

namespace dg::ui {
namespace {

// A form with two panels, each holding two edits, a panel nested in the
// second, a page control with two sheets, and a flat button. Every enter
// and exit is logged as "+name" / "-name" together with the active control
// at that moment.
class FocusTest : public ::testing::Test {
 protected:
  FocusTest() {
    panA = &form.Add<Panel>("panA");
    edtA1 = &form.Add<Edit>("edtA1", panA);
    edtA2 = &form.Add<Edit>("edtA2", panA);
    panB = &form.Add<Panel>("panB");
    edtB1 = &form.Add<Edit>("edtB1", panB);
    panInner = &form.Add<Panel>("panInner", panB);
    edtInner = &form.Add<Edit>("edtInner", panInner);
    pages = &form.Add<PageControl>("pages");
    sheet1 = &form.Add<TabSheet>("sheet1", pages);
    sheet2 = &form.Add<TabSheet>("sheet2", pages);
    edtS1 = &form.Add<Edit>("edtS1", sheet1);
    edtS2 = &form.Add<Edit>("edtS2", sheet2);
    flat = &form.Add<SpeedButton>("flat");
    for (Control* c : form.AllControls()) {
      c->on_enter = [this](Control& s) { Log("+", s); };
      c->on_exit = [this](Control& s) { Log("-", s); };
    }
  }
  void Log(const char* sign, Control& s) {
    if (!log.empty()) log += " ";
    log += sign + s.Name();
    if (form.ActiveControl() != nullptr) log += "@" + form.ActiveControl()->Name();
  }
  std::string Move(Control& to) {
    log.clear();
    to.SetFocus();
    return log;
  }

  Form form{"frmTest"};
  Panel *panA, *panB, *panInner;
  Edit *edtA1, *edtA2, *edtB1, *edtInner, *edtS1, *edtS2;
  PageControl* pages;
  TabSheet *sheet1, *sheet2;
  SpeedButton* flat;
  std::string log;
};

TEST_F(FocusTest, ExitAndEnterOrderAcrossContainers) {
  EXPECT_EQ("+panA@edtA1 +edtA1@edtA1", Move(*edtA1));
  EXPECT_EQ("-edtA1@edtA2 +edtA2@edtA2", Move(*edtA2));
  // Left: the edit, then its panel; entered: the outer panel first.
  EXPECT_EQ("-edtA2@edtInner -panA@edtInner +panB@edtInner +panInner@edtInner +edtInner@edtInner",
            Move(*edtInner));
  // Inner panel left, the shared panel neither left nor entered.
  EXPECT_EQ("-edtInner@edtB1 -panInner@edtB1 +edtB1@edtB1", Move(*edtB1));
  EXPECT_EQ("", Move(*edtB1));
}

TEST_F(FocusTest, FocusingAContainerItselfEntersOnlyWhatIsNew) {
  edtS1->SetFocus();
  // From the sheet's edit to the page control that contains it: only the
  // edit and the sheet are left; the page control is not entered again.
  EXPECT_EQ("-edtS1@pages -sheet1@pages", Move(*pages));
  // Back down: the page control is not left.
  EXPECT_EQ("+sheet1@edtS1 +edtS1@edtS1", Move(*edtS1));
}

TEST_F(FocusTest, FailingExitHandlerKeepsFocusWhereItWasAndPropagates) {
  edtA1->SetFocus();
  edtA1->on_exit = [](Control&) { throw Error("invalid"); };
  log.clear();
  EXPECT_THROW(edtB1->SetFocus(), Error);
  EXPECT_EQ(edtA1, form.ActiveControl());
  EXPECT_EQ("", log);  // no container left, nothing entered
}

TEST_F(FocusTest, ExitHandlerPuttingFocusBackEndsTheMoveThere) {
  edtA1->SetFocus();
  std::string seen;
  edtA1->on_exit = [&](Control& s) {
    seen = form.ActiveControl()->Name();  // where the focus is going
    s.SetFocus();
    throw Abort();
  };
  log.clear();
  EXPECT_THROW(edtInner->SetFocus(), Abort);
  EXPECT_EQ("edtInner", seen);
  EXPECT_EQ(edtA1, form.ActiveControl());
  EXPECT_EQ("", log);
  // The same without a failure: the redirect still ends the move.
  edtA1->on_exit = [](Control& s) { s.OwnerForm().Get<Edit>("edtA2").SetFocus(); };
  EXPECT_EQ("", Move(*edtInner));
  EXPECT_EQ(edtA2, form.ActiveControl());
}

TEST_F(FocusTest, HandlerAskingForTheTargetDoesNotCutTheMoveShort) {
  edtA1->SetFocus();
  edtA1->on_exit = [this](Control&) { edtInner->SetFocus(); };
  EXPECT_EQ("-panA@edtInner +panB@edtInner +panInner@edtInner +edtInner@edtInner", Move(*edtInner));
}

TEST_F(FocusTest, FailingContainerExitStopsBeforeAnyEnter) {
  edtA1->SetFocus();
  panA->on_exit = [](Control&) { throw Error("panel says no"); };
  log.clear();
  EXPECT_THROW(edtB1->SetFocus(), Error);
  EXPECT_EQ("-edtA1@edtB1", log);
  EXPECT_EQ(edtA1, form.ActiveControl());
}

TEST_F(FocusTest, ControlsThatCannotTakeTheFocus) {
  edtA2->SetEnabled(false);
  panB->SetVisible(false);
  struct Case {
    Control* control;
    Outcome outcome;
  } cases[] = {
      {edtA2, Outcome::Disabled},  // disabled itself
      {edtB1, Outcome::Hidden},    // on a hidden panel
      {edtS2, Outcome::Hidden},    // on a sheet that is not the active page
      {flat, Outcome::Disabled},   // a flat button takes no focus
      {edtA1, Outcome::Done},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control->Name());
    EXPECT_EQ(c.outcome, UserFocus(*c.control));
    if (c.outcome != Outcome::Done) {
      EXPECT_THROW(c.control->SetFocus(), Error);
    }
  }
  EXPECT_EQ(edtA1, form.ActiveControl());
  panA->SetEnabled(false);  // a disabled container disables its contents
  EXPECT_EQ(Outcome::Disabled, UserFocus(*edtA1));
}

TEST_F(FocusTest, ClickOnFlatButtonLeavesFocusClickOnButtonTakesIt) {
  auto& button = form.Add<Button>("btnOk");
  int clicks = 0;
  flat->on_click = [&](Control&) { ++clicks; };
  button.on_click = [&](Control&) { ++clicks; };
  edtA1->SetFocus();
  EXPECT_EQ(Outcome::Done, UserClick(*flat));
  EXPECT_EQ(edtA1, form.ActiveControl());
  EXPECT_EQ(Outcome::Done, UserClick(button));
  EXPECT_EQ(&button, form.ActiveControl());
  flat->SetEnabled(false);
  EXPECT_EQ(Outcome::Disabled, UserClick(*flat));
  EXPECT_EQ(2, clicks);
}

TEST_F(FocusTest, TabSelectionMovesFocusToThePageControlAndFiresChange) {
  int changes = 0;
  pages->on_change = [&](Control&) { ++changes; };
  pages->SetActivePage(sheet2);  // from code: no event
  EXPECT_EQ(0, changes);
  edtA1->SetFocus();
  EXPECT_EQ(Outcome::Done, UserSelectTab(*pages, *sheet1));
  EXPECT_EQ(sheet1, pages->ActivePage());
  EXPECT_EQ(pages, form.ActiveControl());
  EXPECT_EQ(1, changes);
  sheet2->SetEnabled(false);
  EXPECT_EQ(Outcome::Disabled, UserSelectTab(*pages, *sheet2));
  EXPECT_EQ(sheet1, pages->ActivePage());
  EXPECT_EQ(1, changes);
  pages->on_changing = [](Control&, bool& allow) { allow = false; };
  sheet2->SetEnabled(true);
  UserSelectTab(*pages, *sheet2);
  EXPECT_EQ(sheet1, pages->ActivePage());
}

TEST_F(FocusTest, TabOrderWalksFocusableStops) {
  edtA1->tab_order = 1;
  edtA2->tab_order = 0;
  edtA2->SetFocus();
  form.SelectNext();
  EXPECT_EQ(edtA1, form.ActiveControl());
  form.SelectNext();
  EXPECT_EQ(edtB1, form.ActiveControl());
  form.SelectNext(false);
  EXPECT_EQ(edtA1, form.ActiveControl());
}

TEST(FormTest, NamesAreUniqueAndLookedUpByKind) {
  Form form("frm");
  form.Add<Edit>("edt");
  EXPECT_THROW(form.Add<Label>("edt"), Error);
  EXPECT_NO_THROW(form.Get<Edit>("edt"));
  EXPECT_THROW(form.Get<Label>("edt"), Error);
  EXPECT_THROW(form.Get<Edit>("nothing"), Error);
  EXPECT_EQ(nullptr, form.Find("nothing"));
  EXPECT_THROW(form.Add<TabSheet>("tsh"), Error);  // a sheet needs a page control
}

}  // namespace
}  // namespace dg::ui
