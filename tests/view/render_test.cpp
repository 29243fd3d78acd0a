// The visual view's renderer on the demo maps: properties of the frames it draws (not golden
// images), the pick query, and its limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "content/content.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "platform/ui_host.h"
#include "render/screen.h"
#include "render/screen_messages.h"
#include "session/engine.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_file.h"
#include "tools/map_session.h"
#include "tools/new_map.h"
#include "tools/vellgrim_connectors.h"
#include "view/connector_bands.h"
#include "view/render.h"
#include "world/objects.h"

namespace {

using frame_pixels = std::vector<uint16_t>;

int red_of(uint16_t p) { return (p >> 10) & 31; }
int green_of(uint16_t p) { return (p >> 5) & 31; }
int blue_of(uint16_t p) { return p & 31; }

ui_answer answer_yes(void*, const char*, const char*, ui_icon, ui_buttons buttons) {
  return buttons == ui_buttons_ok ? ui_answer_ok : ui_answer_yes;
}
const ui_host yes_host = {nullptr, answer_yes, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// The demo data is built once per process, before the engine starts (the engine and its store lock
// stay for the process).
class RenderDemo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Another suite of this program started the engine first (ctest runs each test alone).
    started_elsewhere_ = engine_is_initialized();
    if (started_elsewhere_) return;
    folder_ = new scoped_work_folder;
    std::string failure;
    ready_ = content_build(folder_->path(), &failure);
    if (!ready_) ADD_FAILURE() << failure;
    error_manager_initialize("render tests");
    ready_ = ready_ && definitions_initialize(&mesh_lighting_definitions) && engine_initialize();
  }
  void SetUp() override {
    if (started_elsewhere_) GTEST_SKIP() << "the demo data must be built before the engine starts: run alone";
    ASSERT_TRUE(ready_);
    ui_host_install(&yes_host);
  }
  void TearDown() override {
    render_set_overlay_procedures(nullptr);
    render_set_connector_procedures(nullptr);
    render_pool_set_limit(RENDER_MEMORY_POOL_SIZE);
    map_close();
  }

  void open(const char* name) {
    for (int32_t n = 0; n < tag_file_count(MESH_DEFINITION_GROUP_TAG); ++n) {
      const int32_t tag_index = tag_file_nth(MESH_DEFINITION_GROUP_TAG, n);
      if (std::strcmp(tag_file_get_name(tag_index), name) == 0) {
        ASSERT_TRUE(map_open(tag_index));
        render_reset_view_settings();
        return;
      }
    }
    FAIL() << "no map " << name;
  }

  frame_pixels frame(const render_camera& camera) {
    frame_pixels pixels(size_t(SCREEN_WIDTH) * SCREEN_HEIGHT);
    EXPECT_TRUE(render_frame(camera, pixels.data()));
    return pixels;
  }

  // A camera some cells back from a point, facing it and looking down at it.
  static render_camera looking_at(const world_point3d& point, int32_t facing = 0) {
    const double angle = facing * 6.283185307179586 / 65536.0;
    const int32_t back = 6 * 512;
    return {{point.x - int32_t(back * std::cos(angle)), point.y - int32_t(back * std::sin(angle)), point.z + 3 * 512},
            facing, -int32_t(std::atan2(3.0, 6.0) * 65536.0 / 6.283185307179586)};
  }

  // The first marker of the type with an object whose palette entry has the team (any team for NONE).
  int32_t find_marker(int16_t type, int16_t team = NONE) {
    for (int32_t m = 0; m < mesh_marker_count(); ++m) {
      const marker_data& marker = mesh_markers()[m];
      if (marker.type != type || !object_get(marker.object_index)) continue;
      if (team != NONE && object_get(marker.object_index)->team != team) continue;
      return m;
    }
    return NONE;
  }

  static scoped_work_folder* folder_;
  static bool ready_;
  static bool started_elsewhere_;
};
scoped_work_folder* RenderDemo::folder_ = nullptr;
bool RenderDemo::ready_ = false;
bool RenderDemo::started_elsewhere_ = false;

// The pixels where two frames differ.
std::vector<size_t> differing(const frame_pixels& a, const frame_pixels& b) {
  std::vector<size_t> at;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) at.push_back(i);
  return at;
}

