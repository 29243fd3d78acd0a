#include "shell/progress_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>

#include <memory>
#include <string>

#include "shell/shell.h"
#include "shell/vellgrim_frame.h"

namespace {

struct progress_state {
  bool active = false;
  std::string title;
  int64_t total = 0;
  bool cancellable = false;
  int64_t scale = 1;  // the dialog counts in int; very long work is counted in larger steps
  QElapsedTimer clock;
  std::unique_ptr<QProgressDialog> dialog;
};

progress_state progress;

// The dialog is made only by a step, once half a second has passed: never while the work shows a
// question of its own, which it would otherwise cover and block.
void show_dialog() {
  QWidget* parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : shell.frame;
  progress.dialog = std::make_unique<QProgressDialog>(
      QString::fromLatin1(progress.title.c_str()), progress.cancellable ? QStringLiteral("Cancel") : QString(), 0,
      int(progress.total > 0 ? progress.total / progress.scale : 0), parent);
  progress.dialog->setWindowTitle(QStringLiteral("Vellgrim"));
  progress.dialog->setWindowModality(Qt::WindowModal);
  progress.dialog->setMinimumDuration(0);
  progress.dialog->setAutoClose(false);
  progress.dialog->setAutoReset(false);
  if (!progress.cancellable) progress.dialog->setCancelButton(nullptr);
  progress.dialog->show();
}

}  // namespace

void shell_progress_begin(void*, const char* title, int64_t total, bool cancellable) {
  progress.dialog.reset();
  progress.active = true;
  progress.title = title ? title : "";
  progress.total = total;
  progress.cancellable = cancellable;
  progress.scale = 1;
  while (total / progress.scale > 1000000) progress.scale *= 10;
  progress.clock.start();
}

bool shell_progress_step(void*, int64_t done) {
  if (!progress.active) return true;
  if (!progress.dialog) {
    if (progress.clock.elapsed() < 500) return true;
    show_dialog();
  }
  // setValue also lets the dialog repaint and handles its Cancel button.
  progress.dialog->setValue(int(done / progress.scale));
  QApplication::processEvents();
  return !progress.dialog->wasCanceled();
}

void shell_progress_end(void*) {
  progress.dialog.reset();
  progress.active = false;
}
