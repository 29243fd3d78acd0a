// The terrain types window and the Terrain Painting tool driven as the user drives them: clicks on
// the window's rows, presses, drags, Shift and right-button presses and keys on the visual view of
// an open map, checked against the map's cells and taken back with Undo.
#include <gtest/gtest.h>

#include <QTest>

#include <map>
#include <utility>
#include <vector>

#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "render/screen_messages.h"
#include "session/engine.h"
#include "shell/command_table.h"
#include "shell/shell.h"
#include "shell/terrain_window.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "shell/vellgrim_frame.h"
#include "shell/vellgrim_startup.h"
#include "shell/visual_view.h"
#include "engine/window_positions.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/terrain_painter.h"
#include "view/render.h"
#include "shell_test_frame.h"

namespace {

constexpr uint8_t GRASS = 0x66, ROCKY = 0x88, DESERT = 0x77;

class TerrainTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    map_fixture map = map_fixture_new(1, 1);
    const int32_t map_tag = store.store_map("meadow", map);
    ASSERT_NE(map_tag, NONE);
    shell_test_create_frame(store);
    frame = shell.frame;
    window = static_cast<CTerrainWnd*>(shell.windows[_shell_window_terrain]);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(map_open(map_tag));
    UpdateMenuState();
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    terrain_painter_set_current_type(TERRAIN_PAINTER_DEFAULT_TYPE);
    terrain_painter_set_defaults(terrain_painter_stored_preferences());
    map_close();
    vellgrim_destroy_windows();
    window_positions_set_file("");
  }

  void use_terrain_tool() {
    SelectTool(_tool_terrain_painting);
    visual_view_invalidate();
    visual_view_step();
  }

  // The first view point found over each visible cell away from the map's edge.
  std::map<std::pair<int32_t, int32_t>, QPoint> visible_cells() {
    std::map<std::pair<int32_t, int32_t>, QPoint> cells;
    for (int y = VISUAL_VIEW_HEIGHT / 3; y < VISUAL_VIEW_HEIGHT; y += 2)
      for (int x = VISUAL_VIEW_WIDTH / 6; x < VISUAL_VIEW_WIDTH * 5 / 6; x += 2) {
        int32_t vx, vy;
        render_client_to_view(x, y, &vx, &vy);
        render_pick_hit hit;
        if (render_pick_point(vx, vy, _pick_ground, &hit, 1) <= 0) continue;
        const int32_t cx = hit.a >> WORLD_FRACTIONAL_BITS, cy = hit.b >> WORLD_FRACTIONAL_BITS;
        if (cx >= 2 && cy >= 2 && cx <= 28 && cy <= 28) cells.emplace(std::make_pair(cx, cy), QPoint(x, y));
      }
    return cells;
  }
  static render_pick_hit ground_at(QPoint at) {
    int32_t vx, vy;
    render_client_to_view(at.x(), at.y(), &vx, &vy);
    render_pick_hit hit{};
    render_pick_point(vx, vy, _pick_ground, &hit, 1);
    return hit;
  }

  void choose(int32_t type) { QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(40, type * 12 + 6)); }
  QWidget* view() { return frame->visualView(); }
  void click(QPoint at, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mousePress(view(), button, modifiers, at);
    QTest::mouseRelease(view(), button, modifiers, at);
  }
  static uint8_t types(int32_t x, int32_t y) { return uint8_t(mesh_get_cell(x, y)->terrain_and_flags & 0xFF); }
  static std::vector<uint8_t> all_types() {
    std::vector<uint8_t> all;
    for (int32_t i = 0; i < mesh_cell_count(); ++i) all.push_back(uint8_t(mesh_cells()[i].terrain_and_flags & 0xFF));
    return all;
  }

  map_test_store store;
  scripted_ui_host ui;
  CVellgrimFrameWnd* frame = nullptr;
  CTerrainWnd* window = nullptr;
};

TEST_F(TerrainTool, TheWindowListsTheTypesWithWhitenedSwatchesAndAClickPicksAPaintableOne) {
  EXPECT_EQ(window->windowTitle(), "Terrain Types");
  EXPECT_FALSE(window->isVisible());
  SelectTool(_tool_terrain_painting);
  EXPECT_TRUE(window->isVisible());
  const QImage& list = window->listImage();
  ASSERT_EQ(list.height(), 16 * 12);
  EXPECT_EQ(window->size(), list.size()) << "the client area is exactly the list";
  // "grass" is black without whitening: drawn white. "steep": red 0xFFFF whitened by 0x3000.
  EXPECT_EQ(QColor(list.pixel(5, 6 * 12 + 5)), QColor(Qt::white));
  EXPECT_EQ(QColor(list.pixel(5, 5 * 12 + 5)), QColor(254, 47, 47));
  EXPECT_EQ(terrain_window_swatch_color(5), QColor(254, 47, 47));
  EXPECT_STREQ(TerrainTypeName(14), "walking impassable");
  EXPECT_EQ(CurrentTerrainType(), 6);

  // y = 30 is the row of type 2, which is drawn inverted from x 35 to the right edge.
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(10, 30));
  EXPECT_EQ(CurrentTerrainType(), 2);
  const QImage shown = window->grab().toImage();
  const int right = list.width() - 1;
  EXPECT_EQ(QColor(shown.pixel(right, 2 * 12 + 1)), QColor(Qt::black));
  EXPECT_EQ(QColor(shown.pixel(right, 6 * 12 + 1)), QColor(Qt::white));
  EXPECT_EQ(QColor(shown.pixel(5, 2 * 12 + 5)), QColor(list.pixel(5, 2 * 12 + 5))) << "the swatch is not inverted";

  // The unused types and a click below the last row change nothing.
  choose(12);
  choose(13);
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(10, 16 * 12 + 3));
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(10, 40 * 12));
  EXPECT_EQ(CurrentTerrainType(), 2);
  choose(15);
  EXPECT_EQ(CurrentTerrainType(), 15);
  SelectTool(_tool_preview);
  EXPECT_FALSE(window->isVisible());
}

