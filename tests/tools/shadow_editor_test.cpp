// The shadow maps: the lighting record's checks, the window and the arithmetic of the modes, the
// blur, the protected bit, the journal, saving, cancelling and the threads.
#include "tools/shadow_editor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/mesh_geometry.h"
#include "platform/posix_files.h"
#include "render/shapes.h"
#include "support/collection_fixtures.h"
#include "support/map_fixtures.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/model_animation_shadows.h"
#include "cseries/byte_swapping.h"
#include "engine/definitions.h"
#include "world/models.h"

namespace {

constexpr int32_t FIXED_ONE = 65536;

mesh_lighting lighting_of(double x, double y, double z, double ambient, double intensity, int16_t steps,
                          int16_t radius, float sigma) {
  mesh_lighting l = {};
  l.light_x = int32_t(x * FIXED_ONE);
  l.light_y = int32_t(y * FIXED_ONE);
  l.light_z = int32_t(z * FIXED_ONE);
  l.ambient = int32_t(ambient * FIXED_ONE);
  l.intensity = int32_t(intensity * FIXED_ONE);
  l.shadow_value = FIXED_ONE / 4;
  l.maximum = 0xFFFF;
  l.ray_steps = steps;
  l.blur_radius = radius;
  l.blur_sigma = sigma;
  return l;
}

// The demo data's day light.
mesh_lighting demo_lighting() { return lighting_of(0.45, 0.35, -0.82, 0.30, 0.75, 48, 2, 1.2f); }

class Shadows : public MapImageTest {
 protected:
  void TearDown() override {
    posix_set_observer(nullptr);
    shadow_set_thread_count(2);
    MapImageTest::TearDown();
  }

  // Stores the record as the map's "gras" lighting, big-endian, before anything loads it.
  void store_lighting(const mesh_lighting& l) {
    std::vector<uint8_t> bytes(64, 0);
    const int32_t ints[7] = {l.light_x, l.light_y, l.light_z, l.ambient, l.intensity, l.shadow_value, l.maximum};
    for (int k = 0; k < 7; ++k) fixture_put32(bytes, size_t(4 * k), uint32_t(ints[k]));
    fixture_put16(bytes, 28, uint16_t(l.ray_steps));
    fixture_put16(bytes, 30, uint16_t(l.blur_radius));
    uint32_t sigma_bits;
    std::memcpy(&sigma_bits, &l.blur_sigma, 4);
    fixture_put32(bytes, 32, sigma_bits);
    int32_t tag_index = tag_file_find(mesh_lighting_definitions.group_tag, make_tag("gras"));
    ASSERT_NE(tag_index, NONE);
    ASSERT_TRUE(tag_file_replace_contents(&tag_index, bytes.data(), 64));
  }

  // A map of 2 x 2 submeshes under the lighting, heights from the procedure (none: flat).
  void open_map(const mesh_lighting& l, int16_t (*height)(int32_t x, int32_t y) = nullptr) {
    store_lighting(l);
    ASSERT_TRUE(make_map("lit", 512, 512));
    if (height) {
      for (int32_t y = 0; y < mesh_cells_down(); ++y) {
        for (int32_t x = 0; x < mesh_cells_across(); ++x) map_fixture_set_height(x, y, height(x, y));
      }
      mesh_prepare_cells(0, 0, mesh_cells_across() - 1, mesh_cells_down() - 1);
    }
    ASSERT_TRUE(map_save());
    ASSERT_TRUE(shadow_editor_ready());
  }

  static uint8_t* pixels(int32_t submesh) {
    return collection_get_submesh_texture(mesh_landscape_collection(), 2 * submesh + 1, true);
  }
  // The whole map's shadow pixels, row by row.
  static std::vector<uint8_t> whole() {
    const int32_t w = mesh_width() * 256, h = mesh_height() * 256;
    std::vector<uint8_t> out(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) out[size_t(y) * size_t(w) + size_t(x)] = pixels((y / 256) * mesh_width() + x / 256)[(y % 256) * 256 + x % 256];
    }
    return out;
  }
  static bool uniform(const std::vector<uint8_t>& p) {
    return std::all_of(p.begin(), p.end(), [&](uint8_t v) { return v == p[0]; });
  }
};

int16_t hills(int32_t x, int32_t y) {
  return int16_t(600.0 * std::sin(x * 0.35) * std::cos(y * 0.23) + 300.0 * std::sin((x + 2 * y) * 0.11));
}
int16_t slope_x(int32_t x, int32_t) { return int16_t(x * 40); }

// ---- the lighting record ----

