#include "shell/progress_dialog.h"

#include <QApplication>
#include <QProgressDialog>

#include <memory>

#include "shell/shell.h"
#include "shell/vellgrim_frame.h"

namespace {

std::unique_ptr<QProgressDialog> dialog;
int64_t scale = 1;  // the dialog counts in int; very long work is counted in larger steps

}  // namespace

void shell_progress_begin(void*, const char* title, int64_t total, bool cancellable) {
  QWidget* parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : shell.frame;
  scale = 1;
  while (total / scale > 1000000) scale *= 10;
  dialog = std::make_unique<QProgressDialog>(QString::fromLatin1(title ? title : ""),
                                             cancellable ? QStringLiteral("Cancel") : QString(), 0,
                                             int(total > 0 ? total / scale : 0), parent);
  dialog->setWindowTitle(QStringLiteral("Vellgrim"));
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setMinimumDuration(500);
  dialog->setAutoClose(false);
  dialog->setAutoReset(false);
  if (!cancellable) dialog->setCancelButton(nullptr);
  dialog->setValue(0);
}

bool shell_progress_step(void*, int64_t done) {
  if (!dialog) return true;
  // setValue also lets the dialog appear once half a second has passed and handles its Cancel.
  dialog->setValue(int(done / scale));
  return !dialog->wasCanceled();
}

void shell_progress_end(void*) { dialog.reset(); }
