#include "tools/height_painter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

class HeightPainter : public MapImageTest {
 protected:
  void TearDown() override {
    height_painter_stop();
    MapImageTest::TearDown();
  }

  // A 32 x 32-cell map (or larger) with the painter started on it and the given settings.
  void start(int32_t pixels = 256, void (*adjust)(height_painter_preferences*) = nullptr) {
    ASSERT_TRUE(make_map("sculpt", pixels, pixels));
    ASSERT_TRUE(height_painter_start());
    height_painter_preferences preferences;
    height_painter_set_defaults(&preferences);
    if (adjust) adjust(&preferences);
    ASSERT_TRUE(height_painter_use_preferences(preferences));
  }

  static int32_t height(int32_t x, int32_t y) { return mesh_get_cell(x, y)->ground_height; }

  std::vector<int16_t> heights() {
    std::vector<int16_t> all;
    for (int32_t i = 0; i < mesh_cell_count(); ++i) all.push_back(mesh_cells()[i].ground_height);
    return all;
  }

  // One stroke: a step at each tick from `tick`, then the release.
  void stroke(double x, double y, int64_t tick, int32_t steps = 3, bool shift = false) {
    for (int32_t k = 0; k < steps; ++k) height_painter_apply(shift, x, y, tick + k);
    height_painter_end_stroke();
  }
};

TEST_F(HeightPainter, RaiseLiftsTheCentreByTheRateTimesTheTicks) {
  start();
  height_painter_apply(false, 10, 10, 100);  // the first step counts one tick
  const int32_t before = height(10, 10);
  height_painter_apply(false, 10, 10, 103);
  EXPECT_EQ(height(10, 10) - before, 128);  // 3 x 1/12 of a cell
  // Distance 3 from the centre, radius 2.5, feather 2.5: s = 0.8, falloff 0.896 of a step.
  EXPECT_EQ(height(13, 10), int32_t(std::trunc(4.0 / 12.0 * 0.896 * 512.0)));
  // Beyond radius + feather nothing moves.
  EXPECT_EQ(height(15, 10), 0);
  height_painter_end_stroke();
  EXPECT_EQ(height_painter_state(), _height_painter_painted);
}

TEST_F(HeightPainter, AHardBrushReachesOnlyItsRectangle) {
  start(256, [](height_painter_preferences* p) {
    p->radius = 1;
    p->feather = 0;
  });
  height_painter_apply(false, 5, 5, 10);
  for (int32_t y = 3; y <= 7; ++y) {
    for (int32_t x = 3; x <= 7; ++x) {
      // Rows and columns 5..6 only; at distance exactly the radius a vertex gets the full step.
      const bool inside = x >= 5 && x <= 6 && y >= 5 && y <= 6 && std::hypot(x - 5, y - 5) <= 1.0;
      EXPECT_EQ(height(x, y), inside ? 42 : 0) << x << ", " << y;
    }
  }
}

TEST_F(HeightPainter, TheLastRowAndColumnAreNeverWritten) {
  start(256, [](height_painter_preferences* p) { p->radius = 3; });
  stroke(0, 0, 10);
  stroke(31, 31, 100);
  stroke(31, 0, 200);
  const std::vector<int16_t> painted = heights();
  EXPECT_GT(height(0, 0), 0);
  EXPECT_GT(height(30, 30), 0);
  for (int32_t toggles = 0; toggles < 3; ++toggles) {
    for (int32_t i = 0; i < 32; ++i) {
      EXPECT_EQ(height(31, i), 0) << "column 31, row " << i;
      EXPECT_EQ(height(i, 31), 0) << "row 31, column " << i;
    }
    if (toggles < 2) {
      ASSERT_TRUE(height_painter_toggle());
    }
  }
  // Off and on again: the same heights.
  EXPECT_EQ(heights(), painted);
}

TEST_F(HeightPainter, AStrokeAfterTheToggleNeverBringsTheUndoneBatchBack) {
  start();
  stroke(10, 10, 100);
  ASSERT_GT(height(10, 10), 0);
  ASSERT_TRUE(height_painter_toggle());
  EXPECT_EQ(height(10, 10), 0);
  // Within the merge time of the undone batch, over its ground: only the new stroke's height.
  stroke(12, 10, 105);
  EXPECT_EQ(height(12, 10), 128);
  EXPECT_EQ(height(10, 10), 128);
  ASSERT_TRUE(height_painter_toggle());
  EXPECT_EQ(height(12, 10), 0);
  EXPECT_EQ(height(10, 10), 0);
  ASSERT_TRUE(height_painter_toggle());
  EXPECT_EQ(height(10, 10), 128);
  EXPECT_EQ(height(6, 10), 0);  // the first stroke's alone
  // The journal agrees: Redo has nothing of the first batch left.
  EXPECT_FALSE(edit_journal_can_redo());
}

