#include "render/colors.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

color_table table_of(std::initializer_list<rgb_color> colors) {
  color_table table;
  std::memset(&table, 0, sizeof(table));
  table.count = static_cast<uint32_t>(colors.size());
  int i = 0;
  for (const rgb_color& color : colors) table.colors[i++] = color;
  return table;
}

TEST(ColorConversions, PrimariesAndGreys) {
  const hsv_color red = rgb_to_hsv({65535, 0, 0, 7});
  EXPECT_EQ(red.hue, 0);
  EXPECT_EQ(red.saturation, 65535);
  EXPECT_EQ(red.value, 65535);
  EXPECT_EQ(red.flags, 7);  // the fourth word is copied
  EXPECT_EQ(rgb_to_hsv({0, 65535, 0, 0}).hue, 21845);  // a third of a turn, truncated
  EXPECT_EQ(rgb_to_hsv({0, 0, 65535, 0}).hue, 43690);
  EXPECT_EQ(rgb_to_hsv({65535, 0, 65535, 0}).hue, 54613);  // magenta wraps below one turn

  const hsv_color grey = rgb_to_hsv({30000, 30000, 30000, 0});
  EXPECT_EQ(grey.hue, 0);
  EXPECT_EQ(grey.saturation, 0);
  EXPECT_EQ(grey.value, 30000);
  const hsv_color black = rgb_to_hsv({0, 0, 0, 0});
  EXPECT_EQ(black.saturation, 0);
  EXPECT_EQ(black.value, 0);
}

// One step of the 16-bit hue moves a channel by up to six sixty-five-thousandths of its value.
TEST(ColorConversions, RoundTripStaysWithinOneHueStep) {
  const rgb_color samples[] = {{65535, 32768, 0, 0}, {1200, 45000, 30000, 0}, {40000, 40000, 10, 0}, {5, 65535, 65000, 0},
                               {12345, 23456, 34567, 0}, {65535, 65535, 65535, 0}};
  for (const rgb_color& color : samples) {
    const rgb_color back = hsv_to_rgb(rgb_to_hsv(color));
    EXPECT_NEAR(back.red, color.red, 7);
    EXPECT_NEAR(back.green, color.green, 7);
    EXPECT_NEAR(back.blue, color.blue, 7);
  }
}

TEST(FindNearestColor, WeightsAndTies) {
  // Equally near entries: the lower index wins.
  color_table ties = table_of({{0, 0, 0, 0}, {1000, 0, 0, 0}, {1000, 0, 0, 0}});
  EXPECT_EQ(find_nearest_color(ties, {1000, 0, 0, 0}), 1);
  // Green weighs 5, red 2, blue 1: a blue miss is nearer than a green miss of the same size.
  color_table weighted = table_of({{0, 4096, 0, 0}, {0, 0, 4096, 0}});
  EXPECT_EQ(find_nearest_color(weighted, {0, 0, 0, 0}), 1);
  // Differences are shifted arithmetically: -1 >> 4 is -1, 1 >> 4 is 0.
  color_table shifts = table_of({{501, 500, 500, 0}, {499, 500, 500, 0}});
  EXPECT_EQ(find_nearest_color(shifts, {500, 500, 500, 0}), 1);
}

TEST(FindNearestColor, EmptyAndOversizedTables) {
  color_table empty = table_of({});
  EXPECT_EQ(find_nearest_color(empty, {0, 0, 0, 0}), -1);
  color_table oversized = table_of({{9, 9, 9, 0}});
  oversized.count = 100000;  // read as 256 entries, never past the table
  oversized.colors[255] = {40000, 40000, 40000, 0};
  EXPECT_EQ(find_nearest_color(oversized, {40000, 40000, 40000, 0}), 255);
}

class HueChanges : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&change, 0, sizeof(change));
    table = table_of({{65535, 0, 0, 0x11}, {65535, 0, 0, 0x22}, {0, 0, 65535, 0x33}});
  }
  void mask(int color) { change.mask[color / 8] |= static_cast<uint8_t>(1 << (color % 8)); }

  hue_change change;
  color_table table;
  const rgb_color no_specials[2] = {{0, 0, 0, RGB_COLOR_UNUSED}, {0, 0, 0, RGB_COLOR_UNUSED}};
};

TEST_F(HueChanges, ShiftsOnlyMaskedColoursAndKeepsTheirFlags) {
  mask(1);
  const rgb_color green = {0, 65535, 0, 0};
  color_table_apply_hue_changes(table, &change, 1, &green, 1, no_specials);
  EXPECT_EQ(table.colors[0].red, 65535);  // not masked
  EXPECT_EQ(table.colors[0].green, 0);
  // Red (hue 0) shifted by green's hue relative to reference 0, saturation and value scaled by
  // (65535 * x) >> 16.
  EXPECT_NEAR(table.colors[1].red, 0, 8);
  EXPECT_NEAR(table.colors[1].green, 65534, 2);
  EXPECT_NEAR(table.colors[1].blue, 0, 8);
  EXPECT_EQ(table.colors[1].flags, 0x22);
}

TEST_F(HueChanges, MirroredHueAndReferenceHue) {
  mask(2);                        // blue, hue 43690
  change.reference_hue = 21845;   // green
  rgb_color replacement = {65535, 0, 0, RGB_COLOR_MIRRORS_HUE};  // hue 0
  color_table_apply_hue_changes(table, &change, 1, &replacement, 1, no_specials);
  // R + Hr - H = 21845 + 0 - 43690 wraps to 43691: still blue.
  EXPECT_LT(table.colors[2].red, 16);
  EXPECT_LT(table.colors[2].green, 16);
  EXPECT_GT(table.colors[2].blue, 65500);

  table = table_of({{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 65535, 0}});
  replacement.flags = 0;  // shift: H + Hr - R = 43690 + 0 - 21845: green
  color_table_apply_hue_changes(table, &change, 1, &replacement, 1, no_specials);
  EXPECT_GT(table.colors[2].green, 65500);
  EXPECT_LT(table.colors[2].blue, 16);
}

TEST_F(HueChanges, SpecialColoursUnusedReplacementsAndCount) {
  mask(0);
  change.flags = HUE_CHANGE_USES_SECOND_SPECIAL;
  const rgb_color listed = {0, 0, 65535, 0};
  rgb_color specials[2] = {{0, 0, 0, RGB_COLOR_UNUSED}, {0, 65535, 0, 0}};
  color_table_apply_hue_changes(table, &change, 1, &listed, 1, specials);
  EXPECT_GT(table.colors[0].green, 65500);  // the second special colour won

  table = table_of({{65535, 0, 0, 0}});
  specials[1].flags = RGB_COLOR_UNUSED;  // falls back to the caller's list
  color_table_apply_hue_changes(table, &change, 1, &listed, 1, specials);
  EXPECT_GT(table.colors[0].blue, 65500);

  table = table_of({{65535, 0, 0, 0}});
  const rgb_color unused = {0, 65535, 0, RGB_COLOR_UNUSED};
  color_table_apply_hue_changes(table, &change, 1, &unused, 1, specials);
  EXPECT_EQ(table.colors[0].red, 65535);  // left as it was
  color_table_apply_hue_changes(table, &change, 1, nullptr, 0, specials);
  EXPECT_EQ(table.colors[0].red, 65535);

  mask(5);  // beyond the table's count: ignored
  color_table_apply_hue_changes(table, &change, 1, &listed, 1, no_specials);
  EXPECT_EQ(table.colors[5].blue, 0);
}

}  // namespace
