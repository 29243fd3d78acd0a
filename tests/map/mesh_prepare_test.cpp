// Opening a map prepares every cell (triangle normals, vertex flags, run-time lists) in one fast
// pass; these tests hold it to the plain per-cell computation, so speed can't change an answer.
#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "map/mesh_file.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "content/content_maps.h"
#include "content/content_terrain.h"
#include "map/mesh_geometry.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/normal_reference.h"
#include "tag_files/tag_files.h"

namespace {

// The cells of a rectangle prepared one question at a time: each triangle's normal by the full
// search over the table, then the vertex flags in reading order. Normal vectors come from the open
// map, whose heights and media bits preparing doesn't change.
std::vector<mesh_cell> prepared_by_hand(std::vector<mesh_cell> cells, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  const int32_t across = mesh_cells_across();
  x1 = std::min(x1, across - 1);
  y1 = std::min(y1, mesh_cells_down() - 1);
  normal_reference normals;
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x) {
      mesh_cell& cell = cells[size_t(x + y * across)];
      cell.object_list = cell.model_list = NONE;
      cell.normals = normals.cell(x, y);
    }
  }
  for (int32_t y = std::max(y0, 1); y <= y1; ++y) {
    for (int32_t x = std::max(x0, 1); x <= x1; ++x) {
      mesh_cell& cell = cells[size_t(x + y * across)];
      const uint16_t around[4] = {cell.terrain_and_flags, cells[size_t(x + (y - 1) * across)].terrain_and_flags,
                                  cells[size_t(x - 1 + y * across)].terrain_and_flags,
                                  cells[size_t(x - 1 + (y - 1) * across)].terrain_and_flags};
      bool touches = false, fully = true, no_ground = false;
      for (uint16_t f : around) {
        touches = touches || (f & _cell_media_flags) != 0;
        fully = fully && (f & _cell_media_flags) == _cell_media_flags;
        no_ground = no_ground || (f & _cell_no_ground) != 0;
      }
      uint16_t flags = cell.terrain_and_flags & uint16_t(~(_cell_transient | _cell_vertex_touches_media |
                                                           _cell_vertex_fully_in_media | _cell_no_ground));
      if (touches && !no_ground && cell.model_list == NONE) flags |= _cell_vertex_touches_media;
      if (fully) flags |= _cell_vertex_fully_in_media;
      cell.terrain_and_flags = flags;
    }
  }
  return cells;
}

// The grid as every reader sees it: the normals computed where nobody asked for them yet.
std::vector<mesh_cell> open_cells() {
  mesh_settle_normals(0, 0, mesh_cells_across() - 1, mesh_cells_down() - 1);
  return std::vector<mesh_cell>(mesh_globals.cells, mesh_globals.cells + mesh_cell_count());
}

// Which field of which cell differs first, or "" when none does.
std::string first_difference(const std::vector<mesh_cell>& got, const std::vector<mesh_cell>& want) {
  if (got.size() != want.size()) return "cell counts differ";
  const int32_t across = mesh_cells_across();
  for (size_t i = 0; i < got.size(); ++i) {
    const mesh_cell &g = got[i], &w = want[i];
    const char* field = g.normals != w.normals                       ? "normals"
                        : g.terrain_and_flags != w.terrain_and_flags ? "flags"
                        : g.object_list != w.object_list || g.model_list != w.model_list ? "lists"
                        : g.ground_height != w.ground_height || g.media_height != w.media_height ? "heights"
                                                                                                 : nullptr;
    if (field) return std::string(field) + " of cell " + std::to_string(int32_t(i) % across) + ", " +
                      std::to_string(int32_t(i) / across);
  }
  return "";
}

// Water over low ground, a hole, stale run-time bits and lists: everything preparing rewrites.
void add_water_and_stale_bits(map_fixture& map, int32_t water_level) {
  for (size_t i = 0; i < map.cells.size(); ++i) {
    mesh_cell& cell = map.cells[i];
    cell.media_height = int16_t(water_level);
    if (cell.ground_height < water_level) cell.terrain_and_flags |= _cell_media_flags;
    if (i % 97 == 5) cell.terrain_and_flags ^= _cell_media_on_odd_triangle;
    if (i % 211 == 3) cell.terrain_and_flags |= _cell_no_ground;
    if (i % 7 == 1) cell.terrain_and_flags |= _cell_vertex_touches_media | _cell_transient;
    if (i % 11 == 2) cell.terrain_and_flags |= _cell_vertex_fully_in_media;
    cell.object_list = cell.model_list = int16_t(i % 5);
  }
  // LOD bytes are loaded as stored, whatever they say.
  map.lod.resize(map.cells.size() / 4);
  for (size_t i = 0; i < map.lod.size(); ++i) map.lod[i] = uint16_t(i * 40503u);
}

