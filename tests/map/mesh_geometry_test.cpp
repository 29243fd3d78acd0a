#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "map/mesh_geometry.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>
#include <numbers>
#include <utility>
#include <vector>

#include "content/content_maps.h"
#include "content/content_terrain.h"
#include "support/map_fixtures.h"

namespace {

int32_t world(int32_t cell, int32_t inside = 0) { return cell * WORLD_ONE + inside; }

TEST(MeshNormalTable, HoldsUpwardUnitVectorsStartingAtTheZenith) {
  const mesh_normal* table = mesh_normal_table();
  EXPECT_EQ(table[0].x, 0);
  EXPECT_EQ(table[0].y, 0);
  EXPECT_EQ(table[0].z, 16384);
  for (int i = 0; i < NUMBER_OF_NORMALS; ++i) {
    double length = std::sqrt(double(table[i].x) * table[i].x + double(table[i].y) * table[i].y +
                              double(table[i].z) * table[i].z);
    EXPECT_NEAR(length, 16384.0, 40.0) << "entry " << i;
    EXPECT_GT(table[i].z, 0) << "entry " << i;
  }
  // The second ring lies below the zenith, seven points round it.
  EXPECT_EQ(table[1].z, table[7].z);
  EXPECT_NE(table[1].z, table[8].z);
}

// The quick look-up must give exactly the full search's answer, ties included: over a dense sweep
// of directions (unit length and a little short or long of it, as rounding leaves them), over
// vectors that are not unit length at all, and over every triangle of the demo maps.
TEST(MeshNearestNormal, QuickLookUpAgreesWithTheFullSearchOverEveryDirection) {
  int mismatches = 0;
  for (int e = 0; e <= 128 && mismatches < 5; ++e) {
    const double elevation = std::numbers::pi / 2 * e / 128.0;
    for (int a = 0; a < 512 && mismatches < 5; ++a) {
      const double azimuth = 2 * std::numbers::pi * a / 512.0;
      for (double length : {16384.0, 16382.6, 16385.0}) {
        const int32_t x = int32_t(length * std::cos(elevation) * std::cos(azimuth));
        const int32_t y = int32_t(length * std::cos(elevation) * std::sin(azimuth));
        const int32_t z = int32_t(length * std::sin(elevation));
        if (mesh_nearest_normal(x, y, z) != mesh_nearest_normal_by_search(x, y, z)) {
          ++mismatches;
          ADD_FAILURE() << "direction " << x << ", " << y << ", " << z;
        }
      }
    }
  }
  // Exactly on the table's own entries and at odd lengths and signs.
  const mesh_normal* table = mesh_normal_table();
  for (int i = 0; i < NUMBER_OF_NORMALS; ++i) {
    EXPECT_EQ(mesh_nearest_normal(table[i].x, table[i].y, table[i].z), i);
  }
  uint32_t seed = 7;
  for (int k = 0; k < 30000; ++k) {
    seed = seed * 1664525u + 1013904223u;
    const int32_t x = int32_t(seed >> 16) - 32768;
    seed = seed * 1664525u + 1013904223u;
    const int32_t y = int32_t(seed >> 16) - 32768;
    seed = seed * 1664525u + 1013904223u;
    const int32_t z = int32_t(seed >> 16) - 16384;
    ASSERT_EQ(mesh_nearest_normal(x, y, z), mesh_nearest_normal_by_search(x, y, z)) << x << ", " << y << ", " << z;
  }
}

TEST(MeshNearestNormal, QuickLookUpAgreesOnEveryTriangleOfTheDemoMaps) {
  for (const content_map_plan& plan : content_map_plans()) {
    content_terrain terrain;
    ASSERT_TRUE(content_generate_terrain(plan.terrain, &terrain)) << plan.name;
    scoped_test_grid grid(plan.terrain.columns, plan.terrain.rows);
    ASSERT_TRUE(grid.ready());
    for (int32_t y = 0; y < terrain.cells_down; ++y) {
      for (int32_t x = 0; x < terrain.cells_across; ++x) {
        map_fixture_set_height(x, y, int16_t(terrain.vertex_height(x, y)));
      }
    }
    // Every triangle's vector, each distinct one compared once (the full search is slow).
    int64_t triangles = 0;
    std::set<std::array<int32_t, 3>> vectors;
    for (int32_t y = 0; y < terrain.cells_down; ++y) {
      for (int32_t x = 0; x < terrain.cells_across; ++x) {
        for (int16_t triangle = 0; triangle < 4; ++triangle) {
          std::array<int32_t, 3> v;
          mesh_triangle_normal_vector(x, y, triangle, v.data());
          vectors.insert(v);
          ++triangles;
        }
      }
    }
    for (const std::array<int32_t, 3>& v : vectors) {
      ASSERT_EQ(mesh_nearest_normal(v[0], v[1], v[2]), mesh_nearest_normal_by_search(v[0], v[1], v[2]))
          << plan.name << ": " << v[0] << ", " << v[1] << ", " << v[2];
    }
    EXPECT_EQ(triangles, int64_t(terrain.cells_across) * terrain.cells_down * 4);
  }
}

TEST(MeshTriangles, DiagonalAlternatesLikeACheckerboard) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  // Cell (0, 0), even parity: the diagonal runs top-left to bottom-right.
  EXPECT_EQ(mesh_triangle_at(300, 100), 1);
  EXPECT_EQ(mesh_triangle_at(100, 300), 0);
  EXPECT_EQ(mesh_triangle_at(200, 200), 1);
  // Cell (1, 0), odd parity: top-right to bottom-left.
  EXPECT_EQ(mesh_triangle_at(world(1, 100), 100), 2);
  EXPECT_EQ(mesh_triangle_at(world(1, 450), 400), 3);
  EXPECT_EQ(mesh_triangle_at(world(1, 256), 256), 3);
}