TEST(ShadowLighting, DegenerateRecordsAreRefused) {
  mesh_lighting out;
  const mesh_lighting good = demo_lighting();
  ASSERT_TRUE(shadow_lighting_prepare(good, &out));
  auto refused = [&](void (*spoil)(mesh_lighting&)) {
    mesh_lighting l = good;
    spoil(l);
    return !shadow_lighting_prepare(l, &out);
  };
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.light_x = l.light_y = l.light_z = 0; }));
  // Too short to normalise: every component below 1/256 (a negative one floors to -1 and counts).
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.light_x = 255, l.light_y = 200, l.light_z = 100; }));
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.ray_steps = -1; }));
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.ray_steps = SHADOW_MAXIMUM_RAY_STEPS + 1; }));
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.blur_radius = -1; }));
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.blur_radius = SHADOW_MAXIMUM_BLUR_RADIUS + 1; }));
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.blur_sigma = 0.0f; }));
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.blur_sigma = -1.0f; }));
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.blur_sigma = std::numeric_limits<float>::quiet_NaN(); }));
  EXPECT_TRUE(refused([](mesh_lighting& l) { l.blur_sigma = std::numeric_limits<float>::infinity(); }));
}

TEST(ShadowLighting, NormalisationFollowsTheRoundedRootOfTheShiftedComponents) {
  // (0.6, 0, -0.8) x 2: s = 307^2 + 410^2 (16-bit values), n = 512.
  mesh_lighting l = lighting_of(1.2, 0, -1.6, 0, 1, 8, 1, 1.0f), out;
  ASSERT_TRUE(shadow_lighting_prepare(l, &out));
  const int64_t n = shadow_rounded_square_root(int64_t(l.light_x >> 8) * (l.light_x >> 8) + int64_t(l.light_z >> 8) * (l.light_z >> 8));
  EXPECT_EQ(n, 512);
  EXPECT_EQ(out.light_x, int32_t(std::trunc((l.light_x / 65536.0) / (n / 256.0) * 65536.0)));
  EXPECT_EQ(out.light_z, int32_t(std::trunc((l.light_z / 65536.0) / (n / 256.0) * 65536.0)));
  EXPECT_EQ(shadow_rounded_square_root(12), 3);  // 3.46
  EXPECT_EQ(shadow_rounded_square_root(13), 4);  // 3.61
}

TEST(ShadowLighting, KernelIsNormalisedAndRadiusZeroIsTheIdentity) {
  const std::vector<int32_t> one = shadow_gaussian_factors(0, 1.0f);
  ASSERT_EQ(one, std::vector<int32_t>{65536});
  const std::vector<int32_t> five = shadow_gaussian_factors(2, 1.2f);
  ASSERT_EQ(five.size(), 25u);
  int64_t sum = 0;
  for (int32_t f : five) sum += f;
  EXPECT_LE(sum, 65536);
  EXPECT_GT(sum, 65536 - 25);
  EXPECT_EQ(five[0], five[24]);
  EXPECT_GT(five[12], five[11]);
}

// Pixels are clamped, not wrapped, and the products that leave 32 bits are taken in 64.
TEST(ShadowLighting, PixelValuesClampInsteadOfWrapping) {
  mesh_lighting l = demo_lighting();
  l.ambient = 0;
  l.maximum = 0x7FFFFFFF;  // more than 1.0: (v x 255) >> 16 would pass 255
  EXPECT_EQ(shadow_pixel_value(l, int64_t(3) * FIXED_ONE), 255);
  EXPECT_EQ(shadow_pixel_value(l, -FIXED_ONE), 0);
  l.maximum = FIXED_ONE / 2;
  EXPECT_EQ(shadow_pixel_value(l, FIXED_ONE), (FIXED_ONE / 2 * 255) >> 16);
}

// Every probe of the march lies inside the window, for small and large components of both signs.
TEST(ShadowWindow, HoldsEveryProbeOfTheMarch) {
  for (int32_t component : {1, 100, 255, 256, 40000, 65535, 65536, 70000, -1, -100, -40000, -65536, -70000}) {
    for (int16_t steps : {int16_t(0), int16_t(1), int16_t(48), int16_t(700)}) {
      mesh_lighting l = lighting_of(0, 0, -1, 0, 1, steps, 0, 1.0f);
      l.light_x = component;
      l.light_y = -component;
      const shadow_window window = shadow_window_of(l);
      int64_t ox = 0, oy = 0;
      for (int32_t k = 0; k < steps; ++k) {
        ox -= l.light_x;
        oy -= l.light_y;
        // From the submesh's first and last samples.
        EXPECT_GE(int32_t(ox >> 16), -window.before_x) << component << " " << steps;
        EXPECT_LE(255 + int32_t(ox >> 16), 255 + window.after_x) << component << " " << steps;
        EXPECT_GE(int32_t(oy >> 16), -window.before_y) << component << " " << steps;
        EXPECT_LE(255 + int32_t(oy >> 16), 255 + window.after_y) << component << " " << steps;
      }
    }
  }
}