TEST_F(RenderDemo, SkyFillsTheTopOfALevelFrameAndTheGroundTheBottom) {
  open("Demo Valley");
  render_camera camera = render_observer_camera(0.0f);
  camera.pitch = 0;
  const frame_pixels pixels = frame(camera);
  for (int32_t x = 0; x < SCREEN_WIDTH; ++x) {
    const uint16_t p = pixels[size_t(x)];
    EXPECT_EQ(p, pixels[0]) << x;
    EXPECT_GT(blue_of(p), red_of(p)) << x;
  }
  // Looking down the valley, the lower half is ground, not sky.
  camera.pitch = -5000;
  const frame_pixels down = frame(camera);
  const uint16_t sky = frame(render_camera{camera.position, camera.facing, 0})[0];
  EXPECT_NE(down[size_t(SCREEN_HEIGHT - 1) * SCREEN_WIDTH + SCREEN_WIDTH / 2], sky);
  EXPECT_GT(render_get_statistics()->triangles_drawn, 100);
}

TEST_F(RenderDemo, AMarkersSpriteShowsWhereItStandsAndIsPickedThere) {
  open("Demo Valley");
  const int32_t m = find_marker(_marker_scenery);
  ASSERT_NE(m, NONE);
  const render_camera camera = looking_at(mesh_markers()[m].location);
  float x, y, depth;
  ASSERT_TRUE(render_camera_project(camera, mesh_markers()[m].location, &x, &y, &depth));
  ASSERT_TRUE(x > 0 && x < float(SCREEN_WIDTH) && y > 8 && y < float(SCREEN_HEIGHT));
  render_get_view_settings()->show_objects = 0;
  const frame_pixels without = frame(camera);
  render_get_view_settings()->show_objects = 1;
  const frame_pixels with = frame(camera);
  // Just above the foot the sprite covers the ground.
  int32_t changed = 0;
  for (int32_t dy = 1; dy <= 8; ++dy) {
    const size_t i = size_t(int32_t(y) - dy) * SCREEN_WIDTH + size_t(x);
    changed += with[i] != without[i];
  }
  EXPECT_GT(changed, 4);
  render_pick_hit hits[16];
  const int32_t count = render_pick_point(int32_t(x), int32_t(y) - 4, _pick_marker | _pick_ground, hits, 16);
  ASSERT_GE(count, 2);
  EXPECT_EQ(hits[0].kind, _pick_marker);
  EXPECT_EQ(hits[0].a, m);
  EXPECT_EQ(hits[1].kind, _pick_ground);  // behind it
  EXPECT_LE(hits[0].depth, hits[1].depth);
}

const render_overlay_procedures* selecting(int32_t marker) {
  static int32_t selected;
  static const render_overlay_procedures procedures = {
      nullptr, nullptr, [](int32_t index) -> uint16_t { return index == selected ? _render_marker_selected : 0; },
      nullptr};
  selected = marker;
  return &procedures;
}

TEST_F(RenderDemo, SelectedMarkersAreOutlinedAndInvisibleOnesTranslucent) {
  open("Demo Valley");
  const int32_t m = find_marker(_marker_scenery);
  ASSERT_NE(m, NONE);
  const render_camera camera = looking_at(mesh_markers()[m].location);
  const frame_pixels plain = frame(camera);
  render_set_overlay_procedures(selecting(m));
  const frame_pixels outlined = frame(camera);
  const std::vector<size_t> changed = differing(plain, outlined);
  ASSERT_FALSE(changed.empty());
  // The outline is drawn in the selection colour (water may cover a little of it).
  size_t in_colour = 0;
  for (size_t i : changed) in_colour += outlined[i] == screen_pixel(0xFFFF, 0xE6E6, 0x2828);
  EXPECT_GE(in_colour * 5, changed.size() * 4);
  render_set_overlay_procedures(nullptr);
  // Drawn invisible: every pixel the sprite covered shows the scene through it.
  object_set_invisible(mesh_markers()[m].object_index, true);
  const frame_pixels ghost = frame(camera);
  render_get_view_settings()->show_objects = 0;
  const frame_pixels bare = frame(camera);
  // Where the sprite changed, the ghost is neither the sprite nor the scene behind it.
  const std::vector<size_t> faded = differing(plain, ghost);
  ASSERT_GT(faded.size(), 20u);
  size_t blended = 0;
  for (size_t i : faded) blended += ghost[i] != bare[i];
  EXPECT_GE(blended * 5, faded.size() * 4);
}

