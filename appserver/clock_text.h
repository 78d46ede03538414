// Times of day as the distributor's files and the screen write them: "07:30"
// and receiving windows "07:00-11:00", in minutes from midnight of the day
// of delivery.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dg::server::clock {

// "7:30", "07:30", "7h30", "7h": minutes from midnight (0 to 1440; "24:00"
// is the end of the day). None for anything else ("25:00", "07:60", "7,5").
std::optional<double> ParseTime(std::string_view text);

// A receiving window "07:00-11:00" (blanks around the dash allowed, an en
// dash or " a " too). Intentionally copyable.
struct Window {
  double open = 0, close = 0;
};
// The window, or the reason it is refused (Portuguese, the cell quoted by
// the caller before it): "não é uma janela (hh:mm-hh:mm)", "fecha antes de abrir".
struct WindowRead {
  std::optional<Window> window;
  std::string reason;
};
WindowRead ParseWindow(std::string_view text);

// "07:05"; hours past the day's end go on counting ("25:10"), a value
// below zero is "00:00". Rounded to the minute.
std::string TimeText(double minutes);
// "07:00-11:00"
std::string WindowText(const Window& window);

}  // namespace dg::server::clock
