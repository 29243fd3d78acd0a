#include "tools/terrain_painter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

constexpr uint8_t GRASS = 0x66, ROCKY = 0x88, DESERT = 0x77, SNOW = 10;

int32_t world(double cells) { return int32_t(std::lround(cells * 512)); }

class TerrainPainter : public MapImageTest {
 protected:
  void TearDown() override {
    terrain_painter_stop();
    terrain_painter_set_current_type(TERRAIN_PAINTER_DEFAULT_TYPE);
    terrain_painter_set_defaults(terrain_painter_stored_preferences());
    MapImageTest::TearDown();
  }

  // A 32 x 32-cell map of grass with the painter started on it: radius 2.5, circle, merging.
  void start(uint8_t (*pixel)(int32_t, int32_t) = nullptr, void (*adjust)(terrain_painter_preferences*) = nullptr) {
    ASSERT_TRUE(make_map("fields", 256, 256, pixel));
    ASSERT_EQ(mesh_cells_across(), 32);
    ASSERT_TRUE(terrain_painter_start());
    terrain_painter_preferences preferences;
    terrain_painter_set_defaults(&preferences);
    if (adjust) adjust(&preferences);
    ASSERT_TRUE(terrain_painter_use_preferences(preferences));
  }

  static uint8_t types(int32_t x, int32_t y) { return uint8_t(mesh_get_cell(x, y)->terrain_and_flags & 0xFF); }

  static std::vector<uint8_t> all_types() {
    std::vector<uint8_t> all;
    for (int32_t i = 0; i < mesh_cell_count(); ++i) all.push_back(uint8_t(mesh_cells()[i].terrain_and_flags & 0xFF));
    return all;
  }

  // One stroke: a step at each tick from `tick` at the point (in cells), then the release.
  static void stroke(double x, double y, int64_t tick, int32_t type, int32_t steps = 2) {
    ASSERT_TRUE(terrain_painter_set_current_type(type));
    for (int32_t k = 0; k < steps; ++k) ASSERT_TRUE(terrain_painter_paint(false, world(x), world(y), tick + k));
    terrain_painter_end_stroke();
  }
};

TEST_F(TerrainPainter, ABrushStepPaintsExactlyTheCellsInsideItsCircleOrSquare) {
  start();
  stroke(10.5, 10.5, 100, _terrain_rocky);
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      const bool inside = std::hypot(x - 10.5, y - 10.5) <= 2.5;
      ASSERT_EQ(types(x, y), inside ? ROCKY : GRASS) << x << ", " << y;
    }
  }
  EXPECT_EQ(terrain_painter_state(), _terrain_painter_finished);
  EXPECT_STREQ(edit_journal_undo_name(), TERRAIN_PAINTER_STEP_NAME);

  // F8 makes the brush square; the painter takes the record's change over.
  EXPECT_EQ(terrain_painter_key(0x77), "Square Brush");
  terrain_painter_preferences* record = terrain_painter_stored_preferences();
  ASSERT_TRUE(terrain_painter_use_preferences(*record));
  stroke(20, 20, 500, _terrain_desert);
  for (int32_t y = 15; y < 26; ++y) {
    for (int32_t x = 15; x < 26; ++x) {
      const bool inside = std::max(std::abs(x - 20), std::abs(y - 20)) <= 2;
      ASSERT_EQ(types(x, y), inside ? DESERT : GRASS) << x << ", " << y;
    }
  }
  EXPECT_EQ(terrain_painter_key(0x77), "Circle Brush");
}

