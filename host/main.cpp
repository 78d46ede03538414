// exp-host: the host program of the dispatch distribution grid (see
// host.h). With the Qt view built in, the screen opens on the display and
// --screenshots renders each step of a session offscreen.
#include <cstdlib>
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
  if (scripted && !options.screenshots.empty()) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::unique_ptr<dg::qtview::QtWindowSystem> windows;
  std::unique_ptr<dg::qtview::QtDialogs> dialogs;
  if ((scripted && !options.screenshots.empty()) || (!scripted && has_display)) {
    dg::qtview::EnsureApplication(argc, argv);
  }
  if (!scripted && has_display) {
    windows = std::make_unique<dg::qtview::QtWindowSystem>();
    dialogs = std::make_unique<dg::qtview::QtDialogs>();
    display.windows = windows.get();
    display.dialogs = dialogs.get();
  }
  if (scripted && !options.screenshots.empty()) {
    display.screenshot = [](const dg::ui::Form& form, const std::string& stem) {
      dg::qtview::RenderFormToPng(form, stem + ".png");
    };
  }
#endif
  return dg::host::RunHost(options, display, std::cout, std::cerr);
}