TEST_F(HeightPainter, StrokesWithinASecondAreOneJournalStep) {
  start();
  stroke(10, 10, 100);
  stroke(14, 10, 120);  // joins
  const std::vector<int16_t> painted = heights();
  EXPECT_STREQ(edit_journal_undo_name(), HEIGHT_PAINTER_STEP_NAME);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(height(10, 10), 0);
  EXPECT_EQ(height(14, 10), 0);
  EXPECT_FALSE(edit_journal_can_undo());
  // Edit > Undo took the batch off: the painter knows, and its toggle brings it back.
  EXPECT_EQ(height_painter_state(), _height_painter_toggled_off);
  ASSERT_TRUE(height_painter_toggle());
  EXPECT_EQ(heights(), painted);
  ASSERT_TRUE(edit_journal_undo());
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(height_painter_state(), _height_painter_painted);
  EXPECT_EQ(heights(), painted);
  // A stroke well after is a batch of its own.
  stroke(20, 20, 400);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(heights(), painted);
}

TEST_F(HeightPainter, ALongStrokeOutlastsTheJournalsStepLimit) {
  start();
  edit_journal_set_budget(EDIT_JOURNAL_DEFAULT_BYTE_BUDGET, 100);
  for (int32_t k = 0; k < 300; ++k) height_painter_apply(false, 5 + (k % 20), 10, 100 + k);
  height_painter_end_stroke();
  ASSERT_GT(height(10, 10), 0);
  ASSERT_TRUE(edit_journal_undo());
  edit_journal_set_budget(EDIT_JOURNAL_DEFAULT_BYTE_BUDGET, EDIT_JOURNAL_DEFAULT_STEP_LIMIT);
  for (int32_t x = 0; x < 32; ++x) EXPECT_EQ(height(x, 10), 0) << x;
  EXPECT_FALSE(edit_journal_can_undo());
}

TEST_F(HeightPainter, RaisingOnWaterStaysUnderTheSurface) {
  start();
  for (int32_t y = 8; y <= 12; ++y) {
    for (int32_t x = 8; x <= 12; ++x) {
      mesh_cell* cell = mesh_edit_cell(x, y);
      cell->media_height = 100;
      cell->terrain_and_flags = uint16_t(_terrain_human_depth_media << 4 | _terrain_human_depth_media);
    }
  }
  ASSERT_TRUE(height_painter_start());  // fills its grids from the changed map
  for (int32_t k = 0; k < 40; ++k) height_painter_apply(false, 10, 10, 100 + k);
  EXPECT_EQ(height(10, 10), 100);
  // No height built up out of sight: lowering shows at once.
  height_painter_apply(true, 10, 10, 140);
  EXPECT_EQ(height(10, 10), 57);  // trunc((100 / 512 - 1 / 12) x 512)
}

TEST_F(HeightPainter, SmoothAtTheCornerCountsOnlyTheWeightsInsideTheGrid) {
  start(256, [](height_painter_preferences* p) {
    p->tool = _height_painter_filter;
    p->filter = _height_painter_smooth;
    p->filter_parameters[_height_painter_smooth] = 2.01f;
    p->radius = 0.5f;
    p->feather = 0;
  });
  ASSERT_TRUE(mesh_set_vertex_height(1, 0, 512));
  ASSERT_TRUE(mesh_set_vertex_height(0, 1, 1024));
  ASSERT_TRUE(mesh_set_vertex_height(1, 1, 2048));
  height_painter_apply(false, 0, 0, 10);
  // The 3 x 3 kernel of radius 2.01 has 4 of its 9 weights inside the grid at the corner.
  const auto weight = [](double d) {
    const double s = (2.01 - d) / 2.01;
    return s * s * (3 - 2 * s);
  };
  const double w0 = weight(0), w1 = weight(1), w2 = weight(std::sqrt(2.0));
  const double expected = (w0 * 0 + w1 * 1 + w1 * 2 + w2 * 4) / (w0 + 2 * w1 + w2);
  EXPECT_NEAR(height(0, 0), expected * 512, 1.0);
  EXPECT_EQ(height(1, 0), 512);  // outside the brush
}

