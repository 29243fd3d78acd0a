// The overhead image: zoom limits, the pixel and world mappings, the background against the colour
// export, and the overlays.
#include "view/overhead_image.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "engine/preferences.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "session/engine.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tools/bitmap_file.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/new_map.h"

namespace {

// ---- zoom ----

TEST(OverheadZoom, FitsTheDesktopWithinItsLimits) {
  const overhead_zoom_limits small = overhead_fit_zoom(1024, 768, 2, 2);
  EXPECT_FLOAT_EQ(small.fit, 0.5f);
  EXPECT_FLOAT_EQ(small.minimum, 0.0625f);
  EXPECT_FLOAT_EQ(small.maximum, 2.0f);
  EXPECT_EQ(overhead_submesh_side(small.fit, 2, 2), 128);
  // No room below the 512 pixels kept free: 0.1.
  EXPECT_FLOAT_EQ(overhead_fit_zoom(1024, 400, 2, 2).fit, 0.1f);
  EXPECT_FLOAT_EQ(overhead_fit_zoom(1024, 768, 0, 0).fit, 0.1f);
  // A huge desktop may not make an image past 8192 pixels a side.
  const overhead_zoom_limits huge = overhead_fit_zoom(100000, 100000, 2, 2);
  EXPECT_FLOAT_EQ(huge.maximum, 16.0f);
  EXPECT_FLOAT_EQ(huge.fit, 16.0f);
  EXPECT_LE(huge.minimum, huge.maximum);
  EXPECT_EQ(overhead_submesh_side(huge.maximum, 2, 2) * 2, OVERHEAD_MAXIMUM_SIDE);
  EXPECT_EQ(overhead_submesh_side(1000.0f, 2, 2) * 2, OVERHEAD_MAXIMUM_SIDE);
}

TEST(OverheadZoom, TheSmallestZoomOfTheLargestMapKeepsAPixelPerSubmesh) {
  // trunc(256 x 0.0019) would be 0: a submesh never shrinks below one pixel.
  const overhead_zoom_limits limits = overhead_fit_zoom(1024, 768, 64, 64);
  EXPECT_FLOAT_EQ(limits.fit, 256.0f / (64 * 256));
  EXPECT_GE(overhead_submesh_side(limits.minimum, 64, 64), 1);
  EXPECT_EQ(overhead_submesh_side(0.0001f, 64, 64), 1);
  EXPECT_EQ(overhead_submesh_side(0.0f, 64, 64), 1);
  EXPECT_LE(overhead_submesh_side(limits.maximum, 64, 64) * 64, OVERHEAD_MAXIMUM_SIDE);

  scoped_test_grid grid(64, 64);
  ASSERT_TRUE(grid.ready());
  grid.header.landscape_collection_index = NONE;
  overhead_image background;
  ASSERT_TRUE(overhead_build_background(limits.minimum, &background));
  EXPECT_EQ(background.width, 64);
  EXPECT_EQ(background.height, 64);
  EXPECT_EQ(background.at(63, 63), OVERHEAD_MISSING_TILE_PIXEL);  // no collection: grey
  ASSERT_TRUE(overhead_build_background(limits.maximum, &background));
  EXPECT_EQ(background.width, 16 * 64);
}

// ---- coordinates ----

TEST(OverheadCoordinates, TheViewIsMirroredAndClicksStayOnTheMap) {
  const int32_t W = 32, H = 64;
  EXPECT_EQ(overhead_world_to_pixel({0, 0}, 1.0f, W).x, 256);  // the right edge
  EXPECT_EQ(overhead_world_to_pixel({W * 512 - 1, 0}, 1.0f, W).x, 0);
  EXPECT_EQ(overhead_world_to_pixel({0, H * 512 - 1}, 0.5f, W).y, 255);
  // Pixel (0, 0) is the centre of the map's top-left texel in the view: on the map.
  const world_point2d corner = overhead_pixel_to_world(0, 0, 1.0f, W, H);
  EXPECT_EQ(corner.x, W * 512 - 32);
  EXPECT_EQ(corner.y, 32);
  // Clicked points come back to the pixel that was clicked; above zoom 1 a texel spans several
  // pixels and points are drawn at its first.
  for (float zoom : {1.0f, 0.5f, 0.3f, 2.0f}) {
    for (int32_t p : {0, 1, 7, 60, 75}) {
      const world_point2d world = overhead_pixel_to_world(p, p, zoom, W, H);
      const overhead_pixel back = overhead_world_to_pixel(world, zoom, W);
      const int32_t drawn = zoom > 1.0f ? p & ~1 : p;
      EXPECT_EQ(back.x, drawn) << zoom << " " << p;
      EXPECT_EQ(back.y, drawn) << zoom << " " << p;
    }
  }
  // Outside the image (the mouse captured past the window's edges): clamped into the map.
  const world_point2d outside = overhead_pixel_to_world(-40, 100000, 1.0f, W, H);
  EXPECT_EQ(outside.x, W * 512 - 1);
  EXPECT_EQ(outside.y, H * 512 - 1);
  EXPECT_EQ(overhead_pixel_to_world(100000, -5, 1.0f, W, H).x, 0);
  EXPECT_EQ(overhead_pixel_to_world(100000, -5, 1.0f, W, H).y, 0);
}

TEST(OverheadCoordinates, ABandSelectsTheCellsDrawnUnderIt) {
  const int32_t W = 32, H = 32;
  // Pixel 85 shows texel column 255 - 85 = 170, in cell column 21.
  EXPECT_EQ(overhead_pixel_column(85, 1.0f, W), 21);
  overhead_cell_rectangle one = overhead_band_cells({85, 3}, {85, 3}, 1.0f, W, H);
  EXPECT_EQ(one.x0, 21);
  EXPECT_EQ(one.x1, 21);
  EXPECT_EQ(one.y0, 0);
  // The worked example: from (80, 16) to (40, 48) at zoom 1.
  const overhead_cell_rectangle band = overhead_band_cells({80, 16}, {40, 48}, 1.0f, W, H);
  EXPECT_EQ(band.x0, 21);
  EXPECT_EQ(band.x1, 26);
  EXPECT_EQ(band.y0, 2);
  EXPECT_EQ(band.y1, 6);
  // The rightmost cells of the view are column 0; past the window's edges the band is clamped.
  const overhead_cell_rectangle right = overhead_band_cells({250, 0}, {255, 0}, 1.0f, W, H);
  EXPECT_EQ(right.x0, 0);
  EXPECT_EQ(right.x1, 0);
  const overhead_cell_rectangle everything = overhead_band_cells({-20, -20}, {900, 900}, 1.0f, W, H);
  EXPECT_EQ(everything.x0, 0);
  EXPECT_EQ(everything.x1, W - 1);
  EXPECT_EQ(everything.y0, 0);
  EXPECT_EQ(everything.y1, H - 1);
  // At zoom 2 a cell is 16 pixels.
  EXPECT_EQ(overhead_pixel_column(16, 2.0f, W), 30);
  EXPECT_EQ(overhead_pixel_row(47, 2.0f), 2);
}

// Map-action points are any 32-bit values, and a zoom of 0 or NaN must not reach a conversion
// (the sanitizer build checks that these stay defined).
TEST(OverheadCoordinates, ExtremeInputsStayDefinedAndInsideTheMap) {
  const int32_t W = 64 * 32, H = 64 * 32;
  const overhead_pixel far = overhead_world_to_pixel({INT32_MIN, INT32_MAX}, 1e30f, W);
  EXPECT_GT(far.x, 0);
  EXPECT_GT(far.y, 0);
  const overhead_pixel near = overhead_world_to_pixel({INT32_MAX, INT32_MIN}, 1.0f, W);
  EXPECT_LT(near.x, 0);
  EXPECT_LT(near.y, 0);
  for (float zoom : {0.0f, -1.0f, std::nanf(""), 1e-30f}) {
    const overhead_cell_rectangle cells = overhead_band_cells({-32768, -32768}, {32767, 32767}, zoom, W, H);
    EXPECT_GE(cells.x0, 0);
    EXPECT_LE(cells.x1, W - 1);
    EXPECT_GE(cells.y0, 0);
    EXPECT_LE(cells.y1, H - 1);
    const world_point2d world = overhead_pixel_to_world(32767, 32767, zoom, W, H);
    EXPECT_GE(world.x, 0);
    EXPECT_LT(world.y, H * 512);
  }
}

// ---- on an open map ----

uint8_t diagonal_pattern(int32_t x, int32_t y) { return uint8_t((x * 3 + y * 5) / 7 % 251 + 1); }

class OverheadMap : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    map_close();
  }
  // A map of columns x rows submeshes whose colour map is diagonal_pattern, through a palette of
  // distinct colours.
  bool make_map(int32_t columns, int32_t rows) {
    bitmap_image image;
    image.width = columns * 256;
    image.height = rows * 256;
    image.pixels.resize(size_t(image.width) * size_t(image.height));
    for (int32_t y = 0; y < image.height; ++y)
      for (int32_t x = 0; x < image.width; ++x) image.row(y)[x] = diagonal_pattern(x, y);
    for (int i = 0; i < 256; ++i) image.palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    const std::vector<uint8_t> bytes = bitmap_encode(image);
    if (!store.folder().write_file("pattern.bmp", std::string(bytes.begin(), bytes.end()))) return false;
    return new_map_create("pattern", store.media_tag(), store.folder().path() + "/pattern.bmp");
  }

  map_test_store store;
  scripted_ui_host ui;
};