TEST_F(TerrainPainter, TheRadiusKeysStepByAQuarterAndNeverGoBelowIt) {
  start();
  terrain_painter_preferences* record = terrain_painter_stored_preferences();
  record->radius = 0.3f;
  EXPECT_EQ(terrain_painter_key(0x78), "Decreased brush radius to 0.250");
  EXPECT_FLOAT_EQ(record->radius, 0.25f);
  EXPECT_EQ(terrain_painter_key(0x78), "") << "F9 at the floor changes nothing and says nothing";
  EXPECT_FLOAT_EQ(record->radius, 0.25f);
  EXPECT_EQ(terrain_painter_key(0x79), "Increased brush radius to 0.500");
  EXPECT_EQ(terrain_painter_key('A'), "");

  // A stored record with a radius not above 0 or a shape outside 0..1 starts the painter on the
  // defaults.
  record->radius = 0;
  ASSERT_TRUE(terrain_painter_start());
  EXPECT_FLOAT_EQ(terrain_painter_preferences_in_use()->radius, 2.5f);
  record->radius = 1;
  record->brush_shape = 2;
  ASSERT_TRUE(terrain_painter_start());
  EXPECT_EQ(terrain_painter_preferences_in_use()->brush_shape, _terrain_painter_circle);
  EXPECT_FALSE(terrain_painter_set_current_type(12));
  EXPECT_FALSE(terrain_painter_set_current_type(13));
  EXPECT_FALSE(terrain_painter_set_current_type(16));
  EXPECT_EQ(terrain_painter_current_type(), TERRAIN_PAINTER_DEFAULT_TYPE);
}

// With the merge flag, strokes less than a second apart are one journal step; without it each
// stroke is its own. Delete twice puts the stroke back.
TEST_F(TerrainPainter, StrokesMergeInTimeIntoOneStepAndTheToggleTakesThemOffAndBack) {
  start();
  const std::vector<uint8_t> grass = all_types();
  stroke(5, 5, 100, _terrain_rocky);
  stroke(9, 5, 120, _terrain_rocky);
  const std::vector<uint8_t> painted = all_types();
  EXPECT_EQ(types(5, 5), ROCKY);
  EXPECT_EQ(types(9, 5), ROCKY);
  ASSERT_TRUE(terrain_painter_toggle());
  EXPECT_EQ(all_types(), grass) << "both strokes are one batch";
  EXPECT_EQ(terrain_painter_state(), _terrain_painter_undone);
  EXPECT_TRUE(terrain_painter_has_undo());
  ASSERT_TRUE(terrain_painter_toggle());
  EXPECT_EQ(all_types(), painted);
  // More than 30 ticks later: a batch of its own.
  stroke(20, 20, 200, _terrain_snow);
  ASSERT_TRUE(terrain_painter_toggle());
  EXPECT_EQ(all_types(), painted);
}

TEST_F(TerrainPainter, WithoutTheMergeFlagEveryStrokeIsItsOwnStep) {
  start(nullptr, [](terrain_painter_preferences* p) { p->merge_strokes = 0; });
  stroke(5, 5, 100, _terrain_desert);
  stroke(9, 5, 101, _terrain_desert);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(types(5, 5), DESERT) << "without merging each stroke is its own step";
  EXPECT_EQ(types(9, 5), GRASS);
}

// The fault mended: a stroke wrote its whole covered block back, so a triangle painted meanwhile
// in the block's corner reverted. Only cells inside the brush are written, and the triangle closes
// the batch.
TEST_F(TerrainPainter, AStrokeBesideARightButtonTriangleLeavesTheTriangle) {
  start();
  stroke(10, 10, 100, _terrain_rocky);
  // Cell (12, 12) lies in the covered rows and columns 8..13 but 2.83 cells from the centre.
  ASSERT_TRUE(terrain_painter_set_current_type(_terrain_snow));
  const int32_t tx = 12 * 512 + 100, ty = 12 * 512 + 400;
  const bool odd = mesh_triangle_at(tx, ty) & 1;
  ASSERT_TRUE(terrain_painter_paint(true, tx, ty, 105));
  const uint8_t triangle = odd ? uint8_t(0x60 | SNOW) : uint8_t(SNOW << 4 | 0x06);
  EXPECT_EQ(types(12, 12), triangle);
  EXPECT_STREQ(edit_journal_undo_name(), TERRAIN_PAINTER_TRIANGLE_STEP_NAME);
  // Within a second of the first stroke, a brush whose covered block (columns 7..12, rows 8..13)
  // holds the triangle 3.9 cells from its centre.
  stroke(9, 9.5, 110, _terrain_rocky, 3);
  EXPECT_EQ(types(12, 12), triangle);
  EXPECT_EQ(types(7, 9), ROCKY);
  // Each is its own step: the second stroke, the triangle, the first stroke.
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(types(12, 12), triangle);
  EXPECT_EQ(types(7, 9), GRASS);
  EXPECT_EQ(types(10, 10), ROCKY);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(types(12, 12), GRASS);
  EXPECT_EQ(types(10, 10), ROCKY);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(types(10, 10), GRASS);
  EXPECT_FALSE(edit_journal_can_undo());
  // Off the map the right button paints nothing.
  EXPECT_FALSE(terrain_painter_paint(true, -1, 5, 200));
  EXPECT_FALSE(terrain_painter_paint(true, 32 * 512, 5, 200));
}