TEST_F(RenderDemo, UnitsOfTwoTeamsWearTheirTeamsColours) {
  open("Demo Valley");
  const int32_t first = find_marker(_marker_unit, 0), second = find_marker(_marker_unit, 1);
  ASSERT_NE(first, NONE);
  ASSERT_NE(second, NONE);
  // Count the reddish and the bluish pixels each unit's sprite adds to the scene.
  auto tally = [&](int32_t marker, int32_t* reddish, int32_t* bluish) {
    const render_camera camera = looking_at(mesh_markers()[marker].location);
    render_get_view_settings()->show_objects = 0;
    const frame_pixels bare = frame(camera);
    render_get_view_settings()->show_objects = 1;
    const frame_pixels dressed = frame(camera);
    *reddish = *bluish = 0;
    for (size_t i : differing(bare, dressed)) {
      const uint16_t p = dressed[i];
      *reddish += red_of(p) > 2 * blue_of(p) + 4 && red_of(p) > green_of(p) + 4;
      *bluish += blue_of(p) > 2 * red_of(p) + 4 && blue_of(p) > green_of(p);
    }
  };
  int32_t red0, blue0, red1, blue1;
  tally(first, &red0, &blue0);
  tally(second, &red1, &blue1);
  EXPECT_GT(red0, red1 + 10);
  EXPECT_GT(blue1, blue0 + 10);
}

TEST_F(RenderDemo, EachWireframeModeChangesTheFrameAndAnUnknownOneIsReported) {
  open("Demo Valley");
  const render_camera camera = render_observer_camera(0.0f);
  render_view_settings* settings = render_get_view_settings();
  settings->reduced_lod = 0;
  const frame_pixels plain = frame(camera);
  std::vector<frame_pixels> frames;
  for (int16_t mode : {_wireframe_triangles, _wireframe_cells, _wireframe_submeshes, _wireframe_terrain,
                       _wireframe_reflection}) {
    settings->wireframe_mode = mode;
    frames.push_back(frame(camera));
    EXPECT_GT(differing(plain, frames.back()).size(), 200u) << mode;
  }
  // Cells draw fewer lines than triangles, submeshes fewer than cells.
  EXPECT_GT(differing(plain, frames[0]).size(), differing(plain, frames[1]).size());
  EXPECT_GT(differing(plain, frames[1]).size(), differing(plain, frames[2]).size());
  settings->wireframe_mode = 5;
  const frame_pixels unknown = frame(camera);
  EXPECT_TRUE(differing(plain, unknown).empty());
  EXPECT_STREQ(error_last_message(), "What is wireframe_mode: 5");
}

TEST_F(RenderDemo, MediaAndReducedDetailChangeTheFrame) {
  open("Demo Valley");
  const render_camera camera = render_observer_camera(0.0f);
  render_view_settings* settings = render_get_view_settings();
  const frame_pixels full = frame(camera);
  const int32_t reduced_triangles = render_get_statistics()->triangles_considered;
  settings->reduced_lod = 0;
  frame(camera);
  EXPECT_LT(reduced_triangles, render_get_statistics()->triangles_considered);
  settings->reduced_lod = 1;
  settings->show_media = 0;
  EXPECT_GT(differing(full, frame(camera)).size(), 500u);  // the river
}

TEST_F(RenderDemo, APickAtTheCentreLookingDownFindsTheGroundUnderTheCamera) {
  open("Demo Highlands");
  const int32_t x = 130 * 512 + 60, y = 90 * 512 + 40;
  const render_camera camera{{x, y, mesh_height_at(x, y, _mesh_height_ground) + 20 * 512}, 0, -16384};
  frame(camera);
  render_pick_hit hits[64];
  const int32_t count = render_pick_point(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2, _pick_ground, hits, 64);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(hits[0].kind, _pick_ground);
  EXPECT_LE(std::abs(hits[0].a - x), 512);
  EXPECT_LE(std::abs(hits[0].b - y), 512);
  // Outside the buffer there is nothing.
  EXPECT_EQ(render_pick_point(-1, 10, 0xFFFF, hits, 64), 0);
  EXPECT_EQ(render_pick_point(SCREEN_WIDTH, 10, 0xFFFF, hits, 64), 0);
  EXPECT_EQ(render_pick_point(10, SCREEN_HEIGHT, 0xFFFF, hits, 64), 0);
  // A vertex picked near where it shows.
  const int32_t count_vertices = render_pick_point(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2, _pick_vertex, hits, 64);
  ASSERT_GE(count_vertices, 1);
  EXPECT_EQ(hits[0].kind, _pick_vertex);
  EXPECT_LE(std::abs(hits[0].a * 512 - x), 512);
  EXPECT_LE(std::abs(hits[0].b * 512 - y), 512);
  // Another map has nothing to answer until its first frame.
  map_close();
  open("Demo Valley");
  EXPECT_EQ(render_pick_point(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2, 0xFFFF, hits, 64), 0);
}