TEST_F(HeightPainter, FiltersBlendTowardTheirOutputFromTheSource) {
  start(256, [](height_painter_preferences* p) {
    p->tool = _height_painter_filter;
    p->filter = _height_painter_elevation_adjustment;
    p->tool_rates[_height_painter_filter] = 0.25f;
    p->radius = 1.5f;
    p->feather = 0;
  });
  height_painter_apply(false, 10, 10, 10);
  EXPECT_EQ(height(10, 10), 128);  // a quarter of the way to +1 cell
  height_painter_apply(false, 10, 10, 11);
  height_painter_apply(false, 10, 10, 12);
  EXPECT_EQ(height(10, 10), 384);  // coverage grows; the filter never compounds
  for (int64_t t = 13; t < 30; ++t) height_painter_apply(false, 10, 10, t);
  EXPECT_EQ(height(10, 10), 512);
  height_painter_apply(true, 10, 10, 30);  // Shift takes coverage back
  EXPECT_EQ(height(10, 10), 384);
}

TEST_F(HeightPainter, FlattenNeverOvershootsItsTarget) {
  start(256, [](height_painter_preferences* p) {
    p->tool = _height_painter_flatten;
    p->tool_rates[_height_painter_flatten] = 0.5f;  // the target
  });
  ASSERT_TRUE(mesh_set_vertex_height(10, 10, 1000));
  height_painter_apply(false, 10, 10, 10);
  EXPECT_EQ(height(10, 10), 957);  // at the raise rate
  for (int64_t t = 11; t < 40; ++t) height_painter_apply(false, 10, 10, t);
  EXPECT_EQ(height(10, 10), 256);
  EXPECT_EQ(height(11, 10), 256);
}

TEST_F(HeightPainter, ALongStallCountsForHalfASecondAtMost) {
  start();
  height_painter_apply(false, 10, 10, 10);
  height_painter_apply(false, 10, 10, 10 + 100000);
  EXPECT_EQ(height(10, 10), int32_t((1 + HEIGHT_PAINTER_MAXIMUM_TICK_STEP) / 12.0 * 512));
  // Heights saturate at the 16-bit limit instead of wrapping.
  for (int32_t k = 0; k < 200; ++k) height_painter_apply(false, 10, 10, 200000 + 15 * k);
  EXPECT_EQ(height(10, 10), 32767);
  height_painter_apply(true, 10, 10, 200000 + 15 * 200);
  EXPECT_LT(height(10, 10), 32767);
}

TEST_F(HeightPainter, OutsideChangesEndTheBatchAndRefillTheGrids) {
  start();
  stroke(10, 10, 100);
  ASSERT_TRUE(mesh_set_vertex_height(20, 20, 700));  // a menu command, say
  EXPECT_EQ(height_painter_state(), _height_painter_idle);
  EXPECT_FALSE(height_painter_toggle());
  EXPECT_GT(height(10, 10), 0);
  // The refilled grids start from the changed height.
  height_painter_apply(false, 20, 20, 500);
  EXPECT_EQ(height(20, 20), 700 + 42);
}

TEST_F(HeightPainter, ResizingUnderThePainterReallocatesItsGrids) {
  start(512);
  stroke(50, 50, 100);
  ASSERT_TRUE(mesh_resize(32, 32));
  height_painter_apply(false, 60, 60, 500);  // outside the smaller grid: nothing
  height_painter_apply(false, 20, 20, 501);
  height_painter_end_stroke();
  EXPECT_GT(height(20, 20), 0);
  ASSERT_TRUE(mesh_resize(96, 96));
  stroke(90, 90, 900);
  EXPECT_GT(height(90, 90), 0);
  EXPECT_EQ(height(95, 95), 0);
}

