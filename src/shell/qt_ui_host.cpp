#include "shell/qt_ui_host.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

#include "engine/window_positions.h"
#include "platform/ui_host.h"
#include "shell/progress_dialog.h"
#include "shell/shell.h"
#include "shell/shell_dialogs.h"
#include "shell/vellgrim_frame.h"

namespace {

QWidget* dialog_parent() { return QApplication::activeModalWidget() ? QApplication::activeModalWidget() : shell.frame; }

ui_answer message_box(void*, const char* title, const char* text, ui_icon icon, ui_buttons buttons) {
  QMessageBox box(dialog_parent());
  // A box without a caption gets the system's default one.
  box.setWindowTitle(title[0] ? QString::fromLatin1(title) : QString("Error"));
  box.setText(QString::fromLatin1(text));
  switch (icon) {
    case ui_icon_information: box.setIcon(QMessageBox::Information); break;
    case ui_icon_warning: box.setIcon(QMessageBox::Warning); break;
    case ui_icon_error: box.setIcon(QMessageBox::Critical); break;
    case ui_icon_question: box.setIcon(QMessageBox::Question); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  switch (buttons) {
    case ui_buttons_ok: box.setStandardButtons(QMessageBox::Ok); break;
    case ui_buttons_ok_cancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case ui_buttons_yes_no: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case ui_buttons_yes_no_cancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok: return ui_answer_ok;
    case QMessageBox::Yes: return ui_answer_yes;
    case QMessageBox::No: return ui_answer_no;
    default: return buttons == ui_buttons_yes_no ? ui_answer_no : ui_answer_cancel;
  }
}

// Filters come as "Name|pattern|Name|pattern"; Qt wants "Name (pattern);;Name (pattern)". A filter
// without a bar is taken as Qt's own.
QString qt_filter(const char* filter) {
  const QString text = QString::fromLatin1(filter ? filter : "");
  if (!text.contains('|')) return text;
  const QStringList parts = text.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) filters << QString("%1 (%2)").arg(parts[i], parts[i + 1]);
  return filters.join(";;");
}

// A file dialog may leave the process in another folder; the tag store, the log and the lock are
// found through the current one, so every file dialog gives it back.
class current_directory_keeper {
 public:
  current_directory_keeper() : saved_(QDir::currentPath()) {}
  ~current_directory_keeper() { QDir::setCurrent(saved_); }
  current_directory_keeper(const current_directory_keeper&) = delete;
  current_directory_keeper& operator=(const current_directory_keeper&) = delete;

 private:
  QString saved_;
};

// File dialogs start where the user last chose a file (kept in the profile), at first in the home
// folder: never in the program's own folder, where the store lies.
constexpr char kFileDialogSection[] = "File Dialogs";
constexpr char kLastFolderKey[] = "lastFolder";

QString starting_path(const std::string& suggested) {
  const QFileInfo given(QString::fromStdString(suggested));
  if (!suggested.empty() && given.isAbsolute()) return given.filePath();
  std::string remembered;
  QString folder = QDir::homePath();
  if (profile_read_text(kFileDialogSection, kLastFolderKey, &remembered) && QDir(QString::fromStdString(remembered)).exists())
    folder = QString::fromStdString(remembered);
  return suggested.empty() ? folder : QDir(folder).filePath(given.filePath());
}

bool choose_file(bool save, const char* title, const char* filter, std::string& path) {
  current_directory_keeper keeper;
  const QString suggested = starting_path(path);
  const QString chosen =
      save ? QFileDialog::getSaveFileName(dialog_parent(), QString::fromLatin1(title), suggested, qt_filter(filter))
           : QFileDialog::getOpenFileName(dialog_parent(), QString::fromLatin1(title), suggested, qt_filter(filter));
  if (chosen.isEmpty()) return false;
  path = chosen.toStdString();
  (void)profile_write_text(kFileDialogSection, kLastFolderKey, QFileInfo(chosen).absolutePath().toStdString());
  return true;
}

bool choose_open_file(void*, const char* title, const char* filter, std::string& path) {
  return choose_file(false, title, filter, path);
}

bool choose_save_file(void*, const char* title, const char* filter, std::string& path) {
  return choose_file(true, title, filter, path);
}

bool choose_tag(void*, const char* title, uint32_t group, int32_t& tag_index) {
  CTagSelectionDlg dialog(dialog_parent(), title, group);
  dialog.selectTagIndex(tag_index);
  if (dialog.exec() != QDialog::Accepted) return false;
  tag_index = dialog.chosenTagIndex();
  return true;
}

bool enter_value(void*, const char* title, const char* label, double minimum, double maximum, double& value) {
  CValueDlg dialog(dialog_parent(), value, minimum, maximum, label && label[0] ? label : "Value:");
  if (title && title[0]) dialog.setWindowTitle(QString::fromLatin1(title));
  if (dialog.exec() != QDialog::Accepted) return false;
  value = dialog.value();
  return true;
}

const ui_host qt_host = {nullptr,           message_box,          choose_open_file,  choose_save_file,
                         choose_tag,        enter_value,          shell_progress_begin, shell_progress_step,
                         shell_progress_end};

}  // namespace

void qt_ui_host_install() { ui_host_install(&qt_host); }