// ---- the modes on a map ----

TEST_F(Shadows, AFlatMapUnderTheDemoLightingIsOneValueBeforeAndAfterTheBlur) {
  open_map(demo_lighting());
  for (int16_t mode : {int16_t(_shadow_mode_basic_lighting), int16_t(_shadow_mode_mesh_shading)}) {
    ASSERT_TRUE(shadow_compute(mode, SHADOW_ALL_SUBMESHES, false));
    const std::vector<uint8_t> before = whole();
    EXPECT_TRUE(uniform(before)) << mode;
    ASSERT_TRUE(shadow_compute(mode, SHADOW_ALL_SUBMESHES, true));
    EXPECT_TRUE(uniform(whole())) << mode;
    EXPECT_LT(before[0], 255);
  }
  EXPECT_TRUE(map_shadow_maps_changed());
  EXPECT_TRUE(map_is_modified());
}

TEST_F(Shadows, LightStraightDownGivesTheFormulaExactly) {
  mesh_lighting l = lighting_of(0, 0, -1, 0, 0.75, 48, 0, 1.0f);
  open_map(l);
  ASSERT_TRUE(shadow_compute(_shadow_mode_basic_lighting, SHADOW_ALL_SUBMESHES));
  const int64_t intensity = (int64_t(FIXED_ONE) * (l.intensity >> 8)) >> 8;
  const int64_t expected = (std::min<int64_t>(l.ambient + intensity, l.maximum) * 255) >> 16;
  EXPECT_EQ(expected, 191);
  const std::vector<uint8_t> p = whole();
  EXPECT_TRUE(uniform(p));
  EXPECT_EQ(p[0], expected);
}

TEST_F(Shadows, NoRayStepsMakeMeshShadingEqualBasicLighting) {
  mesh_lighting l = demo_lighting();
  l.ray_steps = 0;
  open_map(l, hills);
  ASSERT_TRUE(shadow_compute(_shadow_mode_basic_lighting, SHADOW_ALL_SUBMESHES));
  const std::vector<uint8_t> basic = whole();
  ASSERT_TRUE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES));
  EXPECT_EQ(whole(), basic);
  EXPECT_FALSE(uniform(basic));
}

TEST_F(Shadows, MeshShadingDarkensWhatTheHillsHide) {
  open_map(lighting_of(0.9, 0.1, -0.3, 0.2, 0.8, 200, 1, 1.0f), hills);
  ASSERT_TRUE(shadow_compute(_shadow_mode_basic_lighting, SHADOW_ALL_SUBMESHES, false));
  const std::vector<uint8_t> basic = whole();
  ASSERT_TRUE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES, false));
  const std::vector<uint8_t> mesh = whole();
  size_t darker = 0;
  for (size_t k = 0; k < basic.size(); ++k) {
    EXPECT_LE(mesh[k], std::max(basic[k], uint8_t(200))) << k;  // an occluder's shade is at most half lit
    darker += mesh[k] < basic[k];
  }
  EXPECT_GT(darker, basic.size() / 50);
}

// A light with tiny positive horizontal components and no blur: the probes one sample before the
// submesh stay inside the window (the sanitizer build catches a read before it).
TEST_F(Shadows, TinyPositiveComponentsStayInsideTheWindow) {
  mesh_lighting l = lighting_of(0, 0, -1, 0.1, 0.8, 48, 0, 1.0f);
  l.light_x = 300;
  l.light_y = 300;
  open_map(l, hills);
  const shadow_window window = shadow_window_of(*[&] {
    static mesh_lighting n;
    EXPECT_TRUE(shadow_lighting_prepare(l, &n));
    return &n;
  }());
  EXPECT_GE(window.before_x, 1);
  EXPECT_EQ(window.after_x, 0);
  EXPECT_TRUE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES));
}

