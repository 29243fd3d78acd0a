// The window itself. The landscape picture, the overlays, the zoom's fit to the desktop and the
// mouse handling come with the overhead view's own work; until then the zoom and its limits stay
// 0, so the zoom commands stay disabled.
#include "shell/overhead_view.h"

#include "shell/shell.h"

namespace {

struct overhead_zoom_state {
  float zoom = 0.0f;
  float minimum = 0.0f;
  float maximum = 0.0f;
};
overhead_zoom_state overhead_zoom;

}  // namespace

COverheadFrameWnd::COverheadFrameWnd()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint) {
  setWindowTitle("Overhead View");
  setGeometry(0, 0, 100, 100);
}

QWidget* CreateOverheadView() {
  auto* window = new COverheadFrameWnd;
  shell_place_window(window, _shell_window_overhead);
  return window;
}

void ResetOverheadForMap() {}

void SetOverheadZoom(float zoom) { overhead_zoom.zoom = zoom; }
float GetOverheadZoom() { return overhead_zoom.zoom; }
float GetOverheadMinimumZoom() { return overhead_zoom.minimum; }
float GetOverheadMaximumZoom() { return overhead_zoom.maximum; }

void RedrawOverhead() {}
