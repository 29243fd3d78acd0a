// The overhead window over a real map: its size at the fit zoom, the Windows menu's zoom commands,
// clicks that move the observer, the rubber band and the map-action point list.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>

#include <cmath>

#include "engine/window_positions.h"
#include "input/observer.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "shell/command_table.h"
#include "shell/overhead_view.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/vellgrim_frame.h"
#include "shell/vellgrim_startup.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tools/map_session.h"
#include "view/overhead_image.h"
#include "shell_test_frame.h"

namespace {

// The QApplication comes from the shell tests' environment in the same executable.
class OverheadView : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(qApp, nullptr);
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    map_fixture map = map_fixture_new(2, 1);
    map_tag = store.store_map("dunes", map);
    ASSERT_NE(map_tag, NONE);
    shell_test_create_frame(store);
    ASSERT_TRUE(map_open(map_tag));
    ShowMapWindows();
    window = shell.windows[_shell_window_overhead];
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    map_close();
    vellgrim_destroy_windows();
    window_positions_set_file("");
  }
  bool enabled(int32_t id) const { return shell.frame->menuAction(id)->isEnabled(); }
  QImage shown() const { return window->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  static QRgb rgb_of(uint32_t colorref) {
    const uint16_t p = overhead_pixel_of_color(colorref);
    auto eight = [](int v) { return (v << 3) | (v >> 2); };
    return qRgb(eight((p >> 10) & 31), eight((p >> 5) & 31), eight(p & 31));
  }

  map_test_store store;
  scripted_ui_host ui;
  int32_t map_tag = NONE;
  QWidget* window = nullptr;
};

TEST_F(OverheadView, ShowsTheMapAtTheFitZoomAndZoomsFromTheWindowsMenu) {
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "mesh:dunes");
  const QSize desktop = QGuiApplication::primaryScreen()->geometry().size();
  const overhead_zoom_limits limits = overhead_fit_zoom(desktop.width(), desktop.height(), 2, 1);
  EXPECT_FLOAT_EQ(GetOverheadZoom(), limits.fit);
  EXPECT_FLOAT_EQ(GetOverheadMinimumZoom(), limits.minimum);
  EXPECT_FLOAT_EQ(GetOverheadMaximumZoom(), limits.maximum);
  const int side = overhead_submesh_side(limits.fit, 2, 1);
  EXPECT_EQ(window->size(), QSize(2 * side, side));
  // Not resizable.
  EXPECT_EQ(window->minimumSize(), window->maximumSize());

  ASSERT_TRUE(enabled(COMMAND_ZOOM_IN));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_ZOOM_IN));
  EXPECT_FLOAT_EQ(GetOverheadZoom(), std::min(limits.fit * 2, limits.maximum));
  EXPECT_EQ(window->width(), 2 * overhead_submesh_side(GetOverheadZoom(), 2, 1));
  for (int i = 0; i < 8 && enabled(COMMAND_ZOOM_IN); ++i) ASSERT_TRUE(DispatchMenuCommand(COMMAND_ZOOM_IN));
  EXPECT_FLOAT_EQ(GetOverheadZoom(), limits.maximum);
  EXPECT_FALSE(enabled(COMMAND_ZOOM_IN));
  EXPECT_TRUE(enabled(COMMAND_ZOOM_OUT));
  for (int i = 0; i < 12 && enabled(COMMAND_ZOOM_OUT); ++i) ASSERT_TRUE(DispatchMenuCommand(COMMAND_ZOOM_OUT));
  EXPECT_FLOAT_EQ(GetOverheadZoom(), limits.minimum);
  EXPECT_FALSE(enabled(COMMAND_ZOOM_OUT));
  EXPECT_GE(window->height(), 1);
}

