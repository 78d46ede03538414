// ScreenHarness: the test bench of the screen. It stands in for the host: a
// recording server double (or, when a test sets one, any transport factory),
// scripted dialogs, a window system that plays a queued session for each
// modal form, host services with a fixed branch and operator, and a SQLite
// database for the two look-ups (TRANSPORT, TIPOTRANSP). The module globals
// are reset before each test. Not copyable; the user-interface thread only.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contracts/halvorn.h"
#include "contracts/sqlite_connection.h"
#include "data/variant.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/globals.h"
#include "screen/testing/recording_server.h"
#include "ui/application.h"

namespace dg::screen::testing {

// Plays, for each modal form, the next session queued under its name (the
// form is activated first); a form with no session is closed at once. A
// form still open after its session is closed with the answer Yes queued,
// as the player does; one that refuses is an Error.
class ScriptedWindows : public ui::WindowSystem {
 public:
  using Session = std::function<void(ui::Form&)>;
  void Queue(const std::string& form_name, Session session);
  void ShowModal(ui::Form& form) override;
  ui::ScriptedDialogs* dialogs = nullptr;

 private:
  std::map<std::string, std::deque<Session>> sessions_;
};

// The caller's five result variables of one launch.
struct CallerVars {
  bool opcao = false;
  std::string nr_grade, nr_insc, tp_trans, id_frete;
  std::string Print() const;  // "true 17 J1 0001 9"
};

// One item row of the launch packet, by field name.
using ItemRow = std::map<std::string, data::Variant>;
// The launch packet: the item packet fields, the rows' values by name.
data::DataPacket ItemPacket(const std::vector<ItemRow>& rows);

class ScreenHarness : public ::testing::Test {
 protected:
  ScreenHarness();
  ~ScreenHarness() override;

  // Parameters GetParametros answers with.
  void Parametros(const std::string& modo, const std::string& insc = "",
                  const std::string& tipo = "");
  // Launches through IniProc with the items; `session` runs while the
  // screen is shown (after its first activation).
  void Launch(const std::vector<ItemRow>& items, ScriptedWindows::Session session);
  // Queues answers for the next questions.
  void Answers(std::initializer_list<ui::Answer> answers);
  // Runs a user action as an event does: failures go to the application's
  // error handling (dg::Abort is swallowed), reported into `failures`.
  void Do(const std::function<void()>& action);

  TfrmGradeDistribuicao& Screen() const { return *frmGradeDistribuicao; }

  RecordingServer server;
  ui::ScriptedDialogs dialogs;
  ScriptedWindows windows;
  contracts::SimpleHostServices host;
  std::unique_ptr<contracts::SqliteConnection> db;
  CallerVars vars;
  std::vector<std::string> failures;

 private:
  std::unique_ptr<ui::ScopedDialogs> scoped_;
};

}  // namespace dg::screen::testing
