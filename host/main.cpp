// exp-host: the host program of the dispatch distribution grid (see
// host.h). With the Qt view built in, the screen opens on the display,
// --screenshots renders each step of a session offscreen, --through-window
// plays a session on the real window, and the loading manifest is printed
// as PDF.
#include <cstdlib>
#include <functional>
#include <iostream>

#include "host/host.h"
#include "host/stop_signal.h"

#ifdef EXP_HOST_WITH_QT
#include "qtview/qtview.h"
#endif

int main(int argc, char** argv) {
  dg::host::Options options;
  try {
    options = dg::host::ParseOptions(argc, argv);
  } catch (const dg::host::UsageError& e) {
    std::cerr << "exp-host: " << e.what() << "\n" << dg::host::UsageText();
    return 2;
  }
  dg::host::Display display;
#ifdef EXP_HOST_WITH_QT
  const bool has_display =
      std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
  const bool scripted = !options.script.empty();
  const bool on_screen =
      !scripted && has_display && options.manifest_grid.empty() && options.import_files.empty();
  const bool window_played = scripted && options.through_window;
  // Whatever is drawn without the screen (pictures, printed documents, a
  // session played on the window without a display) is drawn offscreen.
  if (!on_screen && !(window_played && has_display)) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Before Qt starts its threads: they must not take the stopping signals.
  if (on_screen) dg::host::StopOnSignals();
  std::unique_ptr<dg::qtview::QtWindowSystem> windows;
  std::unique_ptr<dg::qtview::QtDialogs> dialogs;
  std::unique_ptr<dg::qtview::WindowInput> window_input;
  if ((scripted && !options.screenshots.empty()) || on_screen || window_played) {
    dg::qtview::EnsureApplication(argc, argv);
  }
  if (window_played) {
    window_input = std::make_unique<dg::qtview::WindowInput>();
    display.window_input = window_input.get();
  }
  if (on_screen) {
    windows = std::make_unique<dg::qtview::QtWindowSystem>();
    dialogs = std::make_unique<dg::qtview::QtDialogs>();
    display.windows = windows.get();
    display.dialogs = dialogs.get();
    display.add_command = [w = windows.get()](const std::string& menu, const std::string& caption,
                                              const std::string& shortcut,
                                              std::function<void()> run) {
      w->AddCommand(menu, caption, shortcut, std::move(run));
    };
    display.ask_save_path = [](const std::string& title, const std::string& suggested) {
      return dg::qtview::AskSavePath(title, suggested, "PDF (*.pdf)");
    };
    display.ask_sign_in = [](const std::string& server, const std::string& code,
                             const std::string& why) {
      return dg::qtview::AskSignIn(server, code, why);
    };
  }
  if (scripted && !options.screenshots.empty()) {
    // A session played on the window: pictures of that window.
    display.screenshot = [w = window_input.get()](const dg::ui::Form& form,
                                                  const std::string& stem) {
      const std::string path = stem + ".png";
      if (w != nullptr ? !w->GrabToPng(form, path) : !dg::qtview::RenderFormToPng(form, path)) {
        throw dg::Error("cannot write the picture " + path);
      }
    };
  }
  display.write_pdf = [](const dg::ui::Report& report, const std::string& path) {
    dg::qtview::WriteReportPdf(report, path);
  };
#endif
  return dg::host::RunHost(options, display, std::cout, std::cerr);
}