TEST_F(OverheadMap, TheBackgroundAtZoomOneIsTheColourExport) {
  ASSERT_TRUE(make_map(2, 1));
  bitmap_image exported;
  ASSERT_TRUE(extract_build_image(_map_layer_color, EXTRACT_WHOLE_MESH, &exported));
  overhead_image background;
  ASSERT_TRUE(overhead_build_background(1.0f, &background));
  ASSERT_EQ(background.width, exported.width);
  ASSERT_EQ(background.height, exported.height);
  auto export_pixel = [&](int32_t x, int32_t y) {
    const bitmap_palette_entry& c = exported.palette[exported.at(x, y)];
    return screen_pixel(uint16_t(c.red << 8), uint16_t(c.green << 8), uint16_t(c.blue << 8));
  };
  int32_t differing = 0;
  for (int32_t y = 0; y < background.height; ++y)
    for (int32_t x = 0; x < background.width; ++x) differing += background.at(x, y) != export_pixel(x, y);
  EXPECT_EQ(differing, 0);

  // With the overlays: equal wherever none is drawn (only the observer here).
  overhead_overlays overlays;
  overlays.zoom = 1.0f;
  overhead_overlays_set_tool(&overlays, 0, -1, -1, nullptr);
  overhead_overlays_set_observer(&overlays);
  ASSERT_TRUE(overlays.draw_observer);
  overhead_image composed;
  overhead_compose(background, overlays, &composed);
  const overhead_pixel observer = overhead_world_to_pixel(overlays.observer_target, 1.0f, mesh_cells_across());
  int32_t changed = 0;
  for (int32_t y = 0; y < composed.height; ++y) {
    for (int32_t x = 0; x < composed.width; ++x) {
      const bool near_observer = std::abs(x - observer.x) <= 8 && std::abs(y - observer.y) <= 8;
      if (composed.at(x, y) == export_pixel(x, y)) continue;
      ++changed;
      EXPECT_TRUE(near_observer) << x << "," << y;
    }
  }
  EXPECT_GT(changed, 0);
}