// A brush stroke whose covered block holds a triangle painted with the right button just before
// leaves the triangle, and Undo takes back the stroke, then the triangle.
TEST_F(TerrainTool, AStrokeBesideARightButtonTriangleLeavesTheTriangle) {
  use_terrain_tool();
  const auto cells = visible_cells();
  // A brush cell and a triangle cell three cells down and right: 2.8 to 4.3 cells from the brush
  // centre (radius 2.5), inside the rows and columns the brush covers.
  QPoint brush_at, triangle_at;
  std::pair<int32_t, int32_t> brush_cell, triangle_cell;
  bool found = false;
  for (const auto& [cell, at] : cells) {
    const auto other = cells.find({cell.first + 3, cell.second + 3});
    if (other == cells.end()) continue;
    brush_cell = cell, brush_at = at, triangle_cell = other->first, triangle_at = other->second;
    found = true;
    break;
  }
  ASSERT_TRUE(found);
  choose(_terrain_snow);
  click(triangle_at, Qt::RightButton);
  const render_pick_hit triangle_hit = ground_at(triangle_at);
  const bool odd = mesh_triangle_at(triangle_hit.a, triangle_hit.b) & 1;
  const uint8_t triangle = odd ? uint8_t(0x6A) : uint8_t(0xA6);
  ASSERT_EQ(types(triangle_cell.first, triangle_cell.second), triangle);
  EXPECT_TRUE(IsMapModified());
  choose(_terrain_rocky);
  click(brush_at);
  EXPECT_EQ(types(brush_cell.first, brush_cell.second), ROCKY);
  EXPECT_EQ(types(triangle_cell.first, triangle_cell.second), triangle);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(types(brush_cell.first, brush_cell.second), GRASS);
  EXPECT_EQ(types(triangle_cell.first, triangle_cell.second), triangle);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(types(triangle_cell.first, triangle_cell.second), GRASS);
}

// Shift-press fills the whole grass region, all 1024 cells of the map but the stroke's, and Undo
// takes back the fill before the stroke; the painter's Delete no longer reaches the stroke.
TEST_F(TerrainTool, AShiftPressFillsTheWholeRegionAndUndoWalksBackTheFillThenTheStroke) {
  use_terrain_tool();
  const auto cells = visible_cells();
  ASSERT_GE(cells.size(), 2u);
  const auto& [brush_cell, brush_at] = *cells.begin();
  const auto& [fill_cell, fill_at] = *cells.rbegin();
  const std::vector<uint8_t> grass = all_types();
  choose(_terrain_rocky);
  QTest::mousePress(view(), Qt::LeftButton, Qt::NoModifier, brush_at);
  QTest::qWait(120);
  ToolMouseHeld(0, int16_t(brush_at.x() + 2), int16_t(brush_at.y()));
  QTest::mouseRelease(view(), Qt::LeftButton, Qt::NoModifier, brush_at);
  ASSERT_EQ(types(brush_cell.first, brush_cell.second), ROCKY);
  const std::vector<uint8_t> stroked = all_types();
  choose(_terrain_desert);
  ASSERT_NE(types(fill_cell.first, fill_cell.second), ROCKY);
  click(fill_at, Qt::LeftButton, Qt::ShiftModifier);
  int32_t desert = 0, rocky = 0;
  for (uint8_t t : all_types()) desert += t == DESERT, rocky += t == ROCKY;
  EXPECT_EQ(desert + rocky, 32 * 32);
  EXPECT_GT(desert, 512);
  EXPECT_EQ(types(brush_cell.first, brush_cell.second), ROCKY);
  QTest::keyClick(view(), Qt::Key_Delete);
  EXPECT_EQ(types(0, 0), DESERT) << "Delete toggles only a batch that is still the last step";
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(all_types(), stroked);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(all_types(), grass);
}

TEST_F(TerrainTool, TheKeysChangeTheBrushAndDeleteTogglesTheLastStroke) {
  use_terrain_tool();
  const auto cells = visible_cells();
  ASSERT_FALSE(cells.empty());
  QTest::keyClick(view(), Qt::Key_F10);
  EXPECT_FLOAT_EQ(terrain_painter_stored_preferences()->radius, 2.75f);
  EXPECT_STREQ(screen_message_current(screen_message_clock()), "Increased brush radius to 2.750");
  QTest::keyClick(view(), Qt::Key_F8);
  EXPECT_EQ(terrain_painter_preferences_in_use()->brush_shape, _terrain_painter_square);
  const auto& [cell, at] = *cells.begin();
  // Grass on grass changes nothing and leaves the map unmodified.
  choose(_terrain_grass);
  click(at);
  EXPECT_FALSE(IsMapModified());
  EXPECT_FALSE(edit_journal_can_undo());
  choose(_terrain_forest);
  click(at);
  EXPECT_EQ(types(cell.first, cell.second), 0xBB);
  QTest::keyClick(view(), Qt::Key_Delete);
  EXPECT_EQ(types(cell.first, cell.second), GRASS);
  QTest::keyClick(view(), Qt::Key_Delete);
  EXPECT_EQ(types(cell.first, cell.second), 0xBB);
}

}  // namespace
