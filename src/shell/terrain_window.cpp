// The window itself; the type list, its swatches and the terrain painter come with the Terrain
// Painting tool.
#include "shell/terrain_window.h"

#include "shell/shell.h"

CTerrainWnd::CTerrainWnd()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint) {
  setWindowTitle("Terrain Types");
  resize(100, 100);
}

QWidget* CreateTerrainWindow() {
  auto* window = new CTerrainWnd;
  const window_position& position = shell.positions.windows[_window_terrain];
  window->move(position.x, position.y);
  shell.windows[_shell_window_terrain] = window;
  return window;
}