// Sloping along x only: the last 8 pixel columns lie flat (the edge vertex repeated) and the last 8
// rows keep the slope; neither the next row's heights nor height 0 make a band.
TEST_F(Shadows, TheLastRowsAndColumnsRepeatTheEdgeVertex) {
  open_map(lighting_of(0.5, 0.0, -0.8, 0.2, 0.8, 0, 0, 1.0f), slope_x);
  ASSERT_TRUE(shadow_compute(_shadow_mode_basic_lighting, SHADOW_ALL_SUBMESHES, false));
  const std::vector<uint8_t> p = whole();
  const int32_t w = 512;
  const uint8_t sloped = p[0];
  // What a flat pixel gets under this light.
  mesh_lighting n;
  mesh_lighting l = lighting_of(0.5, 0.0, -0.8, 0.2, 0.8, 0, 0, 1.0f);
  ASSERT_TRUE(shadow_lighting_prepare(l, &n));
  const mesh_normal* flat = mesh_normal_table() + mesh_triangle_normal_index_clamped(0, 0, 1);
  (void)flat;
  for (int32_t y = 0; y < w; ++y) {
    for (int32_t x = 0; x < w - 8; ++x) ASSERT_EQ(p[size_t(y) * w + size_t(x)], sloped) << x << "," << y;
    for (int32_t x = w - 8; x < w; ++x) ASSERT_EQ(p[size_t(y) * w + size_t(x)], p[size_t(y) * w + size_t(w - 1)]) << x << "," << y;
  }
  EXPECT_NE(p[w - 1], sloped);
  // The flat columns take the height of the last vertex.
  shadow_terrain terrain;
  ASSERT_TRUE(shadow_terrain_take(&terrain));
  EXPECT_EQ(shadow_terrain_height(terrain, w - 1, 100), slope_x(63, 0));
  EXPECT_EQ(shadow_terrain_height(terrain, w - 8, w - 1), slope_x(63, 0));
  EXPECT_EQ(shadow_terrain_height(terrain, 4, w - 1), slope_x(0, 0) + 20);
}

// ---- protection, the journal, saving ----

TEST_F(Shadows, ProtectedSurvivesSaveAndReopenAndEveryAllCommand) {
  open_map(demo_lighting(), hills);
  ASSERT_TRUE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES));
  map_set_shadow_maps_changed(false);
  ASSERT_TRUE(shadow_toggle_protected(1));
  EXPECT_TRUE(map_shadow_maps_changed());  // else Save would leave the bit behind
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(map_reopen());
  ASSERT_TRUE(shadow_submesh_is_protected(1));
  EXPECT_FALSE(shadow_submesh_is_protected(0));
  const std::vector<uint8_t> kept(pixels(1), pixels(1) + 65536);
  EXPECT_TRUE(shadow_popup_item_state(1, _shadow_popup_protected).checked);
  EXPECT_FALSE(shadow_popup_item_state(1, _shadow_popup_basic_lighting).enabled);
  EXPECT_TRUE(shadow_popup_item_state(0, _shadow_popup_basic_lighting).enabled);

  for (int16_t mode : {int16_t(_shadow_mode_basic_lighting), int16_t(_shadow_mode_mesh_shading),
                       int16_t(_shadow_mode_model_shading)}) {
    ASSERT_TRUE(shadow_compute(mode, SHADOW_ALL_SUBMESHES));
    EXPECT_EQ(std::vector<uint8_t>(pixels(1), pixels(1) + 65536), kept) << mode;
  }
  ASSERT_TRUE(shadow_no_shadows(SHADOW_ALL_SUBMESHES));
  EXPECT_EQ(std::vector<uint8_t>(pixels(1), pixels(1) + 65536), kept);
  EXPECT_EQ(pixels(0)[0], 255);
  EXPECT_FALSE(shadow_popup_choose(1, _shadow_popup_no_shadows));  // greyed

  ASSERT_TRUE(shadow_unprotect_all_submeshes());
  EXPECT_FALSE(shadow_submesh_is_protected(1));
}

TEST_F(Shadows, UndoPutsThePixelsBackAndRedoAgain) {
  open_map(demo_lighting(), hills);
  const std::vector<uint8_t> before = whole();
  ASSERT_TRUE(shadow_compute(_shadow_mode_basic_lighting, 2));
  EXPECT_STREQ(edit_journal_undo_name(), "Basic Lighting");
  const std::vector<uint8_t> after = whole();
  EXPECT_NE(after, before);
  EXPECT_EQ(pixels(0)[0], 255);  // one submesh only
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(whole(), before);
  // The stored maps are the computed ones: the next save must write the maps again.
  EXPECT_TRUE(map_shadow_maps_changed());
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(whole(), after);
}

TEST_F(Shadows, RefusedLightingChangesNothing) {
  mesh_lighting l = demo_lighting();
  l.light_x = l.light_y = l.light_z = 0;
  open_map(l, hills);
  const std::vector<uint8_t> before = whole();
  EXPECT_FALSE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES));
  EXPECT_STREQ(error_last_message(), "mesh lighting missing.");
  EXPECT_EQ(whole(), before);
  EXPECT_FALSE(edit_journal_can_undo());
  EXPECT_FALSE(map_is_modified());
  EXPECT_FALSE(map_shadow_maps_changed());
}