TEST_F(RenderDemo, RectanglesAreClippedAndTheirCornersOrdered) {
  open("Demo Highlands");
  frame(render_observer_camera(0.0f));
  std::vector<render_pick_hit> a(8192), b(8192), c(8192);
  const uint16_t kinds = _pick_vertex | _pick_marker | _pick_model;
  const int32_t forward = render_pick_rectangle(100, 80, 400, 300, kinds, a.data(), 8192);
  const int32_t reversed = render_pick_rectangle(400, 300, 100, 80, kinds, b.data(), 8192);
  ASSERT_GT(forward, 10);
  ASSERT_EQ(forward, reversed);
  for (int32_t i = 0; i < forward; ++i) EXPECT_EQ(std::memcmp(&a[i], &b[i], sizeof(a[i])), 0) << i;
  // Nearest first.
  for (int32_t i = 1; i < forward; ++i) EXPECT_LE(a[i - 1].depth, a[i].depth);
  // Corners far outside the buffer pick what the whole buffer holds.
  const int32_t whole = render_pick_rectangle(0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1, kinds, a.data(), 8192);
  EXPECT_EQ(render_pick_rectangle(-5000, 9000, 9000, -5000, kinds, c.data(), 8192), whole);
  EXPECT_EQ(render_pick_rectangle(-50, -50, -1, -1, kinds, c.data(), 8192), 0);
  // The capacity bounds what is written.
  EXPECT_EQ(render_pick_rectangle(0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1, kinds, c.data(), 3), std::min(whole, 3));
}

TEST_F(RenderDemo, TheTerrainWindowLiesAheadInsideTheMap) {
  open("Demo Highlands");  // 256 x 256 cells
  render_cell_window window;
  ASSERT_TRUE(render_terrain_window({{100 * 512, 100 * 512, 4096}, 0, 0}, &window));
  EXPECT_EQ(window.x0, 98);  // centre 131 cells, aligned to even
  EXPECT_EQ(window.y0, 68);
  EXPECT_EQ(window.width, 64);
  EXPECT_EQ(window.height, 64);
  ASSERT_TRUE(render_terrain_window({{250 * 512, 5 * 512, 4096}, 0, 0}, &window));
  EXPECT_EQ(window.x0, 192);  // moved back inside
  EXPECT_EQ(window.y0, 0);
}

TEST_F(RenderDemo, ACameraInTheCornerOfAOneSubmeshMapFacingOutDrawsSafely) {
  bitmap_image picture;
  picture.width = picture.height = 256;
  picture.pixels.assign(256 * 256, 0);
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 256; ++x) picture.row(y)[x] = uint8_t((x + y) / 4);
  bitmap_set_grey_palette(&picture);
  const std::string path = folder_->path() + "/tiny.bmp";
  ASSERT_TRUE(bitmap_write(path, picture));
  ASSERT_TRUE(new_map_create("Tiny", make_tag("watr"), path));
  render_reset_view_settings();
  render_cell_window window;
  for (int32_t facing : {0, 16384, 32768, 40000, 49152}) {
    for (world_point3d at : {world_point3d{10, 10, 3000}, world_point3d{32 * 512 - 1, 32 * 512 - 1, 600},
                             world_point3d{-4000, -4000, 100}}) {
      const render_camera camera{at, facing, -4000};
      ASSERT_TRUE(render_terrain_window(camera, &window));
      EXPECT_EQ(window.x0, 0);
      EXPECT_EQ(window.width, 32);
      EXPECT_EQ(window.height, 32);
      for (int16_t mode : {_wireframe_none, _wireframe_triangles, _wireframe_terrain}) {
        render_get_view_settings()->wireframe_mode = mode;
        frame(camera);
      }
      render_pick_hit hits[256];
      for (int32_t x : {0, 320, 639})
        for (int32_t y : {0, 208, 415}) render_pick_point(x, y, 0xFFFF, hits, 256);
      render_pick_rectangle(0, 0, 639, 415, 0xFFFF, hits, 256);
    }
  }
}

