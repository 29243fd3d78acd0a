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
  shell_place_window(window, _shell_window_terrain);
  return window;
}
