#include "qtview/window_place.h"

#include <QGuiApplication>
#include <QSettings>
#include <algorithm>

#include "qtview/view_support.h"

namespace dg::qtview {

QRect OpeningGeometry(QSize design, const QRect& available, const std::optional<QRect>& saved) {
  const QSize smallest = design.boundedTo(available.size());
  QSize size;
  QPoint at;
  if (saved && saved->isValid() && saved->intersects(available)) {
    size = saved->size().boundedTo(available.size()).expandedTo(smallest);
    at = saved->topLeft();
  } else {
    size = (available.size() * 0.9).expandedTo(smallest).boundedTo(available.size());
    at = available.topLeft() +
         QPoint((available.width() - size.width()) / 2, (available.height() - size.height()) / 2);
  }
  // Wholly on the screen.
  at.setX(std::clamp(at.x(), available.left(), available.right() + 1 - size.width()));
  at.setY(std::clamp(at.y(), available.top(), available.bottom() + 1 - size.height()));
  return QRect(at, size);
}

bool KeepsWindows() {
  const QString platform = QGuiApplication::platformName();
  return platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal");
}

namespace {

QString Key(const std::string& form, const char* what) {
  return QStringLiteral("janelas/") + QtText(form) + QLatin1Char('/') + QLatin1String(what);
}

}  // namespace

KeptWindow LoadWindow(const std::string& form) {
  KeptWindow kept;
  QSettings settings(QStringLiteral("exp"), QStringLiteral("exp-host"));
  kept.geometry = settings.value(Key(form, "geometria")).toByteArray();
  settings.beginGroup(Key(form, "divisorias"));
  for (const QString& name : settings.childKeys()) {
    bool ok = false;
    const double share = settings.value(name).toDouble(&ok);
    if (ok && share > 0 && share < 1) kept.shares[StdText(name)] = share;
  }
  settings.endGroup();
  return kept;
}

void SaveWindow(const std::string& form, const KeptWindow& kept) {
  QSettings settings(QStringLiteral("exp"), QStringLiteral("exp-host"));
  if (!kept.geometry.isEmpty()) settings.setValue(Key(form, "geometria"), kept.geometry);
  settings.remove(Key(form, "divisorias"));
  settings.beginGroup(Key(form, "divisorias"));
  for (const auto& [name, share] : kept.shares) settings.setValue(QtText(name), share);
  settings.endGroup();
}

}  // namespace dg::qtview