TEST(MeshTriangles, TerrainAndMediaComeFromTheTriangleUnderThePoint) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  mesh_cell* cell = mesh_edit_cell(0, 0);
  cell->terrain_and_flags = uint16_t(_terrain_desert << 4 | _terrain_snow | _cell_media_on_odd_triangle);
  EXPECT_EQ(mesh_terrain_at(100, 300), _terrain_desert);  // triangle 0, even
  EXPECT_EQ(mesh_terrain_at(300, 100), _terrain_snow);    // triangle 1, odd
  EXPECT_FALSE(mesh_media_at(100, 300));
  EXPECT_TRUE(mesh_media_at(300, 100));
  // Points outside the map read the nearest edge cell.
  EXPECT_EQ(mesh_terrain_at(-5000, 300), _terrain_desert);
  EXPECT_EQ(mesh_terrain_at(world(40), world(40)), _terrain_grass);
}

class MeshHeights : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(grid.ready());
    // Cell (0, 0): corners top-left 0, top-right 512, bottom-left 1024, bottom-right 0.
    map_fixture_set_height(1, 0, 512);
    map_fixture_set_height(0, 1, 1024);
  }
  scoped_test_grid grid{1, 1};
};

TEST_F(MeshHeights, InterpolateTheTrianglePlaneOnBothSidesOfTheDiagonal) {
  EXPECT_EQ(mesh_height_at(0, 0, _mesh_height_ground), 0);
  EXPECT_EQ(mesh_height_at(384, 128, _mesh_height_ground), 256);  // above the diagonal: h = x - y
  EXPECT_EQ(mesh_height_at(128, 384, _mesh_height_ground), 512);  // below it: h = 2y - 2x
  EXPECT_EQ(mesh_height_at(511, 1, _mesh_height_ground), 510);
  EXPECT_EQ(mesh_height_at(1, 511, _mesh_height_ground), 1020);
}

TEST_F(MeshHeights, ClampedVertexRepeatsTheEdgePastTheLastRowAndColumn) {
  const int32_t last_x = mesh_cells_across() - 1, last_y = mesh_cells_down() - 1;
  map_fixture_set_height(last_x, last_y, 700);
  EXPECT_EQ(mesh_vertex_clamped(last_x + 1, last_y)->ground_height, 700);
  EXPECT_EQ(mesh_vertex_clamped(last_x, last_y + 1)->ground_height, 700);
  EXPECT_EQ(mesh_vertex_clamped(1 << 20, 1 << 20)->ground_height, 700);
  EXPECT_EQ(mesh_vertex_clamped(-1, 1)->ground_height, 1024);
  EXPECT_EQ(mesh_vertex_clamped(1, 0), mesh_get_cell(1, 0));
}

