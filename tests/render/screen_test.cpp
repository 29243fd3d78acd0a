#include "render/screen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class Screen : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(screen_initialize()); }
  void TearDown() override { screen_dispose(); }
};

TEST_F(Screen, WorldColourTableIsAGreyRampCopiedToTheVisibleTable) {
  const color_table* world = screen_get_world_color_table();
  ASSERT_NE(world, nullptr);
  EXPECT_EQ(world->count, 32u);
  EXPECT_NE(world->kept_4, 0u);  // the build time, in the word after the count
  EXPECT_EQ(world->kept_8, 0u);
  EXPECT_EQ(world->colors[0].red, 0);
  EXPECT_EQ(world->colors[1].green, 2114);
  EXPECT_EQ(world->colors[31].red, 65535);
  EXPECT_EQ(world->colors[31].green, 65535);
  EXPECT_EQ(world->colors[31].blue, 65535);
  EXPECT_EQ(world->colors[32].red, 0);
  EXPECT_EQ(0, std::memcmp(world, screen_get_visible_color_table(), sizeof(color_table)));
  EXPECT_EQ(screen_get_interface_color_table()->count, 0u);
  ASSERT_NE(screen_get_pixels(), nullptr);
}

TEST(ScreenFormat, PixelsAndResolutions) {
  EXPECT_EQ(screen_pixel(65535, 0, 0), SCREEN_RED_MASK);
  EXPECT_EQ(screen_pixel(0, 65535, 0), SCREEN_GREEN_MASK);
  EXPECT_EQ(screen_pixel(0, 0, 65535), SCREEN_BLUE_MASK);
  EXPECT_EQ(screen_pixel(2047, 2048, 0), 1 << 5);
  EXPECT_EQ(screen_find_resolution(640, 416), -1);
  EXPECT_EQ(screen_find_resolution(640, 480), 0);
  EXPECT_EQ(screen_find_resolution(1024, 768), 2);
}

uint8_t blend(const std::vector<uint8_t>& table, int level, int r, int k) { return table[(level * 32 + r) * 32 + k]; }

TEST(BlendTables, EdgeCases) {
  std::vector<uint8_t> linear(BLEND_TABLE_SIZE), weighted(BLEND_TABLE_SIZE);
  ASSERT_TRUE(build_blend_tables(0, linear.data()));
  ASSERT_TRUE(build_blend_tables(1, weighted.data()));
  EXPECT_FALSE(build_blend_tables(2, linear.data()));
  for (int r = 0; r < 32; ++r) {
    for (int k = 0; k < 32; ++k) {
      EXPECT_EQ(blend(linear, 0, r, k), k);
      EXPECT_EQ(blend(linear, 15, r, k), r);
      EXPECT_EQ(blend(weighted, 15, r, k), r);
      for (int level = 0; level < 16; ++level) EXPECT_LE(blend(weighted, level, r, k), 31);
    }
    EXPECT_EQ(blend(weighted, 0, r, 31), 31);
  }
  EXPECT_EQ(blend(linear, 8, 31, 0), 17);
  // Halfway in b with k = 31 moves r half way: (7 * 961 - 7 * 0 + 232) / 465 = 14 for r = 0.
  EXPECT_EQ(blend(weighted, 8, 0, 31), 14);
}

std::vector<int> drawn;
void overlay_a(void*) { drawn.push_back(1); }
void overlay_b(void*) { drawn.push_back(2); }
void overlay_c(void*) { drawn.push_back(3); }

TEST_F(Screen, OverlaysRunInPriorityOrder) {
  EXPECT_TRUE(screen_add_overlay(100, overlay_a));
  EXPECT_TRUE(screen_add_overlay(5, overlay_b));
  EXPECT_TRUE(screen_add_overlay(50, overlay_c));
  screen_draw_overlays(nullptr);
  EXPECT_EQ(drawn, (std::vector<int>{2, 3, 1}));
  for (int i = 3; i < MAXIMUM_SCREEN_OVERLAYS; ++i) EXPECT_TRUE(screen_add_overlay(1, overlay_a));
  EXPECT_FALSE(screen_add_overlay(1, overlay_a));
}

}  // namespace
