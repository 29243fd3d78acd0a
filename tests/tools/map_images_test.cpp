#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "tools/extract.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/preferences.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_file.h"
#include "map/mesh_geometry.h"
#include "render/shapes.h"
#include "support/collection_fixtures.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_fixtures.h"
#include "tools/map_session.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

class MapImages : public MapImageTest {
 protected:
  std::string path(const char* name) const { return store.folder().path() + "/" + name; }
  bitmap_image exported(int16_t layer, int32_t submesh = EXTRACT_WHOLE_MESH) {
    bitmap_image image;
    EXPECT_TRUE(extract_build_image(layer, submesh, &image));
    return image;
  }
  void set_bounds(int32_t lower, int32_t upper) {
    vellgrim_preferences* preferences = vellgrim_preferences_get();
    ASSERT_NE(preferences, nullptr);
    preferences->displacement_lower_bound = lower;
    preferences->displacement_upper_bound = upper;
  }
  // The image column of a mesh pixel column in a whole-map image.
  int32_t image_column(int32_t mesh_column) const { return mesh_globals.cells_across * 8 - 1 - mesh_column; }
};

TEST_F(MapImages, DisplacementRoundTripsWithinOneStep) {
  ASSERT_TRUE(make_map("hills", 512, 256));
  set_bounds(0, 10 * 512);
  for (int32_t y = 0; y < mesh_globals.cells_down; ++y) {
    for (int32_t x = 0; x < mesh_globals.cells_across; ++x) mesh_edit_cell(x, y)->ground_height = int16_t((x * 37 + y * 91) % 5121);
  }
  mesh_edit_cell(5, 0)->ground_height = 5120;  // the upper bound
  ASSERT_TRUE(extract_export_layer(_map_layer_displacement, EXTRACT_WHOLE_MESH, path("hills.bmp")));
  const bitmap_image image = exported(_map_layer_displacement);
  EXPECT_EQ(image.at(image_column(5 * 8), 0), 255);
  std::vector<int16_t> heights;
  for (int32_t i = 0; i < mesh_cell_count(); ++i) {
    heights.push_back(mesh_globals.cells[i].ground_height);
    mesh_globals.cells[i].ground_height = 0;
  }
  ASSERT_TRUE(extract_import_layer(_map_layer_displacement, EXTRACT_WHOLE_MESH, path("hills.bmp")));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(map_is_modified());
  for (int32_t i = 0; i < mesh_cell_count(); ++i) {
    ASSERT_LE(heights[size_t(i)] - mesh_globals.cells[i].ground_height, 5120 / 256) << i;
    ASSERT_GE(heights[size_t(i)] - mesh_globals.cells[i].ground_height, 0) << i;
  }
}

// The export works cell by cell; every pixel must still be what the height query answers there,
// in cells without ground too, and the terrain pixels the triangle under each pixel's centre.
TEST_F(MapImages, CellByCellExportsMatchThePointQueries) {
  ASSERT_TRUE(make_map("rough", 512, 256));
  set_bounds(-2048, 4352);
  for (int32_t y = 0; y < mesh_globals.cells_down; ++y) {
    for (int32_t x = 0; x < mesh_globals.cells_across; ++x) {
      mesh_edit_cell(x, y)->ground_height = int16_t((x * 397 + y * 211) % 6000 - 1900);
      mesh_edit_cell(x, y)->terrain_and_flags = uint16_t(((x * 3 + y) & 0xF) << 4 | ((x + 5 * y) & 0xF));
    }
  }
  mesh_edit_cell(7, 9)->terrain_and_flags |= _cell_no_ground;
  ui.progress.clear();
  ui.progress_ends = 0;
  const bitmap_image displacement = exported(_map_layer_displacement);
  const bitmap_image terrain = exported(_map_layer_terrain);
  for (int32_t row = 0; row < displacement.height; ++row) {
    for (int32_t column = 0; column < displacement.width; ++column) {
      const int32_t h = mesh_height_at(column * 64, row * 64, _mesh_height_ground);
      ASSERT_EQ(displacement.at(image_column(column), row), extract_height_to_pixel(h, -2048, 4352)) << column << ", " << row;
      ASSERT_EQ(terrain.at(image_column(column), row), 16 * mesh_terrain_at(column * 64 + 32, row * 64 + 32))
          << column << ", " << row;
    }
  }
  EXPECT_TRUE(ui.boxes.empty());
  ASSERT_EQ(ui.progress.size(), 2u);
  EXPECT_EQ(ui.progress[0].total, mesh_globals.cells_down);
  EXPECT_EQ(ui.progress_ends, 2);
}

