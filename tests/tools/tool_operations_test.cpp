// The operations the tool modes use on an open map: moving and turning markers, and painting a
// triangle's reflection, each one journal step that Undo takes back.
#include <gtest/gtest.h>

#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "session/engine.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"
#include "tools/reflection_map_utils.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

class ToolOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    map_fixture map = map_fixture_new(1, 1);
    map.palette = {map_fixture_palette_entry(_marker_scenery, make_tag("none"), NONE)};
    for (int32_t k = 0; k < 3; ++k) map.markers.push_back(map_fixture_marker(_marker_scenery, 0, 1000 * (k + 1), 700));
    const int32_t tag = store.store_map("ford", map);
    ASSERT_NE(tag, NONE);
    ASSERT_TRUE(map_open(tag));
  }
  void TearDown() override { map_close(); }

  static std::vector<uint16_t> lod() { return {mesh_lod(), mesh_lod() + mesh_lod_entry_count()}; }

  map_test_store store;
};

TEST_F(ToolOperations, MovingAndTurningMarkersAreStepsAndRefuseIndicesOutsideTheList) {
  const int32_t both[] = {0, 2};
  ASSERT_TRUE(marker_operation_move(both, world_point3d{4000, 4100, 12}));
  EXPECT_EQ(mesh_markers()[0].location.x, 4000);
  EXPECT_EQ(mesh_markers()[2].location.y, 4100);
  EXPECT_EQ(mesh_markers()[1].location.x, 2000);
  EXPECT_STREQ(edit_journal_undo_name(), "Move Markers");
  ASSERT_TRUE(marker_operation_turn(both, 0xC000));
  EXPECT_EQ(mesh_markers()[2].yaw, 0xC000);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_markers()[2].yaw, 0);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_markers()[0].location.x, 1000);

  const int32_t outside[] = {0, 3};
  EXPECT_FALSE(marker_operation_move(outside, world_point3d{0, 0, 0}));
  EXPECT_FALSE(marker_operation_turn(outside, 1));
  EXPECT_FALSE(marker_operation_turn({}, 1));
  EXPECT_EQ(mesh_markers()[0].location.x, 1000) << "a refused move changes no marker";
  EXPECT_FALSE(edit_journal_can_undo());
}

TEST_F(ToolOperations, ReflectionPaintingLeavesTheLodAsAFullRecomputeWouldAndUndoes) {
  ASSERT_TRUE(mesh_recompute_lod_data());
  const std::vector<uint16_t> before = lod();
  // Both triangles of two neighbouring cells, the second pair on the grid's last column.
  int32_t points[3][2] = {{5 * 512 + 100, 6 * 512 + 400}, {5 * 512 + 400, 6 * 512 + 100},
                          {31 * 512 + 100, 6 * 512 + 400}};
  // The cell's other triangle, whichever way its diagonal runs.
  if ((mesh_triangle_at(points[0][0], points[0][1]) & 1) == (mesh_triangle_at(points[1][0], points[1][1]) & 1))
    points[1][1] = 6 * 512 + 400, points[0][1] = 6 * 512 + 100;
  ASSERT_NE(mesh_triangle_at(points[0][0], points[0][1]) & 1, mesh_triangle_at(points[1][0], points[1][1]) & 1);
  for (const auto& p : points) {
    const uint16_t flag =
        (mesh_triangle_at(p[0], p[1]) & 1) ? _cell_media_on_odd_triangle : _cell_media_on_even_triangle;
    const uint16_t was = mesh_get_cell(p[0] >> 9, p[1] >> 9)->terrain_and_flags;
    ASSERT_TRUE(reflection_paint_toggle(p[0], p[1]));
    EXPECT_EQ(mesh_get_cell(p[0] >> 9, p[1] >> 9)->terrain_and_flags & _cell_media_flags,
              (was & _cell_media_flags) ^ flag);
    const std::vector<uint16_t> painted = lod();
    ASSERT_TRUE(mesh_recompute_lod_data());
    EXPECT_EQ(painted, lod());
  }
  EXPECT_EQ(mesh_get_cell(5, 6)->terrain_and_flags & _cell_media_flags, _cell_media_flags);
  EXPECT_FALSE(reflection_paint_toggle(32 * 512, 0));
  EXPECT_FALSE(reflection_paint_toggle(-1, 0));
  for (int k = 0; k < 3; ++k) ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_get_cell(5, 6)->terrain_and_flags & _cell_media_flags, 0);
  ASSERT_TRUE(mesh_recompute_lod_data());
  EXPECT_EQ(lod(), before);
}

}  // namespace