// The fault mended: the fill stopped after the first 512 cells it listed and said nothing. A
// 640-cell region left of a rocky wall is filled whole, and nothing past the wall.
TEST_F(TerrainPainter, AFloodFillFillsItsWholeRegionPastFiveHundredTwelveCells) {
  start(nullptr, [](terrain_painter_preferences* p) { p->brush_shape = _terrain_painter_square; p->radius = 0.25f; });
  for (int32_t y = 0; y < 32; ++y) stroke(20, y, 100 + 100 * y, _terrain_rocky, 1);
  for (int32_t y = 0; y < 32; ++y) ASSERT_EQ(types(20, y), ROCKY);
  ASSERT_TRUE(terrain_painter_set_current_type(_terrain_desert));
  const terrain_fill_result result = terrain_painter_flood_fill_at(3 * 512 + 200, 7 * 512 + 300);
  ASSERT_TRUE(result.filled);
  EXPECT_EQ(result.triangles_set, 2 * 20 * 32);
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      ASSERT_EQ(types(x, y), x < 20 ? DESERT : x == 20 ? ROCKY : GRASS) << x << ", " << y;
    }
  }
  EXPECT_STREQ(edit_journal_undo_name(), TERRAIN_PAINTER_FILL_STEP_NAME);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(types(0, 0), GRASS);
  EXPECT_EQ(types(19, 31), GRASS);
  EXPECT_EQ(types(20, 31), ROCKY);

  // A whole map of one type: every cell.
  ASSERT_TRUE(terrain_painter_set_current_type(_terrain_snow));
  const terrain_fill_result whole = terrain_painter_flood_fill_at(25 * 512, 25 * 512);
  EXPECT_EQ(whole.triangles_set, 2 * 11 * 32);
  EXPECT_EQ(whole.cells_visited, 12 * 32) << "the region and the wall round it";
  EXPECT_EQ(types(31, 31), SNOW << 4 | SNOW);
  EXPECT_FALSE(terrain_painter_flood_fill(32, 0, 0).filled);
  EXPECT_FALSE(terrain_painter_flood_fill(0, -1, 0).filled);
}

// The fault mended: after a later change, undo put back the painter's stale before grid over the
// stroke's rectangle, undoing the fill there too. The fill closes the batch; Undo walks back the
// fill, then the stroke, each whole.
TEST_F(TerrainPainter, UndoOfAStrokeAfterALaterFloodFillKeepsTheFillUntilItIsUndone) {
  start();
  const std::vector<uint8_t> grass = all_types();
  stroke(10, 10, 100, _terrain_rocky);
  const std::vector<uint8_t> stroked = all_types();
  ASSERT_TRUE(terrain_painter_set_current_type(_terrain_desert));
  ASSERT_TRUE(terrain_painter_flood_fill_at(1 * 512, 1 * 512).filled);
  EXPECT_EQ(types(8, 8), DESERT) << "a covered corner outside the brush";
  EXPECT_EQ(types(10, 10), ROCKY);
  const std::vector<uint8_t> filled = all_types();
  // The painter's toggle no longer reaches the stroke: the fill is the last step.
  EXPECT_FALSE(terrain_painter_has_undo());
  EXPECT_FALSE(terrain_painter_toggle());
  EXPECT_EQ(all_types(), filled);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(all_types(), stroked);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(all_types(), grass);
  ASSERT_TRUE(edit_journal_redo());
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(all_types(), filled);
  // A new stroke within a second of the first starts a batch of its own above the fill.
  stroke(20, 20, 105, _terrain_rocky);
  ASSERT_TRUE(terrain_painter_toggle());
  EXPECT_EQ(all_types(), filled);
}