TEST_F(HeightPainter, KeysStepThePreferencesWithTheirMessages) {
  start();
  height_painter_preferences* record = height_painter_stored_preferences();
  height_painter_set_defaults(record);
  ASSERT_TRUE(height_painter_start());
  EXPECT_EQ(height_painter_key(0x70), "Filter Tool: Elevation Adjustment");
  EXPECT_EQ(height_painter_key(0x70), "");  // already chosen
  EXPECT_EQ(height_painter_preferences_in_use()->tool, _height_painter_filter);
  EXPECT_EQ(height_painter_key(0x76), "Raise Tool");
  EXPECT_EQ(height_painter_key(0x76), "Flatten Tool");
  EXPECT_EQ(height_painter_key(0x76), "Filter Tool: Elevation Adjustment");
  EXPECT_EQ(height_painter_key(0x76), "Raise Tool");
  EXPECT_EQ(height_painter_key(0x77), "Square Brush");
  EXPECT_EQ(height_painter_key(0x77), "Circle Brush");

  record->radius = 0.25f;
  EXPECT_EQ(height_painter_key(0x78), "");  // at the floor: nothing
  EXPECT_EQ(height_painter_key(0x79), "Increased brush radius to 0.500");
  EXPECT_EQ(height_painter_preferences_in_use()->radius, 0.5f);
  record->feather = 0;
  EXPECT_EQ(height_painter_key(0x7A), "");
  EXPECT_EQ(height_painter_key(0x7B), "Increased brush feather to 0.250");

  record->tool_rates[_height_painter_raise] = 1.0f / 120.0f;
  EXPECT_EQ(height_painter_key(0xBD), "Decreased raise rate to -0.008");  // skips zero
  EXPECT_LT(record->tool_rates[_height_painter_raise], 0.0f);

  EXPECT_EQ(height_painter_key(0x72), "Filter Tool: Smooth");
  record->filter_parameters[_height_painter_smooth] = 2.01f;
  EXPECT_EQ(height_painter_key(0xDB), "");
  EXPECT_EQ(height_painter_key(0xDD), "Increased smoothing radius to 2.260");
  record->tool_rates[_height_painter_filter] = 1.0f / 30.0f;
  EXPECT_EQ(height_painter_key(0xBD), "");
  EXPECT_EQ(height_painter_key(0xBB), "Increased filter effect rate to 0.067");
  EXPECT_EQ(height_painter_key(0x73), "Filter Tool: Noise");
  EXPECT_EQ(height_painter_key(0xDB), "Decreased noise to 0.400");

  // During a stroke the painter keeps its settings; the release takes the keys' changes up.
  height_painter_apply(false, 10, 10, 1000);
  EXPECT_EQ(height_painter_key(0x79), "Increased brush radius to 0.750");
  EXPECT_EQ(height_painter_preferences_in_use()->radius, 0.5f);
  height_painter_end_stroke();
  EXPECT_EQ(height_painter_preferences_in_use()->radius, 0.75f);
}

TEST_F(HeightPainter, InvalidRecordsFallBackToTheDefaults) {
  start();
  height_painter_preferences p;
  height_painter_set_defaults(&p);
  EXPECT_TRUE(height_painter_preferences_valid(p));
  height_painter_preferences bad = p;
  bad.radius = INFINITY;
  EXPECT_FALSE(height_painter_preferences_valid(bad));
  bad = p;
  bad.filter_parameters[_height_painter_smooth] = 0.5f;  // no kernel
  EXPECT_FALSE(height_painter_preferences_valid(bad));
  bad = p;
  bad.filter = 4;
  EXPECT_FALSE(height_painter_preferences_valid(bad));
  EXPECT_FALSE(height_painter_use_preferences(bad));
  *height_painter_stored_preferences() = bad;
  ASSERT_TRUE(height_painter_start());
  EXPECT_EQ(height_painter_preferences_in_use()->filter, p.filter);
  EXPECT_EQ(height_painter_preferences_in_use()->radius, p.radius);
}

TEST_F(HeightPainter, TheOutlineFollowsTheGround) {
  start();
  ASSERT_TRUE(mesh_set_vertex_height(12, 10, 1024));
  height_painter_outline outline;
  ASSERT_TRUE(height_painter_get_outline(10, 10, &outline));
  ASSERT_EQ(outline.inner.size(), 17u);  // 16 segments, closed
  ASSERT_EQ(outline.outer.size(), 31u);  // 6 x 5 segments
  EXPECT_EQ(outline.inner.front().x, outline.inner.back().x);
  EXPECT_GT(outline.inner[0].z, 0);  // (12.5, 10) lies on the raised slope
  height_painter_preferences p = *height_painter_preferences_in_use();
  p.brush = _height_painter_square;
  ASSERT_TRUE(height_painter_use_preferences(p));
  ASSERT_TRUE(height_painter_get_outline(10, 10, &outline));
  EXPECT_EQ(outline.inner.front().x, (10 - 2.5) * 512);
  EXPECT_EQ(outline.inner.front().y, (10 - 2.5) * 512);
}

}  // namespace

namespace {

// Undo back to the saved map leaves it unchanged: closing it asks nothing.
TEST_F(HeightPainter, UndoingEveryStrokeLeavesTheSavedMapUnmodified) {
  start();
  ASSERT_TRUE(map_save());
  ASSERT_FALSE(map_is_modified());
  stroke(10, 10, 100, 40);
  EXPECT_TRUE(map_is_modified());
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_FALSE(edit_journal_can_undo());
  EXPECT_FALSE(map_is_modified());
  // A later stroke, undone likewise.
  stroke(12, 12, 900, 5);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_FALSE(map_is_modified());
}

}  // namespace