map_fixture hilly_map(int16_t submeshes) {
  map_fixture map = map_fixture_new(submeshes, submeshes);
  const int32_t across = submeshes * CELLS_PER_SUBMESH;
  for (int32_t y = 0; y < across; ++y) {
    for (int32_t x = 0; x < across; ++x) {
      map.cells[size_t(x + y * across)].ground_height =
          int16_t(((x * 37) % 200) * ((y * 53) % 150) / 20 + ((x ^ y) & 63) - 400);
    }
  }
  add_water_and_stale_bits(map, 0);
  return map;
}

void expect_opens_prepared(map_test_store& store, const std::string& name, map_fixture map) {
  const int32_t tag_index = store.store_map(name.c_str(), map);
  ASSERT_NE(tag_index, NONE) << name;
  ASSERT_TRUE(mesh_load(tag_file_get_identifier(tag_index))) << name;
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  EXPECT_EQ(first_difference(open_cells(), prepared_by_hand(map.cells, 0, 0, across - 1, down - 1)), "") << name;
  ASSERT_EQ(mesh_globals.header->lod_size, int32_t(2 * map.lod.size())) << name;
  EXPECT_TRUE(std::equal(map.lod.begin(), map.lod.end(), mesh_globals.lod)) << name;

  // Again over rectangles after an edit of the heights inside them, inside the grid and along its
  // edges, as the tools prepare what they change: the flags and lists of the rectangle follow, and
  // every normal the new heights change (those of the row and column before it too).
  const std::array<std::array<int32_t, 4>, 4> rectangles = {
      {{5, 7, 40, 29}, {0, 0, 3, across - 1}, {across - 6, down - 4, across - 1, down - 1}, {9, 0, 2, 5}}};
  for (const auto& r : rectangles) {
    const int32_t x0 = std::min(r[0], r[2]), y0 = std::min(r[1], r[3]), x1 = std::max(r[0], r[2]),
                  y1 = std::max(r[1], r[3]);
    for (int32_t y = y0; y <= y1; ++y) {
      for (int32_t x = x0; x <= x1; ++x) {
        mesh_cell& cell = mesh_globals.cells[x + y * across];
        if ((x * 7 + y * 13) % 5 == 0) cell.ground_height = int16_t(cell.ground_height + (x * y) % 300);
        if ((x + y) % 17 == 0) cell.model_list = 3;
      }
    }
    std::vector<mesh_cell> want = prepared_by_hand(open_cells(), x0, y0, x1, y1);
    const std::vector<mesh_cell> fresh = prepared_by_hand(want, 0, 0, across - 1, down - 1);
    for (size_t i = 0; i < want.size(); ++i) want[i].normals = fresh[i].normals;
    mesh_prepare_cells(r[0], r[1], r[2], r[3]);
    EXPECT_EQ(first_difference(open_cells(), want), "") << name << " rectangle " << r[0] << ", " << r[1];
  }
  mesh_unload();
}

TEST(MeshPrepare, OpenPreparesEveryCellAsThePlainComputationDoes) {
  map_test_store store;
  ASSERT_TRUE(store.ready());
  // 128 x 128 cells: large enough to be prepared in two row bands at once.
  expect_opens_prepared(store, "Hills", hilly_map(4));
  for (const content_map_plan& plan : content_map_plans()) {
    content_terrain terrain;
    ASSERT_TRUE(content_generate_terrain(plan.terrain, &terrain)) << plan.name;
    map_fixture map = map_fixture_new(plan.terrain.columns, plan.terrain.rows);
    for (int32_t y = 0; y < terrain.cells_down; ++y) {
      for (int32_t x = 0; x < terrain.cells_across; ++x) {
        map.cells[size_t(x + y * terrain.cells_across)].ground_height = int16_t(terrain.vertex_height(x, y));
      }
    }
    add_water_and_stale_bits(map, terrain.water_level);
    expect_opens_prepared(store, plan.name, map);
  }
}

}  // namespace