TEST_F(OverheadMap, ScaledBackgroundsKeepTheSubmeshOrderAndMissingTilesAreGrey) {
  ASSERT_TRUE(make_map(2, 1));
  overhead_image full, half;
  ASSERT_TRUE(overhead_build_background(1.0f, &full));
  ASSERT_TRUE(overhead_build_background(0.5f, &half));
  ASSERT_EQ(half.width, 256);
  ASSERT_EQ(half.height, 128);
  // A half-size pixel averages the 2 x 2 it covers; a uniform area stays its colour.
  auto channel_sum = [](uint16_t p) { return ((p >> 10) & 31) + ((p >> 5) & 31) + (p & 31); };
  EXPECT_NEAR(channel_sum(half.at(10, 10)), channel_sum(full.at(20, 20)), 3 * 4);

  // Submesh 0 (view column 1) loses its colour map's shape: that tile is grey, the other is not.
  const int16_t collection = mesh_landscape_collection();
  bitmap_data* bitmap = collection_get_bitmap(collection, 0);
  ASSERT_NE(bitmap, nullptr);
  const int16_t width = bitmap->width;
  bitmap->width = 128;
  overhead_image broken;
  ASSERT_TRUE(overhead_build_background(1.0f, &broken));
  bitmap->width = width;
  EXPECT_EQ(broken.at(256, 0), OVERHEAD_MISSING_TILE_PIXEL);
  EXPECT_EQ(broken.at(511, 255), OVERHEAD_MISSING_TILE_PIXEL);
  EXPECT_EQ(broken.at(0, 0), full.at(0, 0));
  EXPECT_EQ(broken.at(255, 255), full.at(255, 255));
}

