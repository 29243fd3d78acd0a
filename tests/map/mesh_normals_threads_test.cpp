// Normals computed on first read may be asked for from several threads at once (the preparation
// itself settles large rectangles on two): every thread must see the full computation. Run under
// the thread sanitizer by `make test-tsan`.
#include <gtest/gtest.h>

#include <vector>

#include "map/mesh_edit.h"
#include "map/mesh_file.h"
#include "map/mesh_geometry.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/normal_reference.h"
#include "tag_files/tag_files.h"

namespace {

map_fixture hills(int16_t submeshes) {
  map_fixture map = map_fixture_new(submeshes, submeshes);
  const int32_t across = submeshes * CELLS_PER_SUBMESH;
  for (int32_t y = 0; y < across; ++y) {
    for (int32_t x = 0; x < across; ++x) {
      mesh_cell& cell = map.cells[size_t(x + y * across)];
      cell.ground_height = int16_t(((x * 37) % 200) * ((y * 53) % 150) / 20 + ((x ^ y) & 63));
      cell.normals = 0x1234;  // whatever another program stored
    }
  }
  return map;
}

// Each cell's normals as one thread after another asks them, from a fresh open.
std::vector<uint16_t> asked_alone() {
  std::vector<uint16_t> normals;
  for (int32_t y = 0; y < mesh_cells_down(); ++y) {
    for (int32_t x = 0; x < mesh_cells_across(); ++x) normals.push_back(mesh_cell_normals(x, y));
  }
  return normals;
}

TEST(MeshNormalsThreads, ReadersOnTwoThreadsAndAWholeSettleAgree) {
  map_test_store store;
  ASSERT_TRUE(store.ready());
  map_fixture map = hills(4);
  const int32_t tag_index = store.store_map("Hills", map);
  ASSERT_NE(tag_index, NONE);
  const tag identifier = tag_file_get_identifier(tag_index);
  ASSERT_TRUE(mesh_load(identifier));
  const std::vector<uint16_t> want = asked_alone();

  // Two readers walking the grid in opposite orders while a third settles all of it (on two
  // threads of its own).
  ASSERT_TRUE(mesh_load(identifier));
  ASSERT_EQ(mesh_unsettled_normal_submeshes(), 16);
  const auto seen = normals_read_on_two_threads(
      [] { mesh_settle_normals(0, 0, mesh_cells_across() - 1, mesh_cells_down() - 1); });
  EXPECT_EQ(seen[0], want);
  EXPECT_EQ(seen[1], want);
  EXPECT_EQ(mesh_unsettled_normal_submeshes(), 0);
  mesh_unload();
}

}  // namespace
