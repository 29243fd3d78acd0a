// The window and its label. The palette combo boxes, their filling and adding markers come with
// the placement tools.
#include "shell/scenery_window.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>

#include "shell/shell.h"

QWidget* CreateSceneryWindow(QWidget* frame) {
  auto* window = new QDialog(frame, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  window->setObjectName("scenery_window");
  auto* layout = new QHBoxLayout(window);
  auto* label = new QLabel(window);
  label->setObjectName("label_1001");
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  layout->addWidget(label);
  shell_place_window(window, _shell_window_scenery);
  return window;
}

void CreatePaletteCombos() {}