// A change made outside the painter (here a step of another tool over the stroke's cells) ends the
// batch: the next stroke does not join it, and toggling it never writes the stale grids back.
TEST_F(TerrainPainter, AChangeElsewhereClosesTheStrokeAndRefreshesTheGrids) {
  start();
  stroke(10, 10, 100, _terrain_rocky);
  {
    journal_step step("Import Terrain");
    edit_journal_cell(9, 9)->terrain_and_flags = uint16_t((mesh_get_cell(9, 9)->terrain_and_flags & 0xFF00) | 0x99);
    ASSERT_TRUE(step.commit());
  }
  EXPECT_EQ(terrain_painter_state(), _terrain_painter_idle);
  stroke(14, 10, 110, _terrain_desert);
  ASSERT_TRUE(terrain_painter_toggle());
  EXPECT_EQ(types(9, 9), 0x99);
  EXPECT_EQ(types(10, 10), ROCKY);
  EXPECT_EQ(types(14, 10), GRASS);
}

uint8_t rolling(int32_t x, int32_t y) { return uint8_t((x * 7 + y * 13) % 200); }

TEST_F(TerrainPainter, PaintingLeavesTheNormalsFlagsAndLodAsAFullRecomputeWould) {
  start(rolling);
  ASSERT_TRUE(mesh_recompute_lod_data());
  stroke(6, 6, 100, _terrain_human_depth_media);
  ASSERT_TRUE(terrain_painter_set_current_type(_terrain_flying_impassable));
  ASSERT_TRUE(terrain_painter_paint(true, 15 * 512 + 30, 15 * 512 + 480, 200));
  ASSERT_TRUE(terrain_painter_flood_fill_at(25 * 512, 25 * 512).filled);
  EXPECT_EQ(types(6, 6), 0x11) << "a media type painted stays as painted";
  const std::vector<mesh_cell> painted(mesh_cells(), mesh_cells() + mesh_cell_count());
  const std::vector<uint16_t> lod(mesh_lod(), mesh_lod() + mesh_lod_entry_count());
  journal_step step("Recompute");
  edit_journal_note_cells(0, 0, 31, 31);
  mesh_prepare_cells(0, 0, 31, 31);
  ASSERT_TRUE(mesh_recompute_lod_data());
  for (int32_t i = 0; i < mesh_cell_count(); ++i) {
    ASSERT_EQ(painted[size_t(i)].normals, mesh_cells()[i].normals) << i;
    ASSERT_EQ(painted[size_t(i)].terrain_and_flags, mesh_cells()[i].terrain_and_flags) << i;
  }
  EXPECT_EQ(lod, std::vector<uint16_t>(mesh_lod(), mesh_lod() + mesh_lod_entry_count()));
}

TEST_F(TerrainPainter, TheOutlineIsAClosedRingOnTheGroundAtTheRadius) {
  start(rolling);
  std::vector<world_point3d> ring;
  ASSERT_TRUE(terrain_painter_get_outline(8 * 512, 8 * 512, &ring));
  ASSERT_EQ(ring.size(), 17u);  // max(16, 2.5 x 6) segments, closed
  EXPECT_EQ(ring.front().x, ring.back().x);
  for (const world_point3d& point : ring) {
    EXPECT_NEAR(std::hypot(point.x - 8 * 512, point.y - 8 * 512), 2.5 * 512, 1.0);
    EXPECT_EQ(point.z, mesh_height_at(point.x, point.y, _mesh_height_ground));
  }
  terrain_painter_stop();
  EXPECT_FALSE(terrain_painter_get_outline(8 * 512, 8 * 512, &ring));
  EXPECT_FALSE(terrain_painter_paint(false, 8 * 512, 8 * 512, 1)) << "a stopped painter paints nothing";
}

}  // namespace