TEST_F(OverheadMap, UnitsByTeamToolMarkersAndTheObserverHeading) {
  ASSERT_TRUE(make_map(1, 1));
  ASSERT_NE(palette_entry_find_or_add(map_fixture_palette_entry(_marker_unit, make_tag("warr"), 0)), nullptr);
  ASSERT_NE(palette_entry_find_or_add(map_fixture_palette_entry(_marker_unit, make_tag("axem"), 3)), nullptr);
  ASSERT_NE(palette_entry_find_or_add(map_fixture_palette_entry(_marker_scenery, make_tag("tree"), -1)), nullptr);
  // World x = 16384 - 64 x px at zoom 1.
  ASSERT_NE(marker_add(map_fixture_marker(_marker_unit, 0, 16384 - 64 * 40, 64 * 40)), nullptr);
  ASSERT_NE(marker_add(map_fixture_marker(_marker_unit, 1, 16384 - 64 * 80, 64 * 40)), nullptr);
  ASSERT_NE(marker_add(map_fixture_marker(_marker_scenery, 0, 16384 - 64 * 120, 64 * 40)), nullptr);

  overhead_image background;
  ASSERT_TRUE(overhead_build_background(1.0f, &background));
  overhead_overlays overlays;
  overlays.zoom = 1.0f;
  vellgrim_preferences preferences{};
  preferences.place_unit_flags = 1;  // Show All
  overhead_overlays_set_tool(&overlays, 5, 1, -1, &preferences);  // Place Scenery, its first entry
  overlays.draw_observer = true;
  overlays.observer_target = {16384 - 64 * 200, 64 * 200};
  overlays.observer_facing = 0;
  overhead_image composed;
  overhead_compose(background, overlays, &composed);
  EXPECT_EQ(composed.at(39, 39), overhead_pixel_of_color(OVERHEAD_NEUTRAL_UNIT_COLOR));
  EXPECT_EQ(composed.at(40, 40), overhead_pixel_of_color(OVERHEAD_NEUTRAL_UNIT_COLOR));
  EXPECT_EQ(composed.at(41, 40), background.at(41, 40));  // a 2 x 2 square, right and bottom left out
  EXPECT_EQ(composed.at(79, 39), overhead_pixel_of_color(OVERHEAD_TEAM_UNIT_COLOR));
  EXPECT_EQ(composed.at(120, 40), overhead_pixel_of_color(OVERHEAD_POINT_COLOR));
  EXPECT_EQ(composed.at(121, 40), background.at(121, 40));  // radius 1
  // Facing 0 points along world x, drawn leftward in the mirrored view.
  EXPECT_EQ(composed.at(195, 200), overhead_pixel_of_color(OVERHEAD_OBSERVER_COLOR));
  EXPECT_EQ(composed.at(205, 200), background.at(205, 200));

  // Without Show All only the tool's current entry is drawn; with none, no unit at all.
  preferences.place_unit_flags = 0;
  overhead_overlays_set_tool(&overlays, 5, 1, 2, &preferences);
  overhead_compose(background, overlays, &composed);
  EXPECT_EQ(composed.at(39, 39), background.at(39, 39));
  EXPECT_EQ(composed.at(79, 39), overhead_pixel_of_color(OVERHEAD_TEAM_UNIT_COLOR));
  overhead_overlays_set_tool(&overlays, 5, -1, -1, &preferences);
  overhead_compose(background, overlays, &composed);
  EXPECT_EQ(composed.at(79, 39), background.at(79, 39));
  EXPECT_EQ(composed.at(120, 40), background.at(120, 40));
}