// A constant slope: the last pixel rows and columns show the edge vertex's height (the cells past
// the last vertex lie flat), not a fade toward zero.
TEST_F(MapImages, DisplacementEdgeKeepsTheEdgeVertexHeight) {
  ASSERT_TRUE(make_map("slope", 256, 256));
  set_bounds(0, 256 * 32);
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) mesh_edit_cell(x, y)->ground_height = int16_t(64 * x + 128 * y);
  }
  const bitmap_image image = exported(_map_layer_displacement);
  const uint8_t corner = extract_height_to_pixel(64 * 31 + 128 * 31, 0, 256 * 32);
  for (int32_t k = 248; k < 256; ++k) {
    EXPECT_EQ(image.at(image_column(255), k), corner) << "last column, row " << k;
    EXPECT_EQ(image.at(image_column(k), 255), corner) << "last row, column " << k;
    EXPECT_EQ(image.at(image_column(k), 8 * 10), extract_height_to_pixel(64 * 31 + 128 * 10, 0, 256 * 32)) << k;
  }
}

TEST_F(MapImages, ADisplacementExportThatClipsSaysHowManyVertices) {
  ASSERT_TRUE(make_map("peaks", 256, 256));
  set_bounds(-512, 512);
  mesh_edit_cell(3, 3)->ground_height = 900;
  mesh_edit_cell(4, 3)->ground_height = -700;
  exported(_map_layer_displacement);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "2 of 1024 vertices lay outside the displacement bounds -1.00 to 1.00; the image shows them at the bound.");
}

TEST_F(MapImages, ACancelledExportWritesNoFile) {
  ASSERT_TRUE(make_map("long", 256, 256));
  ui.cancel_at_step = 5;
  EXPECT_FALSE(extract_export_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH, path("cancelled.bmp")));
  EXPECT_FALSE(std::filesystem::exists(path("cancelled.bmp")));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MapImages, WaterLevelsGoThroughTheMediaSetter) {
  ASSERT_TRUE(make_map("lake", 256, 256));
  set_bounds(-512, 512);
  mesh_edit_cell(3, 4)->media_height = 256;
  const bitmap_image image = exported(_map_layer_water_level);
  EXPECT_EQ(image.at(image_column(3 * 8 + 7), 4 * 8 + 7), 192);  // every pixel of the cell
  EXPECT_EQ(image.at(image_column(0), 0), 128);
  mesh_edit_cell(3, 4)->media_height = 0;
  ASSERT_TRUE(extract_apply_image(_map_layer_water_level, EXTRACT_WHOLE_MESH, image));
  EXPECT_EQ(mesh_edit_cell(3, 4)->media_height, 256);
}

