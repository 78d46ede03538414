// The scripted player: the window system and the dialogs of a session with
// no display. Showing a form runs the session's next steps on it, as the
// user's actions, until it closes; questions take the session's queued
// answers; every step, dialog and expectation goes to the trace.
//
// The first form shown is the screen: before any step runs, every name the
// session uses is checked against it. A session that names something
// unknown runs no step at all: the player closes the screen at once and
// Invalid() says why.
//
// The steps are performed through a ui::UserInput: on the headless
// controls by default, or as events on a real window (SetInput). Either
// way the dialogs are answered as the session says, and the trace written
// here is the same.
//
// The player does not own the session, trace, hooks or input; they must
// outlive it. Not copyable; the user-interface thread only.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/session.h"
#include "host/trace.h"
#include "ui/application.h"
#include "ui/user_input.h"

namespace dg::host {

class Player : public ui::WindowSystem, public ui::Dialogs {
 public:
  // Writes a picture of the form to "<stem>.png" (the --screenshots hook).
  using Screenshot = std::function<void(const ui::Form& form, const std::string& stem)>;

  Player(const Session& session, Trace& trace, GlobalLookup globals);
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Performs the steps (and presses the dialogs' buttons) through `input`
  // instead of directly on the headless controls.
  void SetInput(ui::UserInput& input) { input_ = &input; }

  // Pictures go to `dir` as NNN-verb.png, one per step.
  void SetScreenshots(std::string dir, Screenshot shot);

  void ShowModal(ui::Form& form) override;
  void WaitAnimationChanged(int kind) override { wait_kind_ = kind; }

  ui::Answer Question(const std::string& text) override;
  void Error(const std::string& text) override;
  void Info(const std::string& text) override;
  std::optional<int> PickFromList(const ui::ListDialog& list) override;

  // The caller variables of the running launch, read by "host.P..."
  // expectations (null between launches); they must outlive the launch.
  void SetCallerVariables(const HandBack* values) { caller_ = values; }
  // A failure reached the host's error report ("host.failure").
  void NoteFailure(const std::string& text) { last_failure_ = text; }

  // Why the session cannot run on this screen, once the screen was shown.
  const std::optional<std::string>& Invalid() const { return invalid_; }
  bool ExpectationFailed() const { return expectation_failed_; }
  // Steps not played yet (the screen closed for good before them).
  int StepsLeft() const { return static_cast<int>(session_.steps.size() - next_); }
  // Whether a step not played is an expectation: one that never ran did not
  // hold, so that a screen closing too early cannot pass for a good session.
  bool ExpectationsLeft() const;

 private:
  void Run(const Step& step, ui::Form& form);
  ui::Outcome Do(const Step& step, ui::Form& form);
  void Expect(const Step& step, ui::Form& form);
  void CloseAtEnd(ui::Form& form);
  // "host.NAME" as an expectation reads it; none for an unknown name.
  std::optional<nlohmann::json> HostState(const std::string& name) const;
  void TakeShot(const ui::Form& form);
  ui::Control& Target(const Step& step, ui::Form& form) const;

  const Session& session_;
  Trace& trace_;
  ui::UserInput headless_;
  ui::UserInput* input_ = &headless_;
  GlobalLookup globals_;
  std::string shot_dir_;
  Screenshot shot_;
  std::optional<std::string> shot_pending_;  // stem of the step's picture

  std::size_t next_ = 0;
  std::vector<ui::Form*> shown_;  // the screen first, its dialogs above it
  std::deque<ui::Answer> answers_;
  std::optional<nlohmann::json> pick_where_;
  bool checked_ = false;
  std::optional<std::string> invalid_;
  bool expectation_failed_ = false;

  int wait_kind_ = 0;  // the wait animation's kind, 0 while hidden
  std::optional<std::string> last_failure_, last_error_;
  const HandBack* caller_ = nullptr;
};

}  // namespace dg::host