TEST(OverheadOverlays, TheToolTableChoosesTypeRadiusAndEntries) {
  vellgrim_preferences preferences{};
  overhead_overlays overlays;
  overhead_overlays_set_tool(&overlays, 6, 3, -1, &preferences);  // Place Model
  EXPECT_EQ(overlays.tool_drawing, _overhead_draw_point_discs);
  EXPECT_EQ(overlays.tool_marker_type, _marker_model);
  EXPECT_EQ(overlays.tool_radius, 2);
  EXPECT_EQ(overlays.tool_palette_index, 2);
  EXPECT_EQ(overlays.unit_palette_index, OVERHEAD_NO_ENTRY);
  preferences.place_model_flags = 1;
  overhead_overlays_set_tool(&overlays, 14, 3, -1, &preferences);  // Model Animation: the model flag
  EXPECT_EQ(overlays.tool_marker_type, _marker_model_animation);
  EXPECT_EQ(overlays.tool_palette_index, OVERHEAD_ALL_ENTRIES);
  overhead_overlays_set_tool(&overlays, 10, 2, -1, &preferences);  // projectiles always show all
  EXPECT_EQ(overlays.tool_palette_index, OVERHEAD_ALL_ENTRIES);
  EXPECT_EQ(overlays.tool_radius, 1);
  preferences.place_sound_source_flags = 0x4;
  overhead_overlays_set_tool(&overlays, 11, 1, -1, &preferences);
  EXPECT_EQ(overlays.tool_drawing, _overhead_draw_sound_sources);
  EXPECT_FALSE(overlays.show_inner_radii);
  EXPECT_TRUE(overlays.show_outer_radii);
  EXPECT_EQ(overlays.tool_palette_index, 0);
  overhead_overlays_set_tool(&overlays, 12, -1, -1, &preferences);
  EXPECT_EQ(overlays.tool_drawing, _overhead_draw_point_list);
  overhead_overlays_set_tool(&overlays, 1, -1, -1, &preferences);
  EXPECT_EQ(overlays.tool_drawing, _overhead_draw_nothing);
}

TEST(OverheadDrawing, ShapesFollowGdiAndStayInsideTheImage) {
  overhead_image image{16, 8, std::vector<uint16_t>(16 * 8, 0)};
  overhead_fill_ellipse(&image, 2, 2, 6, 6, 1);  // radius 2 around (4, 4): corners left out
  EXPECT_EQ(image.at(2, 2), 0);
  EXPECT_EQ(image.at(3, 2), 1);
  EXPECT_EQ(image.at(5, 4), 1);
  EXPECT_EQ(image.at(5, 5), 0);
  EXPECT_EQ(image.at(6, 4), 0);
  overhead_frame_rectangle(&image, 8, 1, 12, 5, 2);
  EXPECT_EQ(image.at(8, 1), 2);
  EXPECT_EQ(image.at(11, 4), 2);
  EXPECT_EQ(image.at(12, 4), 0);
  EXPECT_EQ(image.at(9, 2), 0);
  overhead_draw_line(&image, 0, 7, 5, 7, 3);
  EXPECT_EQ(image.at(4, 7), 3);
  EXPECT_EQ(image.at(5, 7), 0);  // the last pixel left out
  // Shapes across or past the edges draw what falls inside and nothing else.
  overhead_fill_ellipse(&image, -3, -3, 3, 3, 4);
  overhead_fill_rectangle(&image, 14, 6, 40, 40, 4);
  overhead_draw_circle(&image, 15, 7, 30, 4);
  overhead_draw_circle(&image, 1000, 1000, 5, 4);
  overhead_draw_line(&image, -100, -50, 100, 60, 4);
  EXPECT_EQ(image.at(0, 0), 4);
  EXPECT_EQ(image.at(15, 7), 4);
  EXPECT_EQ(image.pixels.size(), 16u * 8u);
  const std::vector<uint8_t> rgb = overhead_image_rgb8(image);
  ASSERT_EQ(rgb.size(), 16u * 8u * 3u);
  EXPECT_EQ(overhead_pixel_of_color(0x00FFFF), 0x7FE0);  // red and green
  overhead_image white{1, 1, {0x7FFF}};
  EXPECT_EQ(overhead_image_rgb8(white), (std::vector<uint8_t>{255, 255, 255}));
}

}  // namespace