TEST_F(MapImages, TerrainPixelsShowEachTriangleAndImportKeepsWater) {
  ASSERT_TRUE(make_map("fields", 256, 256));
  // Cell (0, 0) has even parity: the even triangle lies below the diagonal from the top-left.
  mesh_edit_cell(0, 0)->terrain_and_flags = uint16_t(_terrain_grass << 4 | _terrain_marsh);
  mesh_edit_cell(1, 0)->terrain_and_flags = uint16_t(_terrain_human_depth_media << 4 | _terrain_rocky);
  bitmap_image image = exported(_map_layer_terrain);
  EXPECT_EQ(image.at(image_column(1), 6), 96);   // even triangle, bottom-left: grass
  EXPECT_EQ(image.at(image_column(6), 1), 144);  // odd triangle, top-right: marsh
  // Odd parity: the even triangle is the top-left one.
  EXPECT_EQ(image.at(image_column(8 + 1), 1), 16);
  EXPECT_EQ(image.at(image_column(8 + 6), 6), 128);

  for (uint8_t& pixel : image.pixels) pixel = 10 * 16 + 7;  // snow, with low bits that are ignored
  ASSERT_TRUE(extract_apply_image(_map_layer_terrain, EXTRACT_WHOLE_MESH, image));
  EXPECT_EQ(mesh_edit_cell(0, 0)->terrain_and_flags & 0xFF, 0xAA);
  EXPECT_EQ(mesh_edit_cell(1, 0)->terrain_and_flags & 0xFF, 0x1A);  // the water half stays
}

TEST_F(MapImages, ExportWritesTheWholeMapMirrored) {
  ASSERT_TRUE(make_map("twin", 512, 256, [](int32_t x, int32_t y) { return uint8_t(x ^ y); }));
  ASSERT_TRUE(extract_export_layer(_map_layer_color, EXTRACT_WHOLE_MESH, path("twin-out.bmp")));
  const std::vector<uint8_t> written = read_file(path("twin-out.bmp"));
  ASSERT_EQ(written.size(), 1078u + 131072u);
  // The colour map comes back as the picture it was made from, palette included.
  const std::vector<uint8_t> original = read_file(path("twin.bmp"));
  EXPECT_TRUE(std::equal(original.begin() + 1078, original.end(), written.begin() + 1078));
  EXPECT_EQ(bmp_read32(written, 54 + 4 * 77), 0x004D4D4Du);
  // Grey ramps for the other layers; a submesh image is 256 x 256 and mirrored inside its submesh.
  bitmap_image submesh = exported(_map_layer_shadow, 1);
  EXPECT_EQ(submesh.width, 256);
  EXPECT_EQ(submesh.palette[200].green, 200);
  mesh_edit_cell(32, 0)->terrain_and_flags = uint16_t(_terrain_forest << 4 | _terrain_forest);
  submesh = exported(_map_layer_terrain, 1);
  EXPECT_EQ(submesh.at(255, 0), 11 * 16);
  EXPECT_EQ(submesh.at(0, 0), 6 * 16);
  bitmap_image unused;
  EXPECT_FALSE(extract_build_image(_map_layer_reflection, 0, &unused));
  EXPECT_FALSE(extract_build_image(_map_layer_color, 2, &unused));
}

TEST_F(MapImages, EmptyOrInvertedBoundsAreRefused) {
  ASSERT_TRUE(make_map("flat", 256, 256));
  for (auto [lower, upper] : {std::pair{512, 512}, std::pair{1024, -1024}}) {
    set_bounds(lower, upper);
    ui.boxes.clear();
    bitmap_image image;
    EXPECT_FALSE(extract_build_image(_map_layer_displacement, EXTRACT_WHOLE_MESH, &image));
    EXPECT_FALSE(extract_import_layer(_map_layer_water_level, EXTRACT_WHOLE_MESH, path("flat.bmp")));
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].title, "Error");
  }
  EXPECT_FALSE(extract_set_displacement_bounds(3, 3));
  ASSERT_TRUE(extract_set_displacement_bounds(-2048, 4096));
  int32_t lower = 0, upper = 0;
  ASSERT_TRUE(extract_get_displacement_bounds(&lower, &upper));
  EXPECT_EQ(lower, -2048);
  EXPECT_EQ(upper, 4096);
}