// A constant slope up to the east and south: the last cells lie flat across the edge, at the edge
// vertex's height, instead of falling toward zero or the next row.
TEST(MeshEdge, LastRowAndColumnKeepTheEdgeVertexHeightAndTheSlopeNormal) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) map_fixture_set_height(x, y, int16_t(160 * x + 120 * y));
  }
  mesh_prepare_cells(0, 0, 31, 31);
  for (int32_t inside : {0, 100, 300, 511}) {
    EXPECT_EQ(mesh_height_at(world(31, inside), world(10), _mesh_height_ground), 160 * 31 + 120 * 10)
        << inside;
    EXPECT_EQ(mesh_height_at(world(10), world(31, inside), _mesh_height_ground), 160 * 10 + 120 * 31)
        << inside;
  }
  // The last column is flat across x and still slopes along y (and likewise the last row), so its
  // normals lean only one way; the interior ones lean both.
  const mesh_normal* inner = mesh_normal_at(world(10, 100), world(10, 300));
  const mesh_normal* right = mesh_normal_at(world(31, 100), world(10, 300));
  const mesh_normal* bottom = mesh_normal_at(world(10, 100), world(31, 300));
  EXPECT_LT(inner->x, -1000);
  EXPECT_LT(inner->y, -1000);
  EXPECT_LT(right->y, -1000);
  EXPECT_LT(3 * std::abs(right->x), std::abs(right->y)) << right->x << ", " << right->y;
  EXPECT_LT(bottom->x, -1000);
  EXPECT_LT(3 * std::abs(bottom->y), std::abs(bottom->x)) << bottom->x << ", " << bottom->y;
}

TEST_F(MeshHeights, OddParityCellsCutTheOtherDiagonal) {
  // Cell (1, 0): top-left 512 (vertex (1,0)), top-right 0, bottom-left 0, bottom-right 256.
  map_fixture_set_height(2, 1, 256);
  EXPECT_EQ(mesh_height_at(world(1, 128), 128, _mesh_height_ground), 256);  // triangle 2: 512 - x - y
  EXPECT_EQ(mesh_height_at(world(1, 384), 384, _mesh_height_ground), 128);  // triangle 3
}

TEST_F(MeshHeights, ModesChooseGroundOrMediaPerVertex) {
  for (auto [x, y] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 1}}) {
    mesh_edit_cell(x, y)->media_height = 2000;
  }
  map_fixture_set_flags(1, 0, _cell_media_on_even_triangle);
  EXPECT_EQ(mesh_height_at(511, 0, _mesh_height_surface), 1996);  // top-right vertex is in media
  EXPECT_EQ(mesh_height_at(0, 0, _mesh_height_surface), 0);       // top-left is not
  EXPECT_EQ(mesh_height_at(511, 0, _mesh_height_ground), 511);
  EXPECT_EQ(mesh_height_at(0, 0, _mesh_height_media), 2000);
}

TEST_F(MeshHeights, CellWithoutGroundAnswersNoGround) {
  map_fixture_set_flags(0, 0, _cell_no_ground);
  EXPECT_EQ(mesh_height_at(100, 300, _mesh_height_ground), NO_GROUND_HEIGHT);
  EXPECT_EQ(mesh_height_at(300, 100, _mesh_height_surface), NO_GROUND_HEIGHT);
  EXPECT_NE(mesh_height_at(world(1, 10), 10, _mesh_height_ground), NO_GROUND_HEIGHT);
}

