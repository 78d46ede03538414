// exp-host: the host program of the dispatch distribution grid (see
// host.h). With the Qt view built in, the screen opens on the display,
// --screenshots renders each step of a session offscreen, and the loading
// manifest is printed as PDF.
#include <cstdlib>
#include <functional>
#include <iostream>

#include "host/host.h"

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
  // Whatever is drawn without the screen (pictures, printed documents) is
  // drawn offscreen.
  if (!on_screen) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::unique_ptr<dg::qtview::QtWindowSystem> windows;
  std::unique_ptr<dg::qtview::QtDialogs> dialogs;
  if ((scripted && !options.screenshots.empty()) || on_screen) {
    dg::qtview::EnsureApplication(argc, argv);
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
    display.screenshot = [](const dg::ui::Form& form, const std::string& stem) {
      if (!dg::qtview::RenderFormToPng(form, stem + ".png")) {
        throw dg::Error("cannot write the picture " + stem + ".png");
      }
    };
  }
  display.write_pdf = [](const dg::ui::Report& report, const std::string& path) {
    dg::qtview::WriteReportPdf(report, path);
  };
#endif
  return dg::host::RunHost(options, display, std::cout, std::cerr);
}