TEST_F(MapImages, ShadowImportProtectsAndWritesTheSubmesh) {
  ASSERT_TRUE(make_map("shade", 512, 256));
  bmp_fixture file;
  file.pixel = [](int32_t x, int32_t) { return uint8_t(x); };
  ASSERT_TRUE(extract_import_layer(_map_layer_shadow, 1, write_bitmap("shade-1.bmp", file)));
  const int16_t collection = mesh_landscape_collection();
  const bitmap_data* imported = collection_get_bitmap(collection, 3);
  EXPECT_TRUE(imported->flags & BITMAP_IS_PROTECTED);
  EXPECT_FALSE(collection_get_bitmap(collection, 1)->flags & BITMAP_IS_PROTECTED);
  EXPECT_EQ(bitmap_get_row(imported, 9)[0], 255);  // mirrored inside the submesh
  // Written at once: the map opened again reads it from the collection tag.
  ASSERT_TRUE(map_reopen());
  const bitmap_data* reread = collection_get_bitmap(mesh_landscape_collection(), 3);
  EXPECT_EQ(bitmap_get_row(reread, 9)[10], 245);
  EXPECT_TRUE(reread->flags & BITMAP_IS_PROTECTED);
}

TEST_F(MapImages, ColorImportRebuildsTheTablesAndReopens) {
  ASSERT_TRUE(make_map("paint", 256, 256, [](int32_t, int32_t) -> uint8_t { return 1; }));
  bmp_fixture file;
  file.palette.assign(256, 0);
  file.palette[3] = 0x0000FF00;  // green
  file.pixel = [](int32_t x, int32_t) -> uint8_t { return x < 128 ? 3 : 4; };
  ASSERT_TRUE(extract_import_layer(_map_layer_color, EXTRACT_WHOLE_MESH, write_bitmap("paint-new.bmp", file)));
  ASSERT_TRUE(map_is_open());
  EXPECT_FALSE(map_is_modified());
  const int16_t collection = mesh_landscape_collection();
  const color_table* colors = collection_get_color_table(collection);
  EXPECT_EQ(colors->colors[3].green, 0xFF00);
  EXPECT_NE(colors->colors[1].red, 0x0100);  // index 1 is no longer used and was given a new colour
  EXPECT_EQ(bitmap_get_row(collection_get_bitmap(collection, 0), 0)[0], 4);
  EXPECT_TRUE(collection_get_bitmap(collection, 0)->flags & BITMAP_IS_PROTECTED);
  EXPECT_EQ(collection_get_remapping_tables(collection).size(), 256u);
}

// One dominant colour: its surplus over a slot's share goes to the next colour, never to indices
// that no colour map uses.
TEST(ColorTableRebuild, ADominantColourHandsItsSurplusToTheNextColour) {
  bitmap_palette_entry palette[BITMAP_PALETTE_ENTRIES] = {};
  palette[1] = {0, 0, 200, 0};  // red
  palette[2] = {200, 0, 0, 0};  // blue
  uint32_t counts[256] = {};
  counts[1] = 1000;
  counts[2] = 10;
  const rgb_color remap = {0, 0xFFFF, 0, 0};
  auto tables = std::make_unique<map_color_tables>();
  extract_build_color_tables(palette, counts, remap, tables.get());

  const color_table& colors = tables->colors;
  EXPECT_EQ(colors.count, 256u);
  auto expect_color = [&](int index, uint16_t red, uint16_t green, uint16_t blue) {
    SCOPED_TRACE(index);
    EXPECT_EQ(colors.colors[index].red, red);
    EXPECT_EQ(colors.colors[index].green, green);
    EXPECT_EQ(colors.colors[index].blue, blue);
  };
  // Used indices keep the palette; the unused ones (0, 3..255) are the slots, in order.
  expect_color(1, 200 << 8, 0, 0);
  expect_color(2, 0, 0, 200 << 8);
  expect_color(0, 0x6400, 0x7FFF, 0);  // slot 0: red halfway to the remap colour
  for (int index : {3, 4, 5, 128, 255}) expect_color(index, 0, 0x7FFF, 0x6400);  // the rest: blue, halfway

  EXPECT_EQ(tables->remapping[1], 0);
  EXPECT_EQ(tables->remapping[2], 3);
  EXPECT_EQ(tables->remapping[0], 0);
  EXPECT_EQ(tables->remapping[4], 3);
  EXPECT_EQ(tables->remapping[255], 3);

  EXPECT_EQ(tables->blend[0 + 256 * 5], 5);  // index 0 blends to the other colour, both ways
  EXPECT_EQ(tables->blend[7 + 256 * 0], 7);
  EXPECT_EQ(tables->blend[1 + 256 * 1], 1);
  EXPECT_EQ(tables->blend[4 + 256 * 4], 3);  // the same colour as 3: the lower index wins
  EXPECT_EQ(tables->blend[200 + 256 * 100], 3);
}