TEST_F(Shadows, CancellingLeavesTheMapsAsTheyWere) {
  open_map(demo_lighting(), hills);
  const std::vector<uint8_t> before = whole();
  // Making the map reports progress of its own; only the command's counts here.
  ui.progress.clear();
  ui.progress_ends = 0;
  ui.cancel_at_step = 2;
  EXPECT_FALSE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES));
  ASSERT_EQ(ui.progress.size(), 1u);
  EXPECT_TRUE(ui.progress[0].cancellable);
  EXPECT_EQ(ui.progress[0].total, 8);  // four computed, four blurred
  EXPECT_EQ(ui.progress_ends, 1);
  EXPECT_EQ(whole(), before);
  EXPECT_FALSE(edit_journal_can_undo());
  EXPECT_FALSE(map_shadow_maps_changed());
}

TEST_F(Shadows, OneThreadAndTwoGiveTheSameBytes) {
  open_map(lighting_of(0.7, -0.3, -0.5, 0.2, 0.8, 96, 2, 1.4f), hills);
  shadow_set_thread_count(1);
  ASSERT_TRUE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES));
  const std::vector<uint8_t> one = whole();
  ASSERT_TRUE(shadow_no_shadows(SHADOW_ALL_SUBMESHES));
  shadow_set_thread_count(2);
  ASSERT_TRUE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES));
  EXPECT_EQ(whole(), one);
}

// The "all" blur reads across submesh borders: a step between two submeshes is smoothed on both
// sides, while a one-submesh command leaves its neighbours alone.
TEST_F(Shadows, TheAllBlurCrossesSubmeshBorders) {
  open_map(lighting_of(0, 0, -1, 0, 0.75, 0, 2, 1.2f));
  ASSERT_TRUE(shadow_no_shadows(SHADOW_ALL_SUBMESHES));
  ASSERT_TRUE(shadow_toggle_protected(1));
  ASSERT_TRUE(shadow_compute(_shadow_mode_basic_lighting, SHADOW_ALL_SUBMESHES));
  // Submesh 0's last column reads submesh 1's 255s; its first column is clamped at the map's edge.
  EXPECT_GT(pixels(0)[255], pixels(0)[0]);
  EXPECT_EQ(pixels(1)[0], 255);  // protected: read, never written

  // One submesh blurs alone, reading its neighbours' pixels as they stand.
  ASSERT_TRUE(shadow_toggle_protected(1));
  ASSERT_TRUE(shadow_no_shadows(SHADOW_ALL_SUBMESHES));
  ASSERT_TRUE(shadow_compute(_shadow_mode_basic_lighting, 3));
  EXPECT_GT(pixels(3)[0], pixels(3)[128 * 256 + 128]);       // its top-left corner meets 255s
  EXPECT_EQ(pixels(3)[255 * 256 + 255], pixels(3)[128 * 256 + 128]);  // the map's corner clamps
  EXPECT_EQ(pixels(2)[255 * 256 + 255], 255);
  EXPECT_EQ(pixels(0)[0], 255);
}

TEST_F(Shadows, AFailedShadowWriteStopsTheSaveAndKeepsBothFlags) {
  open_map(demo_lighting(), hills);
  ASSERT_TRUE(shadow_compute(_shadow_mode_basic_lighting, SHADOW_ALL_SUBMESHES));
  const std::vector<uint8_t> computed = whole();
  posix_set_observer([](posix_operation operation, const std::string&) { return operation != _posix_operation_write; });
  EXPECT_FALSE(map_save());
  posix_set_observer(nullptr);
  EXPECT_TRUE(map_is_modified());
  EXPECT_TRUE(map_shadow_maps_changed());
  EXPECT_EQ(whole(), computed);  // not reloaded from the old tag
  ASSERT_TRUE(map_save());
  EXPECT_FALSE(map_shadow_maps_changed());
  ASSERT_TRUE(map_reopen());
  EXPECT_EQ(whole(), computed);
}

