// The crop of model animation shadows: the smallest rectangle holding every shadowed pixel of
// any frame, its stride, origin and sizes.
#include "tools/model_animation_shadows.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ModelAnimationShadows, ThreeFramesCropToTheirCommonShadow) {
  const int32_t width = 20, height = 15, frames = 3;
  std::vector<uint8_t> maps(size_t(frames) * width * height, 255);
  auto at = [&](int32_t f, int32_t x, int32_t y) -> uint8_t& { return maps[size_t(f) * width * height + size_t(y) * width + size_t(x)]; };
  at(0, 3, 2) = 80;    // top-left corner of the union
  at(1, 12, 4) = 100;  // right edge
  at(2, 5, 8) = 253;   // bottom edge: below 254 counts
  at(2, 19, 14) = 254; // 254 does not
  model_animation_shadow_set set;
  ASSERT_TRUE(model_animation_shadows_crop(maps, frames, width, height, -640, -320, &set));
  EXPECT_EQ(set.width, 10);
  EXPECT_EQ(set.height, 7);
  EXPECT_EQ(set.stride, 12);
  EXPECT_EQ(set.data.size(), 3u * 7u * 12u);
  EXPECT_EQ(set.origin_x, -640 + 3 * 64);
  EXPECT_EQ(set.origin_y, -320 + 2 * 64);
  auto cropped = [&](int32_t f, int32_t x, int32_t y) { return set.data[size_t(f) * 7 * 12 + size_t(y) * 12 + size_t(x)]; };
  EXPECT_EQ(cropped(0, 0, 0), 80);
  EXPECT_EQ(cropped(1, 9, 2), 100);
  EXPECT_EQ(cropped(2, 2, 6), 253);
  EXPECT_EQ(cropped(0, 10, 3), 255);  // padding
  EXPECT_EQ(cropped(2, 11, 6), 255);
}

TEST(ModelAnimationShadows, NoShadowAtAllIsAnEmptySet) {
  std::vector<uint8_t> maps(3 * 8 * 8, 254);
  model_animation_shadow_set set;
  ASSERT_TRUE(model_animation_shadows_crop(maps, 3, 8, 8, 0, 0, &set));
  EXPECT_EQ(set.width, 0);
  EXPECT_EQ(set.stride, 0);
  EXPECT_TRUE(set.data.empty());
  EXPECT_EQ(model_animation_shadow_stride(1), 4);
  EXPECT_EQ(model_animation_shadow_stride(8), 8);
}

}  // namespace
