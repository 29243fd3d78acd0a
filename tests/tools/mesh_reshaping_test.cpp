#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "tools/vellgrim_mesh_utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "render/shapes.h"
#include "tools/bitmap_fixtures.h"
#include "tools/map_session.h"
#include "tools/new_map.h"
#include "world/objects.h"

namespace {

class MeshReshaping : public MapImageTest {
 protected:
  marker_data* add_marker(int32_t x, int32_t y) {
    palette_entry_find_or_add(map_fixture_palette_entry(_marker_observer, NONE_TAG, 0));
    marker_data* marker = marker_add(map_fixture_marker(_marker_observer, 0, x, y));
    if (marker) marker_create_object(marker);
    return marker;
  }
  const world_object* object_of(const marker_data* marker) { return object_get(marker->object_index); }
};

TEST_F(MeshReshaping, HeightsStayUnderTheWaterOfWaterCells) {
  ASSERT_TRUE(make_map("shore", 256, 256));
  mesh_cell* cell = mesh_edit_cell(4, 4);
  cell->media_height = 200;
  cell->terrain_and_flags = uint16_t(_terrain_grass << 4 | _terrain_human_depth_media | _cell_media_on_odd_triangle);
  ASSERT_TRUE(mesh_set_vertex_height(4, 4, 900));
  EXPECT_EQ(cell->ground_height, 200);
  mesh_edit_cell(5, 5)->terrain_and_flags = NEW_CELL_TERRAIN;
  ASSERT_TRUE(mesh_set_vertex_height(5, 5, 900));
  EXPECT_EQ(mesh_edit_cell(5, 5)->ground_height, 900);
  EXPECT_TRUE(mesh_set_vertex_height(5, 5, 40000));
  EXPECT_EQ(mesh_edit_cell(5, 5)->ground_height, 32767);
  EXPECT_FALSE(mesh_set_vertex_height(32, 0, 10));
  EXPECT_FALSE(mesh_set_media_height(0, -1, 10));
}

TEST_F(MeshReshaping, TheNeighbourhoodFollowsAChangedVertex) {
  ASSERT_TRUE(make_map("dune", 256, 256));
  marker_data* marker = add_marker(10 * 512 + 100, 10 * 512 + 100);
  ASSERT_NE(marker, nullptr);
  const uint16_t normals_before = mesh_cell_normals(9, 9);
  ASSERT_TRUE(mesh_set_vertex_height(10, 10, 1024));
  EXPECT_NE(mesh_cell_normals(9, 9), normals_before);
  EXPECT_GT(marker->location.z, 0);
  ASSERT_NE(object_of(marker), nullptr);
  EXPECT_EQ(object_of(marker)->location.z, marker->location.z);

  // Water halves take the class of their depth; a dry half keeps its type.
  mesh_cell* cell = mesh_edit_cell(20, 20);
  cell->terrain_and_flags = uint16_t(_terrain_dwarf_depth_media << 4 | _terrain_desert);
  for (int32_t y = 20; y <= 21; ++y)
    for (int32_t x = 20; x <= 21; ++x) mesh_edit_cell(x, y)->media_height = 400;
  ASSERT_TRUE(mesh_set_media_height(20, 20, 400));
  EXPECT_EQ(cell->terrain_and_flags & 0xFF, _terrain_giant_depth_media << 4 | _terrain_desert);
  // Ground raised to within 100 units of the surface at the triangle's three corners.
  mesh_edit_cell(20, 21)->ground_height = 300;
  mesh_edit_cell(21, 21)->ground_height = 300;
  ASSERT_TRUE(mesh_set_vertex_height(20, 20, 300));
  EXPECT_EQ((cell->terrain_and_flags >> 4) & 0x0F, _terrain_dwarf_depth_media);
}

TEST_F(MeshReshaping, ResizingKeepsTheSharedCellsAndTextures) {
  ASSERT_TRUE(make_map("field", 512, 512, [](int32_t x, int32_t y) { return uint8_t(1 + (x + y) % 250); }));
  mesh_edit_cell(63, 10)->ground_height = 777;
  mesh_edit_cell(10, 63)->ground_height = 555;
  mesh_globals.header->media_coverage_size = 0;
  const int16_t old_collection = mesh_landscape_collection();
  const uint8_t old_pixel = bitmap_get_row(collection_get_bitmap(old_collection, 2), 5)[7];
  const uint8_t lower_left_pixel = bitmap_get_row(collection_get_bitmap(old_collection, 4), 0)[0];  // submesh (0, 1)
  const rgb_color old_color = collection_get_color_table(old_collection)->colors[9];

  ASSERT_TRUE(mesh_resize(96, 64));
  EXPECT_EQ(mesh_globals.cells_across, 96);
  EXPECT_EQ(mesh_globals.header->width, 3);
  EXPECT_EQ(mesh_globals.header->height, 2);
  EXPECT_EQ(mesh_globals.header->cells_size, 96 * 64 * 12);
  EXPECT_EQ(mesh_globals.header->media_coverage_size, 0);
  EXPECT_EQ(mesh_globals.header->lod_size, 0);
  EXPECT_EQ(mesh_edit_cell(63, 10)->ground_height, 777);
  EXPECT_EQ(mesh_edit_cell(10, 63)->ground_height, 555);
  EXPECT_EQ(mesh_edit_cell(64, 10)->ground_height, 0);
  EXPECT_EQ(mesh_edit_cell(95, 63)->terrain_and_flags, NEW_CELL_TERRAIN);
  EXPECT_EQ(mesh_edit_cell(95, 63)->object_list, NONE);

  const int16_t collection = mesh_landscape_collection();
  ASSERT_EQ(collection_get_bitmap_count(collection), 12);
  EXPECT_EQ(bitmap_get_row(collection_get_bitmap(collection, 2), 5)[7], old_pixel);
  EXPECT_EQ(bitmap_get_row(collection_get_bitmap(collection, 4), 5)[7], 0xFF);  // submesh (2, 0) is new
  EXPECT_EQ(bitmap_get_row(collection_get_bitmap(collection, 6), 0)[0], lower_left_pixel);
  EXPECT_EQ(collection_get_color_table(collection)->colors[9].red, old_color.red);
  EXPECT_NE(collection_get_shading_table(collection, 0), nullptr);

  ASSERT_TRUE(mesh_recompute_lod());
  EXPECT_EQ(mesh_globals.header->lod_size, 48 * 32 * 2);
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(map_reopen());
  EXPECT_EQ(mesh_globals.cells_across, 96);
  EXPECT_EQ(collection_get_bitmap_count(mesh_landscape_collection()), 12);

  EXPECT_FALSE(mesh_resize(100, 64));
  EXPECT_FALSE(mesh_resize(0, 64));
  EXPECT_EQ(mesh_globals.cells_across, 96);
}

TEST_F(MeshReshaping, ShrinkingDropsTheMarkersLeftOutside) {
  ASSERT_TRUE(make_map("island", 512, 256));
  add_marker(100, 100);
  add_marker(40 * 512, 100);
  add_marker(31 * 512 + 511, 31 * 512 + 511);
  ASSERT_TRUE(mesh_resize(32, 32));
  EXPECT_EQ(mesh_delete_markers_outside(), 1);
  ASSERT_EQ(mesh_globals.header->marker_count, 2);
  EXPECT_EQ(mesh_globals.markers[1].location.x, 31 * 512 + 511);
}

// Shifts, resizes and clamps on a square map, one wider than tall and one taller than wide: a
// width taken for a height shows only on the last two.
struct map_shape {
  const char* name;
  int32_t width, height;  // in submeshes
};

class ReshapingEveryShape : public MeshReshaping, public ::testing::WithParamInterface<map_shape> {
 protected:
  bool make_shaped_map(const char* name) {
    return make_map(name, GetParam().width * MAP_TEXTURE_SIZE, GetParam().height * MAP_TEXTURE_SIZE);
  }
  static int32_t across() { return GetParam().width * CELLS_PER_SUBMESH; }
  static int32_t down() { return GetParam().height * CELLS_PER_SUBMESH; }
  // A height that tells every cell of the largest map from every other.
  static int16_t tagged(int32_t x, int32_t y) { return int16_t(1 + x + 100 * y); }
  static uint8_t* first_pixel(int32_t bitmap_index) {
    return bitmap_get_row(collection_get_bitmap(mesh_landscape_collection(), bitmap_index), 0);
  }
};

void PrintTo(const map_shape& shape, std::ostream* out) { *out << shape.name; }

INSTANTIATE_TEST_SUITE_P(Shapes, ReshapingEveryShape,
                         ::testing::Values(map_shape{"Square", 1, 1}, map_shape{"Wide", 2, 1},
                                           map_shape{"Tall", 1, 2}),
                         [](const ::testing::TestParamInfo<map_shape>& info) { return std::string(info.param.name); });

TEST_P(ReshapingEveryShape, ShiftingMovesCellsAndClampsMarkers) {
  ASSERT_TRUE(make_shaped_map("drift"));
  const int32_t a = across(), d = down();
  const int32_t right = a * 512 - 513, bottom = d * 512 - 513;
  mesh_edit_cell(0, 0)->ground_height = 123;
  mesh_edit_cell(a - 12, d - 12)->ground_height = 456;  // shifted out by 16
  mesh_edit_cell(a - 17, d - 17)->ground_height = 789;  // shifted onto the last cell
  mesh_edit_cell(a - 1, 0)->ground_height = 321;
  ASSERT_NE(add_marker(1000, 1000), nullptr);
  ASSERT_NE(add_marker((a - 2) * 512, (d - 2) * 512 + 200), nullptr);
  ASSERT_TRUE(mesh_shift(16, 16));
  marker_data* near = &mesh_globals.markers[0];
  marker_data* far = &mesh_globals.markers[1];
  EXPECT_EQ(near->location.x, 9192);
  EXPECT_EQ(near->location.y, 9192);
  EXPECT_EQ(far->location.x, right);
  EXPECT_EQ(far->location.y, bottom);
  ASSERT_NE(object_of(near), nullptr);
  EXPECT_EQ(object_of(near)->location.x, 9192);
  EXPECT_EQ(mesh_edit_cell(16, 16)->ground_height, 123);
  EXPECT_EQ(mesh_edit_cell(a - 1, d - 1)->ground_height, 789);
  EXPECT_EQ(mesh_edit_cell(0, 0)->ground_height, 0);
  EXPECT_EQ(mesh_edit_cell(0, 0)->object_list, NONE);

  ASSERT_TRUE(mesh_shift(-16, -16));
  EXPECT_EQ(near->location.x, 1000);
  EXPECT_EQ(near->location.y, 1000);
  EXPECT_EQ(far->location.x, right - 16 * 512);
  EXPECT_EQ(far->location.y, bottom - 16 * 512);
  EXPECT_EQ(mesh_edit_cell(0, 0)->ground_height, 123);
  EXPECT_EQ(mesh_edit_cell(a - 17, d - 17)->ground_height, 789);
  EXPECT_EQ(mesh_edit_cell(a - 12, d - 12)->ground_height, 0);  // went out and came back lost
  EXPECT_EQ(mesh_edit_cell(a - 1, 0)->ground_height, 0);

  // Along one axis only: each axis keeps to its own side.
  ASSERT_TRUE(mesh_shift(0, 5));
  EXPECT_EQ(mesh_edit_cell(0, 5)->ground_height, 123);
  EXPECT_EQ(near->location.x, 1000);
  EXPECT_EQ(near->location.y, 1000 + 5 * 512);

  markers_shift(-1000000, 1000000);
  EXPECT_EQ(near->location.x, 0);
  EXPECT_EQ(near->location.y, bottom);
  markers_shift(1000000, -1000000);
  EXPECT_EQ(near->location.x, right);
  EXPECT_EQ(near->location.y, 0);

  ASSERT_TRUE(mesh_shift_cells(-(a + 8), 3));
  for (int32_t i = 0; i < mesh_cell_count(); ++i) {
    ASSERT_EQ(mesh_globals.cells[i].ground_height, 0);
    ASSERT_EQ(mesh_globals.cells[i].terrain_and_flags & 0xFF, 0);
  }
}

// Grown by a submesh each way, then cut to one row: each side grows or shrinks on its own axis,
// and what is kept of the cells, the textures and the markers is what lies inside the old map.
TEST_P(ReshapingEveryShape, ResizingKeepsEachSideOnItsOwnAxis) {
  ASSERT_TRUE(make_shaped_map("field"));
  const int32_t old_width = GetParam().width, old_height = GetParam().height;
  const int32_t old_across = across(), old_down = down();
  for (int32_t y = 0; y < old_down; ++y)
    for (int32_t x = 0; x < old_across; ++x) mesh_edit_cell(x, y)->ground_height = tagged(x, y);
  for (int32_t k = 0; k < old_width * old_height; ++k) {
    first_pixel(2 * k)[0] = uint8_t(10 + k);
    first_pixel(2 * k + 1)[0] = uint8_t(100 + k);
  }
  // One marker in the middle of every submesh.
  for (int32_t y = 0; y < old_height; ++y)
    for (int32_t x = 0; x < old_width; ++x) ASSERT_NE(add_marker(x * 16384 + 8192, y * 16384 + 8192), nullptr);

  for (auto [new_width, new_height] : {std::pair{old_width + 1, old_height + 1}, std::pair{old_width + 1, 1}}) {
    SCOPED_TRACE(testing::Message() << "to " << new_width << " x " << new_height);
    ASSERT_TRUE(mesh_resize(new_width * CELLS_PER_SUBMESH, new_height * CELLS_PER_SUBMESH));
    EXPECT_EQ(mesh_globals.cells_across, new_width * CELLS_PER_SUBMESH);
    EXPECT_EQ(mesh_globals.cells_down, new_height * CELLS_PER_SUBMESH);
    EXPECT_EQ(mesh_globals.header->width, new_width);
    EXPECT_EQ(mesh_globals.header->height, new_height);
    EXPECT_EQ(mesh_globals.header->cells_size, new_width * new_height * CELLS_PER_SUBMESH * CELLS_PER_SUBMESH * 12);
    for (int32_t y = 0; y < mesh_globals.cells_down; ++y) {
      for (int32_t x = 0; x < mesh_globals.cells_across; ++x) {
        const bool kept = x < old_across && y < old_down;
        ASSERT_EQ(mesh_edit_cell(x, y)->ground_height, kept ? tagged(x, y) : 0) << x << "," << y;
        if (!kept) {
          ASSERT_EQ(mesh_edit_cell(x, y)->terrain_and_flags, NEW_CELL_TERRAIN) << x << "," << y;
        }
      }
    }

    ASSERT_EQ(collection_get_bitmap_count(mesh_landscape_collection()),
              2 * new_width * new_height);
    for (int32_t y = 0; y < new_height; ++y) {
      for (int32_t x = 0; x < new_width; ++x) {
        SCOPED_TRACE(testing::Message() << "submesh " << x << "," << y);
        const int32_t k = x + y * new_width;
        const bool kept = x < old_width && y < old_height;
        const int32_t old_k = x + y * old_width;
        EXPECT_EQ(first_pixel(2 * k)[0], kept ? 10 + old_k : 0xFF);
        if (kept) {
          EXPECT_EQ(first_pixel(2 * k + 1)[0], 100 + old_k);
        }
      }
    }

    const int32_t before = mesh_globals.header->marker_count;
    const int32_t inside = old_width * std::min(old_height, new_height);
    EXPECT_EQ(mesh_delete_markers_outside(), before - inside);
    ASSERT_EQ(mesh_globals.header->marker_count, inside);
    for (int32_t i = 0; i < inside; ++i) {
      EXPECT_LT(mesh_globals.markers[i].location.x, mesh_globals.cells_across * 512);
      EXPECT_LT(mesh_globals.markers[i].location.y, mesh_globals.cells_down * 512);
    }
  }
}

TEST_F(MeshReshaping, ParametersAreTheObserverMargins) {
  ASSERT_TRUE(make_map("bounds", 256, 256));
  ASSERT_TRUE(mesh_set_parameters(1, 2, 3, 4));
  EXPECT_EQ(mesh_globals.header->observer_margin_top, 1);
  EXPECT_EQ(mesh_globals.header->observer_margin_left, 2);
  EXPECT_EQ(mesh_globals.header->observer_margin_bottom, 3);
  EXPECT_EQ(mesh_globals.header->observer_margin_right, 4);
}

}  // namespace
