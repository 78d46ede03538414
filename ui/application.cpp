#include "ui/application.h"

#include "data/errors.h"
#include "ui/text.h"

namespace dg::ui {

namespace {

// Without a window system nothing can be shown modally.
class NoWindowSystem : public WindowSystem {
 public:
  void ShowModal(Form& form) override { throw Error("no window system to show " + form.Name()); }
};

NoWindowSystem& DefaultWindows() {
  static NoWindowSystem windows;
  return windows;
}

ScriptedDialogs& DefaultDialogs() {
  static ScriptedDialogs dialogs;
  return dialogs;
}

}  // namespace

Application::Application() = default;

void Application::SetWindowSystem(WindowSystem* windows) { windows_ = windows; }

WindowSystem& Application::Windows() { return windows_ ? *windows_ : DefaultWindows(); }

void Application::SetDialogs(Dialogs* dialogs) { dialogs_ = dialogs; }

Dialogs& Application::Dlg() { return dialogs_ ? *dialogs_ : DefaultDialogs(); }

void Application::BeginBusy() {
  if (busy_depth_++ == 0) Windows().BusyChanged(true);
}

void Application::EndBusy() {
  if (busy_depth_ == 0) return;
  if (--busy_depth_ == 0) Windows().BusyChanged(false);
}

void Application::HandleException(std::exception_ptr failure) noexcept {
  if (!failure) return;
  std::string text;
  try {
    std::rethrow_exception(failure);
  } catch (const Abort&) {
    return;
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "Falha desconhecida [unknown failure].";
  }
  try {
    if (on_error_report) {
      on_error_report(text);
    } else {
      Dlg().Error(text);
    }
  } catch (...) {
    // A failing report has nowhere further to go.
  }
}

Application& App() {
  static Application app;
  return app;
}

ScopedDialogs::ScopedDialogs(Dialogs* dialogs, WindowSystem* windows)
    : saved_dialogs_(&App().Dlg()),
      saved_windows_(&App().Windows()),
      set_windows_(windows != nullptr) {
  App().SetDialogs(dialogs);
  if (set_windows_) App().SetWindowSystem(windows);
}

ScopedDialogs::~ScopedDialogs() {
  App().SetDialogs(saved_dialogs_);
  if (set_windows_) App().SetWindowSystem(saved_windows_);
}

// ---- ScriptedDialogs

void ScriptedDialogs::QueuePick(std::optional<int> row) {
  matchers_.push_back([row](const ListDialog&) { return row; });
}

Answer ScriptedDialogs::Question(const std::string& text) {
  Answer answer = Answer::No;
  last_defaulted_ = answers_.empty();
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.erase(answers_.begin());
  }
  log_.push_back("question: " + text + (answer == Answer::Yes ? " -> yes" : " -> no"));
  return answer;
}

void ScriptedDialogs::Error(const std::string& text) { log_.push_back("error: " + text); }

void ScriptedDialogs::Info(const std::string& text) { log_.push_back("info: " + text); }

std::optional<int> ScriptedDialogs::PickFromList(const ListDialog& list) {
  last_list_ = list;
  std::optional<int> picked;
  if (!matchers_.empty()) {
    Matcher matcher = std::move(matchers_.front());
    matchers_.erase(matchers_.begin());
    picked = matcher(list);
  }
  if (picked && (*picked < 0 || *picked >= static_cast<int>(list.rows.size()))) picked.reset();
  log_.push_back("list: " + list.title + " (" + std::to_string(list.rows.size()) + " rows) -> " +
                 (picked ? std::to_string(*picked) : std::string("none")));
  return picked;
}

std::string ScriptedDialogs::Joined() const { return JoinTexts(log_, " | "); }

}  // namespace dg::ui