// The whole-cell heights the exports use answer exactly what the point query answers at every
// sample: both triangles of both parities, every mode, steep and extreme heights, the last row and
// column, and cells without ground.
TEST(MeshCellHeights, EverySampleIsThePointQuerysAnswer) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      const int32_t wild = (x * 7919 + y * 104729) % 65536 - 32768;
      map_fixture_set_height(x, y, int16_t((x + y) % 5 == 0 ? wild : (x * 37 - y * 91) * 11));
      mesh_edit_cell(x, y)->media_height = int16_t(((x * 13 + y * 17) % 9) * 300 - 1000);
      if ((x * 3 + y) % 4 == 1) map_fixture_set_flags(x, y, _cell_media_on_even_triangle);
      if (x == 9 && y == 12) map_fixture_set_flags(x, y, _cell_no_ground);
    }
  }
  for (int32_t step : {512, 64, 8}) {
    const int32_t samples = WORLD_ONE / step;
    std::vector<int32_t> heights(size_t(samples) * size_t(samples));
    for (mesh_height_mode mode : {_mesh_height_surface, _mesh_height_ground, _mesh_height_media}) {
      for (int32_t cy = 0; cy < 32; cy += step == 8 ? 5 : 1) {
        for (int32_t cx = 0; cx < 32; cx += step == 8 ? 3 : 1) {
          mesh_cell_heights(cx, cy, mode, step, heights.data());
          for (int32_t j = 0; j < samples; ++j) {
            for (int32_t i = 0; i < samples; ++i) {
              ASSERT_EQ(heights[size_t(i + j * samples)], mesh_height_at(world(cx, i * step), world(cy, j * step), mode))
                  << "cell " << cx << ", " << cy << ", sample " << i << ", " << j << ", step " << step << ", mode "
                  << int(mode);
            }
          }
        }
      }
    }
  }
}

TEST(MeshPrepareCells, NormalsFollowTheSlopeAndRepeatForEqualCells) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  // Ground rising to the east over columns 4..8.
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 4; x < 32; ++x) map_fixture_set_height(x, y, int16_t(std::min(x - 4, 4) * 256));
  }
  mesh_prepare_cells(0, 0, 31, 31);
  EXPECT_EQ(mesh_normal_at(world(1, 100), world(10, 100))->z, 16384);  // flat
  const mesh_normal* slope = mesh_normal_at(world(5, 100), world(10, 300));
  EXPECT_LT(slope->x, -4000);  // tilted away from the rise
  EXPECT_EQ(std::abs(slope->y) < 1000, true);
  // Cells with the same corner heights and media get the same normals.
  EXPECT_EQ(mesh_cell_normals(5, 10), mesh_cell_normals(5, 12));
  EXPECT_EQ(mesh_cell_normals(1, 1), mesh_cell_normals(2, 1));
}

TEST(MeshPrepareCells, DerivesVertexFlagsAndResetsRunTimeLists) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  for (auto [x, y] : {std::pair{4, 4}, std::pair{5, 4}, std::pair{4, 5}, std::pair{5, 5}}) {
    map_fixture_set_flags(x, y, _cell_media_flags);
  }
  map_fixture_set_flags(9, 9, _cell_transient | _cell_no_ground);
  mesh_edit_cell(3, 3)->object_list = 7;
  mesh_edit_cell(3, 3)->model_list = 8;
  mesh_prepare_cells(0, 0, 31, 31);

  // The vertex of cell (5, 5) is shared by four cells in media.
  EXPECT_TRUE(mesh_edit_cell(5, 5)->terrain_and_flags & _cell_vertex_fully_in_media);
  EXPECT_TRUE(mesh_edit_cell(5, 5)->terrain_and_flags & _cell_vertex_touches_media);
  // Vertices touching only some of them.
  EXPECT_TRUE(mesh_edit_cell(6, 6)->terrain_and_flags & _cell_vertex_touches_media);
  EXPECT_FALSE(mesh_edit_cell(6, 6)->terrain_and_flags & _cell_vertex_fully_in_media);
  EXPECT_FALSE(mesh_edit_cell(7, 7)->terrain_and_flags & _cell_vertex_touches_media);
  EXPECT_EQ(mesh_edit_cell(9, 9)->terrain_and_flags & (_cell_transient | _cell_no_ground), 0);
  EXPECT_EQ(mesh_edit_cell(3, 3)->object_list, NONE);
  EXPECT_EQ(mesh_edit_cell(3, 3)->model_list, NONE);
}