TEST_F(Shadows, ACollectionWithoutShadowMapsIsRefused) {
  open_map(demo_lighting());
  // A 2 x 2 map whose collection holds the textures of one submesh only.
  int32_t textures = tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, mesh_header()->landscape_collection_tag);
  ASSERT_NE(textures, NONE);
  const std::vector<uint8_t> one_submesh = fixture_map_collection(1, 1, 3, 200).tag_data();
  ASSERT_TRUE(tag_file_replace_contents(&textures, one_submesh.data(), int32_t(one_submesh.size())));
  ASSERT_TRUE(map_reopen());
  EXPECT_FALSE(shadow_editor_ready());
  EXPECT_FALSE(shadow_compute(_shadow_mode_basic_lighting, SHADOW_ALL_SUBMESHES));
  EXPECT_STREQ(error_last_message(), "the map's collection holds 2 bitmaps, not two for each of its 4 submeshes.");
  EXPECT_FALSE(shadow_popup_item_state(0, _shadow_popup_protected).enabled);
}

}  // namespace

namespace {

// Add Mesh Shading worked out pixel by pixel from the terrain's own look-ups, probes clamped into
// the map: the cached window, the march and the arithmetic must give the same bytes.
TEST_F(Shadows, MeshShadingMatchesAPixelByPixelReference) {
  const mesh_lighting stored = lighting_of(0.8, -0.4, -0.45, 0.15, 0.8, 60, 0, 1.0f);
  open_map(stored, hills);
  ASSERT_TRUE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES, false));
  const std::vector<uint8_t> computed = whole();
  mesh_lighting l;
  ASSERT_TRUE(shadow_lighting_prepare(stored, &l));
  shadow_terrain terrain;
  ASSERT_TRUE(shadow_terrain_take(&terrain));
  const mesh_normal* table = mesh_normal_table();
  const int32_t w = 512;
  size_t shaded = 0;
  for (int32_t py = 0; py < w; ++py) {
    for (int32_t px = 0; px < w; ++px) {
      int32_t d = shadow_directional_term(l, table[shadow_terrain_normal(terrain, px, py)]);
      if (d > 32768) {
        int64_t ox = 0, oy = 0, f = int64_t(shadow_terrain_height(terrain, px, py)) * 65536;
        for (int32_t k = 0; k < l.ray_steps; ++k) {
          ox -= l.light_x, oy -= l.light_y, f -= int64_t(l.light_z) * 64;
          const int32_t qx = px + int32_t(ox >> 16), qy = py + int32_t(oy >> 16);
          if ((f >> 16) < shadow_terrain_height(terrain, qx, qy)) {
            d = shadow_directional_term(l, table[shadow_terrain_normal(terrain, qx, qy)]);
            ++shaded;
            break;
          }
        }
      }
      const uint8_t expected = shadow_pixel_value(l, (int64_t(d) * (l.intensity >> 8)) >> 8);
      ASSERT_EQ(computed[size_t(py) * w + size_t(px)], expected) << px << "," << py;
    }
  }
  EXPECT_GT(shaded, 1000u);
}

}  // namespace

namespace {

// A tall box on a flat map under a light from +x: the pixels whose segment toward the light meets
// it take the shadow value; the rest are Add Mesh Shading's.
TEST_F(Shadows, ModelShadingCastsTheShadowValueBehindAModel) {
  const mesh_lighting stored = lighting_of(-0.6, 0, -0.8, 0.2, 0.7, 40, 0, 1.0f);  // travels toward -x
  open_map(stored);
  for (definition_group* group : {&geometry_definitions, &model_definitions}) {
    ASSERT_TRUE(definitions_initialize(group));
    if (!definitions_are_valid(group)) definitions_validate(group);
  }
  geometry_definition box = {};
  box.minimum_x = -256, box.maximum_x = 256, box.minimum_y = -256, box.maximum_y = 256;
  box.minimum_z = 0, box.maximum_z = 2048;
  box.collection_reference_index = NONE;
  model_definition hut = {};
  hut.geometry_index = definition_add(&geometry_definitions, make_tag("tbox"), &box);
  const int16_t definition = definition_add(&model_definitions, make_tag("thut"), &hut);
  ASSERT_NE(definition, NONE);
  // At pixel (256, 256), the middle of the map.
  ASSERT_NE(model_new(definition, {256 * 64, 256 * 64, 0}, 0, 0), NONE);

  ASSERT_TRUE(shadow_compute(_shadow_mode_mesh_shading, SHADOW_ALL_SUBMESHES, false));
  const std::vector<uint8_t> lit = whole();
  ASSERT_TRUE(shadow_compute(_shadow_mode_model_shading, SHADOW_ALL_SUBMESHES, false));
  const std::vector<uint8_t> p = whole();
  mesh_lighting l;
  ASSERT_TRUE(shadow_lighting_prepare(stored, &l));
  const uint8_t shade = shadow_pixel_value(l, l.shadow_value);
  ASSERT_NE(shade, lit[0]);
  auto at = [&](const std::vector<uint8_t>& v, int32_t x, int32_t y) { return v[size_t(y) * 512 + size_t(x)]; };
  EXPECT_EQ(at(p, 256, 256), shade);  // under it
  EXPECT_EQ(at(p, 250, 256), shade);  // toward -x, where its shadow falls (the light comes from +x)
  EXPECT_EQ(at(p, 275, 256), lit[0]); // on the lit side
  EXPECT_EQ(at(p, 256, 300), lit[0]);
  EXPECT_EQ(at(p, 10, 10), at(lit, 10, 10));
}

}  // namespace

