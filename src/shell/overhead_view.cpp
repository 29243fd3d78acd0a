// The overhead window: the zoom and its limits, the background drawn once per map opening or zoom
// change, the overlays composed after every frame, and the mouse.
#include "shell/overhead_view.h"

#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <vector>

#include "engine/preferences.h"
#include "input/observer.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "shell/shell.h"
#include "shell/shell_queries.h"
#include "shell/tool_modes.h"
#include "tools/vertex_selection.h"
#include "view/overhead_image.h"

namespace {

struct overhead_state {
  float zoom = 0.0f;
  float minimum = 0.0f;
  float maximum = 0.0f;
  overhead_image background;
  overhead_image composed;
  std::vector<world_point2d> points;
  bool points_connected = false;
  uint32_t point_color = OVERHEAD_POINT_COLOR;
  uint32_t observer_color = OVERHEAD_OBSERVER_COLOR;
  // The rectangle selection in progress, in client coordinates.
  bool dragging = false;
  overhead_pixel drag_start = {0, 0};
  overhead_pixel drag_now = {0, 0};
};
overhead_state overhead;

QWidget* overhead_window() { return shell.windows[_shell_window_overhead]; }

bool tool_selects_rectangles(int32_t tool) { return tool == _tool_select_vertex || tool == _tool_select_cell; }

// The client area follows the picture; the user cannot resize it.
void fit_window_to_background() {
  QWidget* window = overhead_window();
  if (!window || overhead.background.width <= 0) return;
  window->setFixedSize(overhead.background.width, overhead.background.height);
}

// Positions arrive as signed 16-bit values, as the window messages carry them.
overhead_pixel event_pixel(const QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  return {int16_t(position.x()), int16_t(position.y())};
}

}  // namespace

COverheadFrameWnd::COverheadFrameWnd()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint) {
  setWindowTitle("Overhead View");
  setGeometry(0, 0, 100, 100);
  // The picture covers the whole client area: nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void COverheadFrameWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const overhead_image& image = overhead.composed;
  if (image.width <= 0 || image.height <= 0) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  const QImage picture(reinterpret_cast<const uchar*>(image.pixels.data()), image.width, image.height,
                       qsizetype(image.width) * qsizetype(sizeof(uint16_t)), QImage::Format_RGB555);
  painter.drawImage(0, 0, picture);
}

void COverheadFrameWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !mesh_is_open() || !(overhead.zoom > 0.0f)) {
    QWidget::mousePressEvent(event);
    return;
  }
  const overhead_pixel pixel = event_pixel(event);
  if (event->modifiers() & Qt::ShiftModifier) {
    // Qt keeps sending the moves to this window while the button is held (its implicit grab).
    if (tool_selects_rectangles(shell.current_tool)) {
      overhead.dragging = true;
      overhead.drag_start = overhead.drag_now = pixel;
    }
  } else {
    observer_jump_to(overhead_pixel_to_world(pixel.x, pixel.y, overhead.zoom, mesh_cells_across(), mesh_cells_down()));
  }
  RedrawOverhead();
  // Accepted, so that this window keeps the mouse until the button is released.
  event->accept();
}

void COverheadFrameWnd::mouseMoveEvent(QMouseEvent* event) {
  if (overhead.dragging && mesh_is_open() && tool_selects_rectangles(shell.current_tool)) {
    overhead.drag_now = event_pixel(event);
    const overhead_cell_rectangle cells = overhead_band_cells(overhead.drag_start, overhead.drag_now, overhead.zoom,
                                                              mesh_cells_across(), mesh_cells_down());
    vertex_selection_select_rectangle(cells.x0, cells.y0, cells.x1, cells.y1,
                                      (event->modifiers() & Qt::ShiftModifier) != 0);
    RedrawOverhead();
  }
  QWidget::mouseMoveEvent(event);
}

void COverheadFrameWnd::mouseReleaseEvent(QMouseEvent* event) {
  if (overhead.dragging && event->button() == Qt::LeftButton) {
    overhead.dragging = false;
    UpdateMenuState();
    RedrawOverhead();
  }
  QWidget::mouseReleaseEvent(event);
}

QWidget* CreateOverheadView() {
  overhead = overhead_state{};
  auto* window = new COverheadFrameWnd;
  shell_place_window(window, _shell_window_overhead);
  return window;
}

void ResetOverheadForMap() {
  overhead.dragging = false;
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize desktop = screen ? screen->geometry().size() : QSize(0, 0);
  const overhead_zoom_limits limits = overhead_fit_zoom(desktop.width(), desktop.height(), mesh_width(), mesh_height());
  overhead.minimum = limits.minimum;
  overhead.maximum = limits.maximum;
  // So that the fit zoom always applies, even when it equals the last map's zoom.
  overhead.zoom = 0.0f;
  SetOverheadZoom(limits.fit);
  UpdateMenuState();
}

void SetOverheadZoom(float zoom) {
  if (zoom == overhead.zoom) return;
  overhead.zoom = zoom;
  if (!mesh_is_open() || !(zoom > 0.0f)) return;
  if (!overhead_build_background(zoom, &overhead.background)) overhead.composed = overhead_image{};
  fit_window_to_background();
  RedrawOverhead();
}

float GetOverheadZoom() { return overhead.zoom; }
float GetOverheadMinimumZoom() { return overhead.minimum; }
float GetOverheadMaximumZoom() { return overhead.maximum; }

void RedrawOverhead() {
  // Nothing to draw before the preferences (the tools' "Show All") or without a map.
  const vellgrim_preferences* preferences = vellgrim_preferences_get();
  if (!preferences || !mesh_is_open() || overhead.background.width <= 0) return;
  overhead_overlays overlays;
  overlays.zoom = overhead.zoom;
  const int32_t tool = shell.current_tool;
  const int16_t type = tool_marker_type(tool);
  overhead_overlays_set_tool(&overlays, tool, type >= 0 ? shell_tool_palette_entry(type) : int16_t(-1),
                             shell_tool_palette_entry(_marker_unit), preferences);
  overlays.point_color = overhead.point_color;
  overlays.observer_color = overhead.observer_color;
  overlays.points = overhead.points;
  overlays.points_connected = overhead.points_connected;
  overhead_overlays_set_observer(&overlays);
  overlays.draw_band = overhead.dragging;
  overlays.band_start = overhead.drag_start;
  overlays.band_end = overhead.drag_now;
  overhead_compose(overhead.background, overlays, &overhead.composed);
  if (QWidget* window = overhead_window()) window->update();
}

void SetObserverColor(uint32_t color) { overhead.observer_color = color & 0xFFFFFF; }
uint32_t GetObserverColor() { return overhead.observer_color; }
void SetPointColor(uint32_t color) { overhead.point_color = color & 0xFFFFFF; }
uint32_t GetPointColor() { return overhead.point_color; }

void ClearOverheadPoints() { overhead.points.clear(); }
void AddOverheadPoint(world_point2d point) { overhead.points.push_back(point); }
void SetOverheadPointsConnected(bool connected) { overhead.points_connected = connected; }