TEST_F(MapImages, ARefusedColorImportWritesNothing) {
  // A 2 x 2 map whose collection holds the textures of one submesh only.
  ASSERT_TRUE(make_map("torn", 512, 512));
  int32_t textures = tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, mesh_globals.header->landscape_collection_tag);
  ASSERT_NE(textures, NONE);
  const std::vector<uint8_t> one_submesh = fixture_map_collection(1, 1, 3, 200).tag_data();
  ASSERT_TRUE(tag_file_replace_contents(&textures, one_submesh.data(), int32_t(one_submesh.size())));
  ASSERT_TRUE(map_reopen());

  bmp_fixture file;
  file.width = file.height = 512;
  file.fill = 9;
  EXPECT_FALSE(extract_import_layer(_map_layer_color, EXTRACT_WHOLE_MESH, write_bitmap("whole.bmp", file)));
  // The first submesh's bitmap was changed in memory before the second was found missing; the
  // collection tag is as it was.
  EXPECT_EQ(store.tag_bytes(textures), one_submesh);
  EXPECT_FALSE(tag_files_commit_is_open());
}

TEST_F(MapImages, ImportsRefuseFilesOfTheWrongShape) {
  ASSERT_TRUE(make_map("small", 256, 256));
  bmp_fixture tall;
  tall.height = 512;
  EXPECT_FALSE(extract_import_layer(_map_layer_shadow, 0, write_bitmap("tall.bmp", tall)));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "This bitmap has dimensions 256x512.\nA submesh must have dimensions 256x256.");
  bmp_fixture wide;
  wide.width = 300;
  EXPECT_FALSE(extract_import_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH, write_bitmap("wide.bmp", wide)));
  EXPECT_EQ(ui.boxes.back().text,
            "This bitmap has dimensions 300x256.\nBitmap dimensions must be an even multiple of 256.");
  EXPECT_FALSE(extract_import_layer(_map_layer_reflection, EXTRACT_WHOLE_MESH, path("tall.bmp")));
  EXPECT_EQ(ui.boxes.back().text, "This bitmap has dimensions 256x512. The current mesh has dimensions 256x256.");
  // A top-down file of the map's size is no other size.
  bmp_fixture top_down;
  top_down.height = -256;
  const size_t boxes = ui.boxes.size();
  EXPECT_TRUE(extract_import_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH, write_bitmap("down.bmp", top_down)));
  EXPECT_EQ(ui.boxes.size(), boxes);
  // A file cut short changes nothing.
  std::string cut = bmp_fixture{}.text();
  cut.resize(2000);
  ASSERT_TRUE(store.folder().write_file("cut.bmp", cut));
  mesh_edit_cell(2, 2)->terrain_and_flags = 0x99;
  EXPECT_FALSE(extract_import_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH, path("cut.bmp")));
  EXPECT_EQ(mesh_edit_cell(2, 2)->terrain_and_flags, 0x99);
  EXPECT_EQ(ui.boxes.back().title, "Error");
  EXPECT_EQ(ui.boxes.back().text, path("cut.bmp") + " is cut short: its 256x256 pixels are not all in the file.");
  // A whole file whose pixel offset points into its own headers is damaged, not short.
  std::string inside = bmp_fixture{}.text();
  inside[10] = 20;
  inside[11] = inside[12] = inside[13] = 0;
  ASSERT_TRUE(store.folder().write_file("inside.bmp", inside));
  EXPECT_FALSE(extract_import_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH, path("inside.bmp")));
  EXPECT_EQ(ui.boxes.back().text,
            path("inside.bmp") + " is damaged: its pixels are said to start at byte 20, inside its headers.");
  // The dimensions are judged before the rows: a cut file of the wrong size gets the size message.
  std::string wide_cut = wide.text();
  wide_cut.resize(5000);
  ASSERT_TRUE(store.folder().write_file("wide-cut.bmp", wide_cut));
  EXPECT_FALSE(extract_import_layer(_map_layer_shadow, 0, path("wide-cut.bmp")));
  EXPECT_EQ(ui.boxes.back().text, "This bitmap has dimensions 300x256.\nA submesh must have dimensions 256x256.");
  EXPECT_FALSE(extract_import_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH, path("wide-cut.bmp")));
  EXPECT_EQ(ui.boxes.back().text,
            "This bitmap has dimensions 300x256.\nBitmap dimensions must be an even multiple of 256.");
}