namespace {

// The blur against the kernel sum written out tap by tap with clamped sources: regions at every
// edge, images narrower than the kernel and rows longer than one chunk.
TEST(ShadowBlur, MatchesTheClampedKernelSum) {
  struct shape {
    int32_t image_width, image_height, x, y, width, height, radius;
  };
  for (const shape& s : {shape{600, 40, 0, 0, 600, 40, 2}, shape{600, 40, 250, 5, 300, 30, 3}, shape{3, 2, 0, 0, 3, 2, 4},
                         shape{1, 1, 0, 0, 1, 1, 1}, shape{512, 512, 256, 256, 256, 256, 2}, shape{9, 700, 0, 0, 9, 700, 0}}) {
    std::vector<uint8_t> image(size_t(s.image_width) * size_t(s.image_height));
    for (size_t k = 0; k < image.size(); ++k) image[k] = uint8_t((k * 2654435761u) >> 24);
    const std::vector<int32_t> factors = shadow_gaussian_factors(s.radius, 1.3f);
    std::vector<uint8_t> out(size_t(s.width) * size_t(s.height) + 7, 99);
    shadow_blur_region(image.data(), s.image_width, s.image_height, s.x, s.y, s.width, s.height, factors, s.radius,
                       out.data(), s.width);
    const int32_t side = 2 * s.radius + 1;
    for (int32_t r = 0; r < s.height; ++r) {
      for (int32_t c = 0; c < s.width; ++c) {
        int64_t sum = 0;
        for (int32_t di = -s.radius; di <= s.radius; ++di) {
          for (int32_t dj = -s.radius; dj <= s.radius; ++dj) {
            const int32_t sy = std::clamp(s.y + r + di, 0, s.image_height - 1), sx = std::clamp(s.x + c + dj, 0, s.image_width - 1);
            sum += int64_t(image[size_t(sy) * size_t(s.image_width) + size_t(sx)]) * factors[size_t((di + s.radius) * side + dj + s.radius)];
          }
        }
        ASSERT_EQ(out[size_t(r) * size_t(s.width) + size_t(c)], uint8_t(sum >> 16)) << s.image_width << " " << r << "," << c;
      }
    }
    EXPECT_EQ(out.back(), 99);  // nothing written past the region
  }
}

}  // namespace

namespace {

// A model animation of three frames stored as tags (its geometries too), placed in the open map.
class AnimationShadows : public Shadows {
 protected:
  int32_t place_animation(const std::array<std::array<int32_t, 4>, 3>& boxes) {
    std::array<tag, 3> geometry_tags{};
    for (int f = 0; f < 3; ++f) {
      geometry_definition g = {};
      g.collection_reference_tag = NONE_TAG;
      g.minimum_x = boxes[size_t(f)][0], g.maximum_x = boxes[size_t(f)][1];
      g.minimum_y = boxes[size_t(f)][2], g.maximum_y = boxes[size_t(f)][3];
      g.minimum_z = 0, g.maximum_z = 1000;
      g.collection_reference_index = NONE;
      byte_swap_data(*geometry_definitions.description, &g, sizeof(g), 1);
      std::vector<uint8_t> bytes(sizeof(g));
      std::memcpy(bytes.data(), &g, sizeof(g));
      const std::string name = "frame " + std::to_string(f);
      const int32_t index = fixture_store_tag(geometry_definitions.group_tag, name.c_str(), geometry_definitions.version, bytes);
      EXPECT_NE(index, NONE);
      geometry_tags[size_t(f)] = tag_file_get_identifier(index);
    }
    model_animation_definition a = {};
    a.frame_count = 3;
    for (int f = 0; f < MAXIMUM_MODEL_ANIMATION_FRAMES; ++f) {
      a.frame_geometry_tags[f] = f < 3 ? geometry_tags[size_t(f)] : NONE_TAG;
      a.frame_geometry_indexes[f] = NONE;
    }
    a.shadow_width = 77;  // stale fields, rewritten
    byte_swap_data(*model_animation_definitions.description, &a, sizeof(a), 1);
    std::vector<uint8_t> bytes(sizeof(a));
    std::memcpy(bytes.data(), &a, sizeof(a));
    anim_tag = fixture_store_tag(model_animation_definitions.group_tag, "three frames", model_animation_definitions.version, bytes);
    EXPECT_NE(anim_tag, NONE);
    const int16_t definition = definition_load(&model_animation_definitions, tag_file_get_identifier(anim_tag));
    EXPECT_NE(definition, NONE);
    const int32_t animation = model_animation_new(definition, {16384, 16384, 100}, 0);
    EXPECT_NE(animation, NONE);
    EXPECT_TRUE(model_animation_set_frame(animation, 1));
    return animation;
  }
  std::vector<uint8_t> stored() const { return store.tag_bytes(tag_file_find(model_animation_definitions.group_tag, tag_file_get_identifier(anim_tag))); }
  static int32_t read16(const std::vector<uint8_t>& b, size_t at) { return int16_t(uint16_t(b[at] << 8 | b[at + 1])); }
  static int32_t read32(const std::vector<uint8_t>& b, size_t at) {
    return int32_t(uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3]);
  }

