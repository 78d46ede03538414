// Where a resizable window opens and what of it is kept between runs: its
// frame, and the share of each control the clerk set with a splitter.
//
// OpeningGeometry is a pure function; the settings are the user's own
// (QSettings, organisation "exp", application "exp-host"), read and written
// only for windows on a real display (never on the offscreen or minimal
// platforms the tests and scripted sessions use). The GUI thread only.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <map>
#include <optional>
#include <string>

namespace dg::qtview {

// The window's geometry (its client area) on a screen whose free area is
// `available`: the one `saved` from the last run, made to fit the screen
// (smaller and moved inside it when the screen got smaller); without one,
// nine tenths of the screen, centred. Never smaller than `design` (the size
// the form was designed for) unless the screen is.
QRect OpeningGeometry(QSize design, const QRect& available, const std::optional<QRect>& saved);

// What was kept of the form's window, by the form's name: its geometry as
// QWidget::saveGeometry gives it (frame and screen included), and the
// splitters' shares.
struct KeptWindow {
  QByteArray geometry;
  std::map<std::string, double> shares;  // control name -> share of its parent's width
};
bool KeepsWindows();  // false on the offscreen and minimal platforms
KeptWindow LoadWindow(const std::string& form);
void SaveWindow(const std::string& form, const KeptWindow& kept);

}  // namespace dg::qtview
