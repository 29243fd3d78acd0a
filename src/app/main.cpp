// The editor: a Qt program whose start-up and main loop are the shell's.
#include <QApplication>

#include "shell/vellgrim_startup.h"

int main(int argc, char** argv) {
  // The command line is parsed by Qt for its own options; the editor uses none.
  QApplication application(argc, argv);
  return vellgrim_run();
}