TEST_F(RenderDemo, TheWorstFrameOfTheHighlandsFitsThePool) {
  open("Demo Highlands");
  render_view_settings* settings = render_get_view_settings();
  for (int32_t pose = 0; pose < 16; ++pose) {
    const int32_t x = (40 + (pose % 4) * 55) * 512, y = (40 + (pose / 4) * 55) * 512;
    const render_camera camera{{x, y, mesh_height_at(x, y, _mesh_height_ground) + 4096}, pose * 4096, -4916};
    for (int16_t mode : {_wireframe_none, _wireframe_triangles}) {
      for (int32_t lod : {0, 1}) {
        settings->wireframe_mode = mode;
        settings->reduced_lod = lod;
        frame(camera);
        EXPECT_FALSE(render_get_statistics()->pool_overflowed);
      }
    }
  }
  EXPECT_GT(render_get_statistics()->pool_high_water, 0u);
  EXPECT_LT(render_get_statistics()->pool_high_water, size_t(RENDER_MEMORY_POOL_SIZE));
}

TEST_F(RenderDemo, RunningOutOfPoolSkipsThePassAndSaysSoOnce) {
  open("Demo Valley");
  const render_camera camera = render_observer_camera(0.0f);
  const frame_pixels full = frame(camera);
  render_pool_set_limit(64);
  frame_pixels pixels(size_t(SCREEN_WIDTH) * SCREEN_HEIGHT);
  EXPECT_FALSE(render_frame(camera, pixels.data()));
  EXPECT_TRUE(render_get_statistics()->pool_overflowed);
  // The terrain still shows; only the sprites were skipped, and no pick answers from the frame.
  EXPECT_FALSE(differing(full, pixels).empty());
  EXPECT_EQ(render_get_statistics()->sprites_drawn, 0);
  render_pick_hit hits[4];
  EXPECT_EQ(render_pick_point(320, 300, _pick_ground, hits, 4), 0);
  render_pool_set_limit(RENDER_MEMORY_POOL_SIZE);
  EXPECT_TRUE(render_frame(camera, pixels.data()));
  EXPECT_TRUE(differing(full, pixels).empty());
}

TEST_F(RenderDemo, TheLatestMessageShowsAtTheTopLeftAndChangesTheStamp) {
  open("Demo Valley");
  const render_camera camera = render_observer_camera(0.0f);
  screen_message_clear();
  const uint64_t quiet = render_scene_stamp(camera);
  EXPECT_EQ(render_scene_stamp(camera), quiet);
  const frame_pixels plain = frame(camera);
  screen_message_show("Wireframe mode: Cells\n");
  EXPECT_NE(render_scene_stamp(camera), quiet);
  const std::vector<size_t> changed = differing(plain, frame(camera));
  ASSERT_GT(changed.size(), 50u);
  for (size_t i : changed) {
    EXPECT_LT(i % SCREEN_WIDTH, 160u);
    EXPECT_LT(i / SCREEN_WIDTH, 16u);
  }
  EXPECT_STREQ(screen_message_current(screen_message_clock()), "Wireframe mode: Cells");
  EXPECT_EQ(screen_message_current(screen_message_clock() + SCREEN_MESSAGE_DURATION_MILLISECONDS), nullptr);
  screen_message_clear();
  render_camera moved = camera;
  moved.position.x += 1;
  EXPECT_NE(render_scene_stamp(moved), render_scene_stamp(camera));
}

