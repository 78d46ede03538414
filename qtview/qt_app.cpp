// The application object, the window system, the dialogs and the offscreen
// render of the public interface (qtview.h).
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <optional>

#include "qtview/form_view.h"
#include "qtview/qtview.h"
#include "qtview/view_support.h"
#include "qtview/window_place.h"

namespace dg::qtview {

namespace {

// The pixel height of the screens' default font.
constexpr int kFontPixels = 11;

bool SetUpApplication() {
  QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
  QFont font = QApplication::font();
  font.setPixelSize(kFontPixels);
  QApplication::setFont(font);
  auto* translator = new QTranslator(qApp);
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const bool found = translator->load(QStringLiteral("qtbase_pt_BR"), dir) ||
                     translator->load(QStringLiteral("qtbase_pt_BR"),
                                      QStringLiteral("/usr/share/qt6/translations"));
  if (found) {
    QCoreApplication::installTranslator(translator);
  } else {
    delete translator;
  }
  return found;
}

QString ButtonText(const QAbstractButton* button) {
  return button != nullptr ? button->text().remove(QLatin1Char('&')) : QString();
}

}  // namespace

bool EnsureApplication(int& argc, char** argv) {
  if (QCoreApplication::instance() == nullptr) {
    new QApplication(argc, argv);  // lives as long as the process
  }
  static const bool translated = SetUpApplication();
  return translated;
}

bool EnsureApplication() {
  static int argc = 1;
  static char name[] = "exp-host";
  static char* argv[] = {name, nullptr};
  return EnsureApplication(argc, argv);
}

bool RenderFormToPng(const ui::Form& form, const std::string& path) {
  EnsureApplication();
  // Rendering reads the form and fires nothing; the view needs the
  // non-const form only because interactive views act on it.
  FormView view(const_cast<ui::Form&>(form), /*interactive=*/false);
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  QCoreApplication::processEvents();
  view.Refresh();
  const QPixmap picture = view.grab();
  view.hide();
  return !picture.isNull() && picture.save(QtText(path), "PNG");
}

// ---- QtWindowSystem

struct QtWindowSystem::Impl {
  struct Command {
    std::string menu, caption, shortcut;
    std::function<void()> run;
  };
  std::vector<Command> commands;
  std::vector<FormView*> views;
  bool busy = false;

  FormView* Top() const { return views.empty() ? nullptr : views.back(); }
};

QtWindowSystem::QtWindowSystem() : impl_(std::make_unique<Impl>()) {
  // The screen is activated when it is shown, not when the clerk comes back
  // to this program from another one: that is the application's activation,
  // not the form's, and the screen's activation starts over in the
  // transporter panel, which would discard the grid the clerk is building.
  EnsureApplication();
}

QtWindowSystem::~QtWindowSystem() {
  if (impl_->busy) QApplication::restoreOverrideCursor();
}

void QtWindowSystem::ShowModal(ui::Form& form) {
  FormView view(form, /*interactive=*/true, impl_->Top());
  view.setModal(true);
  if (form.position != ui::Position::Designed) {
    const QWidget* over = impl_->Top();
    const QRect area = form.position == ui::Position::MainFormCenter && over != nullptr
                           ? over->frameGeometry()
                           : QGuiApplication::primaryScreen()->availableGeometry();
    view.move(area.center() - view.rect().center());
  } else {
    view.move(form.left, form.top);
  }
  // A dialog keeps its size. A screen opens at least at its designed size
  // and may grow: on a display, as large as the clerk left it last time,
  // else at nine tenths of the screen, with the clerk's splitters.
  const bool keeps = form.border_style == ui::BorderStyle::Single && KeepsWindows();
  if (form.border_style == ui::BorderStyle::Dialog) {
    view.setFixedSize(view.size());
  } else if (form.border_style == ui::BorderStyle::Single) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    view.setMinimumSize(view.size().boundedTo(screen.size()));
    if (keeps) {
      const KeptWindow kept = LoadWindow(form.Name());
      const QSize design = view.size();
      std::optional<QRect> saved;
      if (!kept.geometry.isEmpty() && view.restoreGeometry(kept.geometry)) {
        saved = view.geometry();
      }
      // Where it was, unless the screen can no longer hold it there.
      const QRect at = OpeningGeometry(design, screen, saved);
      if (!saved || at != *saved) view.setGeometry(at);
      view.SetSplitterShares(kept.shares);
    }
  }
  if (impl_->views.empty() && !impl_->commands.empty()) AddCommands(view);
  impl_->views.push_back(&view);
  struct Pop {
    std::vector<FormView*>& views;
    ~Pop() { views.pop_back(); }
  } pop{impl_->views};
  view.after_gesture = [&view, &form] {
    if (!form.IsOpen() && view.isVisible()) view.done(0);
  };
  view.show();
  view.raise();
  view.activateWindow();  // no window manager (Xvfb) activates it otherwise
  RunUserAction([&form] { form.Activate(); });
  view.Refresh();
  if (form.IsOpen()) view.exec();
  if (keeps) SaveWindow(form.Name(), {view.saveGeometry(), view.SplitterShares()});
}