TEST_F(MapImages, AWholeMapImageOfAnotherSizeAsksToResize) {
  ASSERT_TRUE(make_map("grow", 256, 256));
  ASSERT_NE(marker_add(map_fixture_marker(_marker_observer, 0, 1000, 1000)), nullptr);
  bmp_fixture big;
  big.width = big.height = 512;
  big.fill = 9 * 16;
  const std::string file = write_bitmap("big.bmp", big);
  EXPECT_FALSE(extract_import_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH, file));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].buttons, ui_buttons_yes_no);
  EXPECT_EQ(ui.boxes[0].text,
            "This bitmap has dimensions 512x512. The current mesh has dimensions 256x256.\n"
            "Do you want to resize the current mesh?");
  EXPECT_EQ(mesh_globals.width, 1);

  ui.answers.push_back(ui_answer_yes);
  ASSERT_TRUE(extract_import_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH, file));
  EXPECT_EQ(mesh_globals.width, 2);
  EXPECT_EQ(mesh_globals.height, 2);
  EXPECT_EQ(mesh_edit_cell(63, 63)->terrain_and_flags & 0xFF, 0x99);
  EXPECT_EQ(collection_get_bitmap_count(mesh_landscape_collection()), 8);
  EXPECT_EQ(mesh_globals.header->marker_count, 1);
  // The collection was rebuilt for the new grid, so the map was saved with it in one commit.
  EXPECT_FALSE(map_is_modified());
  tag_file_filter filter = tag_file_filter_any();
  std::strcpy(filter.name, "grow");
  filter.group_tag = MESH_DEFINITION_GROUP_TAG;
  int32_t map_tag = NONE;
  ASSERT_EQ(tag_file_search(filter, &map_tag, 1), 1);
  mesh_definition stored;
  ASSERT_TRUE(mesh_read_header(map_tag, &stored));
  EXPECT_EQ(stored.width, 2);
}