TEST_F(RenderDemo, ToolOverlaysAndConnectorBandsDrawThroughTheirHooks) {
  open("Demo Valley");
  const int32_t m = find_marker(_marker_scenery);
  ASSERT_NE(m, NONE);
  const world_point3d at = mesh_markers()[m].location;
  const render_camera camera = looking_at(at);
  const frame_pixels plain = frame(camera);
  // A band from the marker two cells sideways, a cell high, in pure blue.
  static world_point3d band_start;
  band_start = at;
  static const render_connector_procedures bands = {
      [] { return 1; },
      [](int32_t, render_connector_band* band) {
        *band = {band_start, {band_start.x, band_start.y + 1024, band_start.z}, 512, screen_pixel(0, 0, 0xFFFF), 0};
        return true;
      },
      nullptr};
  render_set_connector_procedures(&bands);
  const frame_pixels banded = frame(camera);
  render_set_connector_procedures(nullptr);
  size_t blue = 0;
  for (size_t i : differing(plain, banded)) blue += banded[i] == screen_pixel(0, 0, 0xFFFF);
  EXPECT_GT(blue, 100u);
  // The overlay runs before and after the scene and draws through the view.
  static int32_t calls[2];
  calls[0] = calls[1] = 0;
  static const render_overlay_procedures overlay = {
      [](render_view*) { ++calls[0]; },
      [](render_view* view) {
        ++calls[1];
        render_view_draw_screen_line(view, 10, 400, 630, 400, screen_pixel(0xFFFF, 0, 0), false);
        render_view_draw_text(view, 300, 300, "Height Painter", screen_pixel(0xFFFF, 0xFFFF, 0));
      },
      nullptr, [] { return uint64_t(7); }};
  const uint64_t before = render_scene_stamp(camera);
  render_set_overlay_procedures(&overlay);
  EXPECT_NE(render_scene_stamp(camera), before);
  const frame_pixels drawn = frame(camera);
  EXPECT_EQ(calls[0], 1);
  EXPECT_EQ(calls[1], 1);
  for (int32_t x = 10; x <= 630; ++x) EXPECT_EQ(drawn[400 * size_t(SCREEN_WIDTH) + size_t(x)], screen_pixel(0xFFFF, 0, 0));
  size_t yellow = 0;
  for (size_t i : differing(plain, drawn)) yellow += drawn[i] == screen_pixel(0xFFFF, 0xFFFF, 0);
  EXPECT_GT(yellow, 40u);
}

TEST_F(RenderDemo, ObjectsStandingInReflectiveWaterShowTheirReflection) {
  open("Demo Valley");
  // A tree moved into the middle of reflective water.
  int32_t water_x = NONE, water_y = NONE;
  for (int32_t y = 1; y + 1 < mesh_cells_down() && water_x == NONE; ++y)
    for (int32_t x = 1; x + 1 < mesh_cells_across(); ++x) {
      const uint16_t flags = mesh_get_cell(x, y)->terrain_and_flags;
      if ((flags & _cell_reflective_media) && (flags & _cell_media_flags) == _cell_media_flags) {
        water_x = x;
        water_y = y;
        break;
      }
    }
  ASSERT_NE(water_x, NONE) << "the valley's river is reflective";
  const int32_t m = find_marker(_marker_scenery);
  ASSERT_NE(m, NONE);
  const world_point3d at{water_x * 512 + 256, water_y * 512 + 256,
                         mesh_height_at(water_x * 512 + 256, water_y * 512 + 256, _mesh_height_media)};
  object_move(mesh_markers()[m].object_index, at, 0, 0);
  const render_camera camera = looking_at(at);
  float x, y, depth;
  ASSERT_TRUE(render_camera_project(camera, at, &x, &y, &depth));
  render_get_view_settings()->show_objects = 0;
  const frame_pixels bare = frame(camera);
  render_get_view_settings()->show_objects = 1;
  const frame_pixels with = frame(camera);
  // Below the water line, where only a reflection can be.
  int32_t changed = 0;
  for (int32_t dy = 2; dy <= 10; ++dy) {
    const size_t i = size_t(int32_t(y) + dy) * SCREEN_WIDTH + size_t(x);
    changed += with[i] != bare[i];
  }
  EXPECT_GT(changed, 4);
}

}  // namespace

namespace {

TEST_F(RenderDemo, TheDemoFenceIsDrawnBetweenItsPosts) {
  open("Demo Valley");
  const std::span<const connector_display> fences = connectors_display_records();
  ASSERT_FALSE(fences.empty());
  ASSERT_GE(fences[0].link_count, 2);
  const world_object* post = object_get(fences[0].links[0].object_index);
  ASSERT_NE(post, nullptr);
  // The demo posts stand in a row along x: look across it, not along it.
  const render_camera camera = looking_at(post->location, 16384);
  render_set_connector_procedures(nullptr);  // the engine registered the bands at start
  const frame_pixels plain = frame(camera);
  connector_bands_register();
  const frame_pixels fenced = frame(camera);
  EXPECT_GT(differing(plain, fenced).size(), 50u);
}

}  // namespace