namespace {

// A map whose every row has a cell without ground, so each chunk's first row meets one in the row
// above it, as do the first row and column, which preparing leaves alone.
map_fixture map_with_holes_in_every_row(int16_t submeshes) {
  map_fixture map = hilly_map(submeshes);
  const int32_t across = submeshes * CELLS_PER_SUBMESH;
  for (int32_t y = 0; y < across; ++y) {
    map.cells[size_t(y % across + y * across)].terrain_and_flags |= _cell_no_ground;
    map.cells[size_t((y * 5 + 3) % across + y * across)].terrain_and_flags |= _cell_no_ground | _cell_media_flags;
  }
  map.cells[0].terrain_and_flags |= _cell_no_ground;
  map.cells[size_t(7 * across)].terrain_and_flags |= _cell_no_ground;
  return map;
}

// The cells as a map tag stores them: every 16-bit field in the other byte order.
std::vector<mesh_cell> stored_form(std::vector<mesh_cell> cells) {
  for (mesh_cell& cell : cells) {
    for (uint16_t* value : {reinterpret_cast<uint16_t*>(&cell.ground_height), &cell.normals, &cell.terrain_and_flags,
                            reinterpret_cast<uint16_t*>(&cell.object_list), reinterpret_cast<uint16_t*>(&cell.media_height),
                            reinterpret_cast<uint16_t*>(&cell.model_list)}) {
      *value = uint16_t(*value >> 8 | *value << 8);
    }
  }
  return cells;
}

// Stores the map in the store and opens it.
void open_stored(map_test_store& store, map_fixture map) {
  ASSERT_TRUE(store.ready());
  const int32_t tag_index = store.store_map("Holes", map);
  ASSERT_NE(tag_index, NONE);
  ASSERT_TRUE(mesh_load(tag_file_get_identifier(tag_index)));
}

}  // namespace

// The open reads the grid in chunks and prepares them on two threads in either order; whichever
// thread takes which chunk, every cell comes out as one pass in reading order gives it.
TEST(MeshPrepare, ChunksPreparedInAnyOrderGiveThePlainComputation) {
  map_test_store store;
  const map_fixture map = map_with_holes_in_every_row(8);
  ASSERT_NO_FATAL_FAILURE(open_stored(store, map));
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const std::vector<mesh_cell> want = prepared_by_hand(map.cells, 0, 0, across - 1, down - 1);
  EXPECT_EQ(first_difference(open_cells(), want), "");

  const std::vector<mesh_cell> stored = stored_form(map.cells);
  int32_t chunks = 0;
  for (int round = 0; round < 12; ++round) {
    chunks = 0;
    const bool read = mesh_read_and_prepare_cells([&](int32_t first_row, int32_t row_count, mesh_cell* into) {
      EXPECT_EQ(into, mesh_globals.cells + first_row * across);
      EXPECT_TRUE(first_row >= 0 && row_count > 0 && first_row + row_count <= down);
      std::copy_n(stored.begin() + first_row * across, size_t(row_count * across), into);
      ++chunks;
      return true;
    });
    ASSERT_TRUE(read);
    ASSERT_EQ(first_difference(open_cells(), want), "") << "round " << round;
  }
  EXPECT_GE(chunks, 4) << "the map should be read in enough chunks for the second thread";
  mesh_unload();
}

// A chunk that can't be read stops the open: the helper, waiting for it, gives up, and the next
// read of the grid prepares it whole.
TEST(MeshPrepare, AChunkThatCannotBeReadStopsThePreparation) {
  map_test_store store;
  const map_fixture map = map_with_holes_in_every_row(8);
  ASSERT_NO_FATAL_FAILURE(open_stored(store, map));
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const std::vector<mesh_cell> stored = stored_form(map.cells);
  auto reader = [&](int32_t failing_chunk) {
    return [&, failing_chunk, chunk = 0](int32_t first_row, int32_t row_count, mesh_cell* into) mutable {
      if (chunk++ == failing_chunk) return false;
      std::copy_n(stored.begin() + first_row * across, size_t(row_count * across), into);
      return true;
    };
  };
  for (int32_t failing : {0, 2, 5}) EXPECT_FALSE(mesh_read_and_prepare_cells(reader(failing))) << failing;
  ASSERT_TRUE(mesh_read_and_prepare_cells(reader(-1)));
  EXPECT_EQ(first_difference(open_cells(), prepared_by_hand(map.cells, 0, 0, across - 1, down - 1)), "");
  mesh_unload();
}