TEST(MeshPrepareCells, VertexFlagsFollowWaterThatIsRemoved) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  for (auto [x, y] : {std::pair{4, 4}, std::pair{5, 4}, std::pair{4, 5}, std::pair{5, 5}}) {
    map_fixture_set_flags(x, y, _cell_media_flags);
  }
  mesh_prepare_cells(0, 0, 31, 31);
  ASSERT_TRUE(mesh_edit_cell(5, 5)->terrain_and_flags & _cell_vertex_fully_in_media);
  ASSERT_TRUE(mesh_edit_cell(6, 6)->terrain_and_flags & _cell_vertex_touches_media);

  // The water of cell (4, 4) goes: the vertices round it no longer touch it.
  mesh_edit_cell(4, 4)->terrain_and_flags &= uint16_t(~_cell_media_flags);
  mesh_prepare_cells(3, 3, 6, 6);
  EXPECT_FALSE(mesh_edit_cell(4, 4)->terrain_and_flags & _cell_vertex_touches_media);
  EXPECT_FALSE(mesh_edit_cell(5, 5)->terrain_and_flags & _cell_vertex_fully_in_media);
  EXPECT_TRUE(mesh_edit_cell(5, 5)->terrain_and_flags & _cell_vertex_touches_media);  // three wet cells remain
  EXPECT_TRUE(mesh_edit_cell(6, 6)->terrain_and_flags & _cell_vertex_touches_media);

  // A stored bit with no water anywhere near is not kept either.
  map_fixture_set_flags(20, 20, _cell_vertex_touches_media | _cell_vertex_fully_in_media);
  mesh_prepare_cells(20, 20, 20, 20);
  EXPECT_EQ(mesh_edit_cell(20, 20)->terrain_and_flags & (_cell_vertex_touches_media | _cell_vertex_fully_in_media), 0);
}

class MeshLod : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(grid.ready());
    mesh_prepare_cells(0, 0, 31, 31);
    ASSERT_TRUE(mesh_recompute_lod());
  }
  uint16_t entry(int32_t i, int32_t j) const { return mesh_globals.lod[i + j * 16]; }
  scoped_test_grid grid{1, 1};
};

TEST_F(MeshLod, OneSubmeshHasTwoHundredFiftySixFlatEntries) {
  EXPECT_EQ(grid.header.lod_size, 512);
  for (int32_t j = 0; j < 16; ++j) {
    for (int32_t i = 0; i < 16; ++i) ASSERT_EQ(entry(i, j), 0x00F0) << i << "," << j;
  }
}

TEST_F(MeshLod, BentEdgeSplitsBothBlocksThatShareIt) {
  map_fixture_set_height(5, 4, 100);  // middle of block (2, 2)'s top edge: |0 + 0 - 200| > 128
  mesh_update_lod(5, 4, 5, 4);
  EXPECT_EQ(entry(2, 2) & _lod_split_edges, _lod_split_top);
  EXPECT_EQ(entry(2, 1) & _lod_split_edges, _lod_split_bottom);
  EXPECT_EQ(entry(3, 2) & _lod_split_edges, 0);
}

TEST_F(MeshLod, SplitsPropagateToTheNeighbours) {
  // A cell without ground breaks its block's outer edges; the blocks beyond them must split too.
  map_fixture_set_flags(6, 6, _cell_no_ground);
  mesh_update_lod(6, 6, 6, 6);
  EXPECT_EQ(entry(3, 3) & 0xFF, _lod_split_top | _lod_split_left | 0x00E0);
  EXPECT_EQ(entry(3, 2) & _lod_split_edges, _lod_split_bottom);
  EXPECT_EQ(entry(2, 3) & _lod_split_edges, _lod_split_right);
  EXPECT_EQ(entry(4, 3) & _lod_split_edges, 0);

  // A bent diagonal through a block's centre splits all four edges and every neighbour's side.
  map_fixture_set_height(21, 21, 300);
  mesh_update_lod(21, 21, 21, 21);
  EXPECT_EQ(entry(10, 10) & _lod_split_edges, _lod_split_edges);
  EXPECT_TRUE(entry(10, 9) & _lod_split_bottom);
  EXPECT_TRUE(entry(11, 10) & _lod_split_left);
  EXPECT_TRUE(entry(10, 11) & _lod_split_top);
  EXPECT_TRUE(entry(9, 10) & _lod_split_right);
}