TEST_F(OverheadView, AClickMovesTheObserverAndTheCornerKeepsItOnTheMap) {
  const float zoom = GetOverheadZoom();
  const int32_t right = mesh_cells_across() * 512, bottom = mesh_cells_down() * 512;
  // The middle of the map's view: the observer's target goes to the world point shown there.
  const QPoint middle(window->width() / 2, window->height() / 2);
  const world_point2d aimed =
      overhead_pixel_to_world(middle.x(), middle.y(), zoom, mesh_cells_across(), mesh_cells_down());
  observer_jump_to({512, 512});
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, middle);
  EXPECT_EQ(observer_get()->target.x, aimed.x);
  EXPECT_EQ(observer_get()->target.y, aimed.y);

  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(0, 0));
  const world_point3d target = observer_get()->target;
  EXPECT_GE(target.x, 0);
  EXPECT_LT(target.x, right);
  EXPECT_GE(target.y, 0);
  EXPECT_LT(target.y, bottom);
  // The top-left pixel shows the map's high-x end.
  EXPECT_GT(target.x, right / 2);
  EXPECT_LT(target.y, bottom / 2);
}

TEST_F(OverheadView, AShiftDragWithSelectCellDrawsTheBandUntilReleased) {
  SelectTool(_tool_select_cell);
  const QPoint start(4, 4), end(window->width() / 2, window->height() / 2);
  ASSERT_GT(end.x(), start.x() + 4);
  QTest::mousePress(window, Qt::LeftButton, Qt::ShiftModifier, start);
  QTest::mouseMove(window, end);
  QImage image = shown();
  // The band's border, corners ordered, right and bottom edges inside the rectangle.
  EXPECT_EQ(image.pixel(start.x(), start.y()), rgb_of(OVERHEAD_BAND_COLOR));
  EXPECT_EQ(image.pixel(end.x() - 1, end.y() - 1), rgb_of(OVERHEAD_BAND_COLOR));
  EXPECT_EQ(image.pixel((start.x() + end.x()) / 2, start.y()), rgb_of(OVERHEAD_BAND_COLOR));
  QTest::mouseRelease(window, Qt::LeftButton, Qt::ShiftModifier, end);
  image = shown();
  EXPECT_NE(image.pixel((start.x() + end.x()) / 2, start.y()), rgb_of(OVERHEAD_BAND_COLOR));

  // With Preview a Shift-click neither drags nor moves the observer.
  SelectTool(_tool_preview);
  const world_point3d before = observer_get()->target;
  QTest::mousePress(window, Qt::LeftButton, Qt::ShiftModifier, start);
  QTest::mouseMove(window, end);
  EXPECT_NE(shown().pixel((start.x() + end.x()) / 2, start.y()), rgb_of(OVERHEAD_BAND_COLOR));
  QTest::mouseRelease(window, Qt::LeftButton, Qt::ShiftModifier, end);
  EXPECT_EQ(observer_get()->target.x, before.x);
  EXPECT_EQ(observer_get()->target.y, before.y);
}

TEST_F(OverheadView, TheMapActionsToolDrawsThePointListInThePointColour) {
  const float zoom = GetOverheadZoom();
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const world_point2d a = overhead_pixel_to_world(20, 10, zoom, across, down);
  const world_point2d b = overhead_pixel_to_world(60, 10, zoom, across, down);
  ClearOverheadPoints();
  AddOverheadPoint(a);
  AddOverheadPoint(b);
  SetOverheadPointsConnected(true);
  SetPointColor(0x0000FF);  // red
  EXPECT_EQ(GetPointColor(), 0x0000FFu);
  SelectTool(_tool_map_actions);
  RedrawOverhead();
  QImage image = shown();
  EXPECT_EQ(image.pixel(20, 10), rgb_of(0x0000FF));
  EXPECT_EQ(image.pixel(40, 10), rgb_of(0x0000FF));  // joined by a line
  EXPECT_EQ(image.pixel(60, 10), rgb_of(0x0000FF));

  SetOverheadPointsConnected(false);
  RedrawOverhead();
  EXPECT_NE(shown().pixel(40, 10), rgb_of(0x0000FF));
  ClearOverheadPoints();
  RedrawOverhead();
  EXPECT_NE(shown().pixel(20, 10), rgb_of(0x0000FF));
  // Other tools draw no points.
  AddOverheadPoint(a);
  SelectTool(_tool_preview);
  RedrawOverhead();
  EXPECT_NE(shown().pixel(20, 10), rgb_of(0x0000FF));
}

}  // namespace
