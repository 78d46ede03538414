// Small conversions between the headless toolkit and Qt, and the one place
// where a user gesture's failure is handed to the application.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QFont>
#include <QString>
#include <exception>
#include <string>

#include "ui/application.h"
#include "ui/control.h"

namespace dg::qtview {

inline QString QtText(const std::string& text) { return QString::fromStdString(text); }
inline std::string StdText(const QString& text) { return text.toStdString(); }

// Where the keys typed into a cell editor go: an editable pick list's line,
// else the editor itself.
inline QWidget* EditorKeyTarget(QWidget* editor) {
  if (auto* box = qobject_cast<QComboBox*>(editor); box != nullptr && box->lineEdit()) {
    return box->lineEdit();
  }
  return editor;
}

inline QColor QtColor(ui::Color c) { return QColor(c.r, c.g, c.b); }

inline Qt::Alignment QtAlignment(ui::Alignment a) {
  switch (a) {
    case ui::Alignment::Right:
      return Qt::AlignRight;
    case ui::Alignment::Center:
      return Qt::AlignHCenter;
    case ui::Alignment::Left:
      break;
  }
  return Qt::AlignLeft;
}

// The widget font for a control's font: bold and pixel height over `base`.
QFont QtFont(const ui::Font& font, const QFont& base);

// Runs a user gesture; a failure goes to App().HandleException (which
// swallows the silent abort and reports the rest). Returns whether it ran
// without failure.
template <typename Fn>
bool RunUserAction(Fn&& fn) {
  try {
    fn();
    return true;
  } catch (...) {
    ui::App().HandleException(std::current_exception());
    return false;
  }
}

}  // namespace dg::qtview
