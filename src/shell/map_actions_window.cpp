// The window itself; its lists, buttons and description come with the map actions model.
#include "shell/map_actions_window.h"

#include "shell/shell.h"

CMapActionsDlg::CMapActionsDlg(QWidget* frame)
    : QDialog(frame, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle("Map Actions");
  setModal(false);
}

QWidget* CreateMapActionsWindow(QWidget* frame) {
  auto* window = new CMapActionsDlg(frame);
  shell_place_window(window, _shell_window_map_actions);
  return window;
}