  int32_t anim_tag = NONE;
};

// Light straight down: each frame's shadow is its footprint; the union is 10 x 7 pixels, stored
// as 3 x 7 rows of 12 bytes.
TEST_F(AnimationShadows, ThreeFramesStoreTheirCroppedFootprints) {
  open_map(lighting_of(0, 0, -1, 0.2, 0.8, 10, 0, 1.0f));
  const int32_t animation = place_animation({{{-320, 320, -192, 192}, {-320, 320, -192, 256}, {-256, 256, -192, 192}}});
  ASSERT_TRUE(model_animation_shadows_calculate_animation(animation)) << error_last_message();
  EXPECT_EQ(model_animation_get(animation)->frame, 1);  // posed back
  const std::vector<uint8_t> b = stored();
  ASSERT_EQ(b.size(), 1024u + 3 * 7 * 12);
  EXPECT_EQ(read16(b, 948), 10);
  EXPECT_EQ(read16(b, 950), 7);
  EXPECT_EQ(read16(b, 952), 12);
  EXPECT_EQ(read16(b, 956), -320);
  EXPECT_EQ(read16(b, 958), -192);
  EXPECT_EQ(read32(b, 1012), 1024);
  EXPECT_EQ(read32(b, 1016), 3 * 7 * 12);
  const uint8_t level = uint8_t(((FIXED_ONE / 4 + int32_t(0.2 * FIXED_ONE)) * 255) >> 16);
  auto pixel = [&](int f, int x, int y) { return b[1024 + size_t(f) * 7 * 12 + size_t(y) * 12 + size_t(x)]; };
  EXPECT_EQ(pixel(0, 0, 0), level);
  EXPECT_EQ(pixel(0, 9, 6), level);
  EXPECT_EQ(pixel(2, 0, 3), 255);  // frame 2 is narrower
  EXPECT_EQ(pixel(2, 1, 3), level);
  EXPECT_EQ(pixel(1, 10, 0), 255);  // padding
  EXPECT_EQ(pixel(1, 11, 6), 255);
}

TEST_F(AnimationShadows, ALightThatDoesNotFallIsRefused) {
  open_map(lighting_of(0.6, 0, 0.8, 0.2, 0.8, 10, 0, 1.0f));
  const int32_t animation = place_animation({{{-320, 320, -192, 192}, {-320, 320, -192, 256}, {-256, 256, -192, 192}}});
  const std::vector<uint8_t> before = stored();
  EXPECT_FALSE(model_animation_shadows_calculate_animation(animation));
  EXPECT_STREQ(error_last_message(), "the mesh lighting's light doesn't fall (z >= 0): no model animation shadows.");
  EXPECT_EQ(stored(), before);
  EXPECT_EQ(model_animation_get(animation)->frame, 1);
}

TEST_F(AnimationShadows, AnExtentBeyondSixteenBitsIsRefused) {
  open_map(lighting_of(1.0, 0, -0.004, 0.2, 0.8, 10, 0, 1.0f));  // a grazing light: long shadows
  const int32_t animation = place_animation({{{-320, 320, -192, 192}, {-320, 320, -192, 256}, {-256, 256, -192, 192}}});
  const std::vector<uint8_t> before = stored();
  EXPECT_FALSE(model_animation_shadows_calculate_animation(animation));
  EXPECT_NE(std::string(error_last_message()).find("doesn't fit 16 bits"), std::string::npos) << error_last_message();
  EXPECT_EQ(stored(), before);
  EXPECT_EQ(model_animation_get(animation)->frame, 1);
}

}  // namespace