// Wider than tall, then taller than wide: the question and the new size keep width and height apart.
TEST_F(MapImages, ANonSquareImageResizesEachSideToItsOwnLength) {
  ASSERT_TRUE(make_map("oblong", 256, 256));
  struct step {
    int32_t width, height;
    const char* question;
  };
  for (const step& s : {step{512, 256, "This bitmap has dimensions 512x256. The current mesh has dimensions 256x256.\n"
                                       "Do you want to resize the current mesh?"},
                        step{256, 512, "This bitmap has dimensions 256x512. The current mesh has dimensions 512x256.\n"
                                       "Do you want to resize the current mesh?"}}) {
    SCOPED_TRACE(s.width);
    bmp_fixture image;
    image.width = s.width;
    image.height = s.height;
    image.fill = 9 * 16;
    ui.boxes.clear();
    ui.answers.push_back(ui_answer_yes);
    ASSERT_TRUE(extract_import_layer(_map_layer_terrain, EXTRACT_WHOLE_MESH,
                                     write_bitmap("oblong-" + std::to_string(s.width) + ".bmp", image)));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, s.question);
    EXPECT_EQ(mesh_globals.width, s.width / 256);
    EXPECT_EQ(mesh_globals.height, s.height / 256);
    EXPECT_EQ(mesh_globals.cells_across, s.width / 8);
    EXPECT_EQ(mesh_globals.cells_down, s.height / 8);
    EXPECT_EQ(mesh_get_cell(s.width / 8 - 1, s.height / 8 - 1)->terrain_and_flags & 0xFF, 0x99);
    EXPECT_EQ(collection_get_bitmap_count(mesh_landscape_collection()),
              2 * (s.width / 256) * (s.height / 256));
  }
}

TEST_F(MapImages, ReflectionBuildsTheCoverageRegionFlagsAndWaterHeights) {
  ASSERT_TRUE(make_map("pond", 256, 256));
  // Water (palette entry 0, black) under mesh pixels 16..39 of rows 8..31: cells 2..4 of rows 1..3.
  for (int32_t y = 1; y <= 3; ++y)
    for (int32_t x = 2; x <= 4; ++x) mesh_edit_cell(x, y)->media_height = 100;
  bmp_fixture file;
  file.palette.assign(256, 0x00FFFFFF);
  file.palette[0] = 0;
  file.pixel = [](int32_t x, int32_t y) -> uint8_t {
    const int32_t column = 255 - x;
    return column >= 16 && column < 40 && y >= 8 && y < 32 ? 0 : 1;
  };
  ASSERT_TRUE(extract_import_layer(_map_layer_reflection, EXTRACT_WHOLE_MESH, write_bitmap("pond.bmp", file)));
  EXPECT_TRUE(map_is_modified());
  const int16_t* row = mesh_media_coverage_row(8);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row[0], 16);
  EXPECT_EQ(row[1], 40);
  EXPECT_EQ(row[2], 256);
  EXPECT_EQ(mesh_media_coverage_row(0)[0], 256);
  EXPECT_EQ(mesh_globals.header->media_coverage_size, 2 * (232 + 3 * 24));

  const uint16_t water = _cell_media_on_even_triangle | _cell_media_on_odd_triangle | _cell_reflective_media;
  EXPECT_EQ(mesh_edit_cell(3, 2)->terrain_and_flags & water, water);
  EXPECT_EQ(mesh_edit_cell(3, 2)->terrain_and_flags & 0xFF, 0x00);  // shallow water both halves
  EXPECT_EQ(mesh_edit_cell(8, 2)->terrain_and_flags & water, 0);
  EXPECT_EQ(mesh_edit_cell(8, 2)->terrain_and_flags & 0xFF, 0x66);
  // Cells round the water take its height and the reflective flag, but no water.
  EXPECT_EQ(mesh_edit_cell(0, 0)->terrain_and_flags & water, _cell_reflective_media);
  EXPECT_EQ(mesh_edit_cell(0, 0)->media_height, 100);
  EXPECT_EQ(mesh_edit_cell(6, 2)->terrain_and_flags & water, _cell_reflective_media);
  EXPECT_EQ(mesh_edit_cell(10, 10)->terrain_and_flags & water, 0);
  EXPECT_EQ(mesh_edit_cell(10, 10)->media_height, 0);
  EXPECT_EQ(mesh_globals.header->lod_size, 512);

  // The export gives the picture back.
  const bitmap_image image = exported(_map_layer_reflection);
  EXPECT_EQ(image.at(255 - 16, 8), 0);
  EXPECT_EQ(image.at(255 - 15, 8), 255);
  EXPECT_EQ(image.at(255 - 40, 8), 255);
  EXPECT_EQ(image.at(0, 100), 255);
}

}  // namespace