TEST_F(MeshLod, MediaOnlyBlockWithGroundHasNoEdgeBits) {
  for (auto [x, y] : {std::pair{8, 8}, std::pair{9, 8}, std::pair{8, 9}, std::pair{9, 9}}) {
    map_fixture_set_flags(x, y, _cell_media_flags);
  }
  map_fixture_set_height(9, 8, 400);  // even a bent edge does not split it
  EXPECT_EQ(mesh_compute_lod_entry(4, 4), 0xFFF0);
  // Media in only one cell splits the edges that cell's triangles touch.
  map_fixture_set_flags(20, 20, _cell_media_on_odd_triangle);
  EXPECT_EQ(mesh_compute_lod_entry(10, 10), 0x00F0 | _lod_top_left_media_odd | _lod_split_top);
}

TEST_F(MeshLod, ObjectsOnACellSplitItsOuterEdges) {
  mesh_edit_cell(13, 13)->model_list = 0;  // bottom-right cell of block (6, 6)
  EXPECT_EQ(mesh_compute_lod_entry(6, 6) & _lod_split_edges, _lod_split_right | _lod_split_bottom);
}

TEST(MeshLodWithoutData, UpdateDoesNothing) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  mesh_update_lod(0, 0, 31, 31);  // no LOD buffer: must not touch memory
  EXPECT_EQ(mesh_globals.lod, nullptr);
}

std::vector<std::pair<int32_t, int32_t>> walk(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int stop_after = -1) {
  struct state {
    std::vector<std::pair<int32_t, int32_t>> cells;
    int stop_after;
  } s{{}, stop_after};
  mesh_walk_line(x0, y0, x1, y1,
                 [](int32_t x, int32_t y, void* context) {
                   auto* st = static_cast<state*>(context);
                   st->cells.emplace_back(x, y);
                   return int(st->cells.size()) == st->stop_after;
                 },
                 &s);
  return s.cells;
}

TEST(MeshWalkLine, VisitsTheCellsTheSegmentCrossesInOrder) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  using cells = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(walk(world(2, 10), world(3, 10), world(5, 10), world(3, 400)), (cells{{2, 3}, {3, 3}, {4, 3}, {5, 3}}));
  EXPECT_EQ(walk(world(4, 10), world(6, 10), world(4, 300), world(3, 10)), (cells{{4, 6}, {4, 5}, {4, 4}, {4, 3}}));
  EXPECT_EQ(walk(world(1, 100), world(1, 100), world(1, 400), world(1, 300)), (cells{{1, 1}}));
  // A shallow slope crosses into the next row once, and that cell is tested in between.
  EXPECT_EQ(walk(world(0, 256), world(0, 100), world(4, 256), world(1, 100)),
            (cells{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {4, 1}}));
  // Leftward and upward.
  cells back = walk(world(4, 256), world(1, 100), world(0, 256), world(0, 100));
  EXPECT_EQ(back.front(), (std::pair{4, 1}));
  EXPECT_EQ(back.back(), (std::pair{0, 0}));
  EXPECT_EQ(back.size(), 6u);
}

TEST(MeshWalkLine, EveryStepMovesToANeighbourAndTheWalkStopsWhenTheTestSaysSo) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  auto cells = walk(world(1, 37), world(30, 411), world(27, 5), world(2, 260));
  ASSERT_FALSE(cells.empty());
  EXPECT_EQ(cells.front(), (std::pair{1, 30}));
  EXPECT_EQ(cells.back(), (std::pair{27, 2}));
  for (size_t i = 1; i < cells.size(); ++i) {
    int step = std::abs(cells[i].first - cells[i - 1].first) + std::abs(cells[i].second - cells[i - 1].second);
    EXPECT_EQ(step, 1) << "at " << i;
  }
  EXPECT_EQ(walk(world(1, 37), world(30, 411), world(27, 5), world(2, 260), 3).size(), 3u);
  // Cells outside the map are not handed to the test.
  EXPECT_EQ(walk(world(-3, 0), world(1, 0), world(1, 0), world(1, 0)).front(), (std::pair{0, 1}));
}

}  // namespace