void QtWindowSystem::AddCommand(const std::string& menu, const std::string& caption,
                                const std::string& shortcut, std::function<void()> run) {
  impl_->commands.push_back({menu, caption, shortcut, std::move(run)});
}

void QtWindowSystem::AddCommands(FormView& view) {
  auto* bar = view.findChild<QMenuBar*>();
  for (const Impl::Command& command : impl_->commands) {
    QMenu* menu = nullptr;
    if (bar != nullptr) {
      for (QAction* a : bar->actions()) {
        if (a->menu() != nullptr && a->text() == QtText(command.menu)) menu = a->menu();
      }
      if (menu == nullptr) menu = bar->addMenu(QtText(command.menu));
    }
    QAction* action = menu != nullptr ? menu->addAction(QtText(command.caption))
                                      : new QAction(QtText(command.caption), &view);
    if (menu == nullptr) view.addAction(action);
    if (!command.shortcut.empty()) action->setShortcut(QKeySequence(QtText(command.shortcut)));
    QObject::connect(action, &QAction::triggered, &view, [&view, run = command.run] {
      RunUserAction(run);
      view.Refresh();
    });
  }
}

std::optional<std::string> AskSavePath(const std::string& title, const std::string& suggested,
                                       const std::string& filter) {
  EnsureApplication();
  // A name typed without the filter's extension gets it ("romaneio 15.07"
  // is saved as romaneio 15.07.pdf), as the list shows only files with it.
  static const QRegularExpression kFirstExtension(QStringLiteral("\\*\\.(\\w+)"));
  const QRegularExpressionMatch match = kFirstExtension.match(QtText(filter));
  const QString extension = match.hasMatch() ? match.captured(1) : QString();
  QString suggestion = QtText(suggested);
  for (;;) {
    QFileDialog dialog(QApplication::activeWindow(), QtText(title), suggestion, QtText(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog adds it to a name without any dot, and asks before
    // replacing the file it names.
    dialog.setDefaultSuffix(extension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    QString path = dialog.selectedFiles().front();
    if (extension.isEmpty() || path.endsWith(QLatin1Char('.') + extension, Qt::CaseInsensitive)) {
      return StdText(path);
    }
    // A name with a dot of its own: the extension added here, and the
    // question the dialog asked of the name typed asked again of this one.
    path += (path.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")) + extension;
    if (!QFileInfo::exists(path)) return StdText(path);
    QMessageBox box(QMessageBox::Warning, QtText(title),
                    QFileInfo(path).fileName() + QStringLiteral(" já existe.\nDeseja substituí-lo?"),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes) return StdText(path);
    suggestion = path;
  }
}

std::optional<std::pair<std::string, std::string>> AskSignIn(const std::string& server,
                                                             const std::string& operator_code,
                                                             const std::string& why) {
  EnsureApplication();
  QDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(QStringLiteral("Entrar"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QStringLiteral("Servidor: ") + QtText(server)));
  auto* form = new QFormLayout;
  auto* code = new QLineEdit(QtText(operator_code));
  code->setMaxLength(40);
  auto* password = new QLineEdit;
  password->setEchoMode(QLineEdit::Password);
  password->setMaxLength(1024);
  form->addRow(QStringLiteral("Operador:"), code);
  form->addRow(QStringLiteral("Senha:"), password);
  layout->addLayout(form);
  if (!why.empty()) {
    auto* refusal = new QLabel(QtText(why));
    refusal->setStyleSheet(QStringLiteral("color: #b00000"));
    refusal->setWordWrap(true);
    layout->addWidget(refusal);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  (operator_code.empty() ? code : password)->setFocus();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  std::pair<std::string, std::string> given{StdText(code->text().trimmed()),
                                            StdText(password->text())};
  password->clear();
  return given;
}

void QtWindowSystem::Repaint(ui::Form& form) {
  for (FormView* view : impl_->views) {
    if (&view->Form() != &form) continue;
    view->Refresh();
    if (view->updatesEnabled()) view->repaint();
  }
}

void QtWindowSystem::WaitAnimationChanged(int kind) {
  if (FormView* top = impl_->Top()) top->ShowBusyIndicator(kind != 0);
}

void QtWindowSystem::BusyChanged(bool busy) {
  if (busy == impl_->busy) return;
  impl_->busy = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

// ---- QtDialogs

struct QtDialogs::Impl {
  std::optional<ui::Answer> automatic;
  int list_row = 0;
  std::vector<std::string> shown;

  // Shows the box modally; in test mode the named button is pressed once
  // the box is up.
  int Run(QMessageBox& box, QMessageBox::StandardButton automatic_button) {
    if (automatic) {
      QTimer::singleShot(0, &box, [&box, automatic_button] {
        if (QAbstractButton* b = box.button(automatic_button)) {
          QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
        }
      });
    }
    return box.exec();
  }

  std::string Buttons(const QMessageBox& box) const {
    QStringList texts;
    for (QAbstractButton* b : box.buttons()) texts << ButtonText(b);
    return StdText(texts.join(QLatin1Char('|')));
  }

  void Note(const char* kind, const std::string& text, QMessageBox::Icon icon,
            const QString& title) {
    QMessageBox box(icon, title, QtText(text), QMessageBox::Ok, QApplication::activeWindow());
    Run(box, QMessageBox::Ok);
    shown.push_back(std::string(kind) + ": " + text + " [" + Buttons(box) + "]");
  }
};

QtDialogs::QtDialogs() : impl_(std::make_unique<Impl>()) { EnsureApplication(); }

QtDialogs::~QtDialogs() = default;

void QtDialogs::AnswerAutomatically(std::optional<ui::Answer> answer, int list_row) {
  impl_->automatic = answer;
  impl_->list_row = list_row;
}

const std::vector<std::string>& QtDialogs::Shown() const { return impl_->shown; }

ui::Answer QtDialogs::Question(const std::string& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmação"), QtText(text),
                  QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
  box.setDefaultButton(QMessageBox::Yes);
  const auto press = impl_->automatic == ui::Answer::Yes ? QMessageBox::Yes : QMessageBox::No;
  const ui::Answer answer =
      impl_->Run(box, press) == QMessageBox::Yes ? ui::Answer::Yes : ui::Answer::No;
  impl_->shown.push_back("question: " + text + " [" + impl_->Buttons(box) + "] -> " +
                         (answer == ui::Answer::Yes ? "yes" : "no"));
  return answer;
}

void QtDialogs::Error(const std::string& text) {
  impl_->Note("error", text, QMessageBox::Critical, QStringLiteral("Erro"));
}

void QtDialogs::Info(const std::string& text) {
  impl_->Note("info", text, QMessageBox::Information, QStringLiteral("Informação"));
}

std::optional<int> QtDialogs::PickFromList(const ui::ListDialog& list) {
  QDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(QtText(list.title));
  auto* layout = new QVBoxLayout(&dialog);
  auto* table = new QTableWidget(static_cast<int>(list.rows.size()),
                                 static_cast<int>(list.columns.size()), &dialog);
  QStringList titles;
  for (const std::string& c : list.columns) titles << QtText(c);
  table->setHorizontalHeaderLabels(titles);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->verticalHeader()->hide();
  for (std::size_t r = 0; r < list.rows.size(); ++r) {
    for (std::size_t c = 0; c < list.rows[r].size() && c < list.columns.size(); ++c) {
      table->setItem(static_cast<int>(r), static_cast<int>(c),
                     new QTableWidgetItem(QtText(list.rows[r][c])));
    }
  }
  if (!list.rows.empty()) table->selectRow(0);
  table->resizeColumnsToContents();
  layout->addWidget(table);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(table, &QTableWidget::cellDoubleClicked, &dialog, &QDialog::accept);
  dialog.resize(520, 320);
  if (impl_->automatic) {
    const bool pick = *impl_->automatic == ui::Answer::Yes && impl_->list_row >= 0 &&
                      impl_->list_row < table->rowCount();
    const int row = impl_->list_row;
    QTimer::singleShot(0, &dialog, [&dialog, table, buttons, pick, row] {
      if (!pick) {
        QAbstractButton* cancel = buttons->button(QDialogButtonBox::Cancel);
        QTest::mouseClick(cancel, Qt::LeftButton, {}, cancel->rect().center());
        return;
      }
      // A double click on the row picks it.
      QTableWidgetItem* item = table->item(row, 0);
      if (item == nullptr) {
        dialog.reject();
        return;
      }
      table->scrollToItem(item);
      const QPoint at = table->visualItemRect(item).center();
      QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
      if (dialog.isVisible()) {
        // Where the platform took no double click: the row, then Enter.
        table->setCurrentCell(row, 0);
        QTest::keyClick(table, Qt::Key_Return);
      }
      if (dialog.isVisible()) dialog.accept();
    });
  }
  std::optional<int> picked;
  if (dialog.exec() == QDialog::Accepted && table->currentRow() >= 0) picked = table->currentRow();
  impl_->shown.push_back("list: " + list.title + " (" + std::to_string(list.rows.size()) +
                         " rows) -> " + (picked ? std::to_string(*picked) : "none"));
  return picked;
}

}  // namespace dg::qtview
