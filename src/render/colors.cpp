#include "render/colors.h"

#include <algorithm>
#include <cmath>

namespace {

uint16_t scale_unit_to_16_bits(double unit) {
  return static_cast<uint16_t>(std::lround(std::clamp(unit, 0.0, 1.0) * 65535.0));
}

bool mask_has_color(const hue_change& change, int index) {
  return (change.mask[index / 8] >> (index % 8)) & 1;
}

}  // namespace

int32_t color_table_color_count(const color_table& table) {
  const uint32_t count = table.count;  // a copy: the record is packed
  return count < MAXIMUM_COLORS_PER_TABLE ? static_cast<int32_t>(count) : MAXIMUM_COLORS_PER_TABLE;
}

hsv_color rgb_to_hsv(const rgb_color& color) {
  const int maximum = std::max({color.red, color.green, color.blue});
  const int minimum = std::min({color.red, color.green, color.blue});
  hsv_color result{0, 0, static_cast<uint16_t>(maximum), color.flags};
  if (maximum == 0) return result;

  const double delta = maximum - minimum;
  result.saturation = static_cast<uint16_t>(delta / maximum * 65535.0);
  if (delta == 0) return result;

  // Sixths of a turn: red at 0, green at 2, blue at 4.
  double sixths;
  if (color.red == maximum) {
    sixths = (color.green - color.blue) / delta;
  } else if (color.green == maximum) {
    sixths = (color.blue - color.red) / delta + 2.0;
  } else {
    sixths = (color.red - color.green) / delta + 4.0;
  }
  double turn = sixths / 6.0;
  turn -= std::floor(turn);
  result.hue = static_cast<uint16_t>(std::min(turn * 65536.0, 65535.0));
  return result;
}

rgb_color hsv_to_rgb(const hsv_color& color) {
  const double value = color.value / 65535.0;
  const double saturation = color.saturation / 65535.0;
  const double sixths = color.hue / 65536.0 * 6.0;
  const int sector = static_cast<int>(sixths) % 6;
  const double fraction = sixths - std::floor(sixths);
  const double p = value * (1.0 - saturation);
  const double q = value * (1.0 - saturation * fraction);
  const double t = value * (1.0 - saturation * (1.0 - fraction));

  double red, green, blue;
  switch (sector) {
    case 0: red = value, green = t, blue = p; break;
    case 1: red = q, green = value, blue = p; break;
    case 2: red = p, green = value, blue = t; break;
    case 3: red = p, green = q, blue = value; break;
    case 4: red = t, green = p, blue = value; break;
    default: red = value, green = p, blue = q; break;
  }
  return {scale_unit_to_16_bits(red), scale_unit_to_16_bits(green), scale_unit_to_16_bits(blue), color.flags};
}

int16_t find_nearest_color(const color_table& table, const rgb_color& color) {
  const int count = color_table_color_count(table);
  int16_t best = -1;
  int64_t best_distance = 0;
  for (int i = 0; i < count; ++i) {
    const rgb_color& entry = table.colors[i];
    // Arithmetic shifts of the signed differences, as the stored tables were matched.
    const int64_t d0 = (int32_t{color.red} - entry.red) >> 4;
    const int64_t d1 = (int32_t{color.green} - entry.green) >> 4;
    const int64_t d2 = (int32_t{color.blue} - entry.blue) >> 4;
    const int64_t distance = 2 * d0 * d0 + 5 * d1 * d1 + d2 * d2;
    if (best < 0 || distance < best_distance) {
      best = static_cast<int16_t>(i);
      best_distance = distance;
    }
  }
  return best;
}

void color_table_apply_hue_changes(color_table& table, const hue_change* changes, int change_count,
                                   const rgb_color* replacements, int replacement_count,
                                   const rgb_color special_colors[2]) {
  const int count = color_table_color_count(table);
  for (int i = 0; i < change_count; ++i) {
    const hue_change& change = changes[i];
    const rgb_color* replacement = nullptr;
    if ((change.flags & HUE_CHANGE_USES_FIRST_SPECIAL) && special_colors &&
        !(special_colors[0].flags & RGB_COLOR_UNUSED)) {
      replacement = &special_colors[0];
    } else if ((change.flags & HUE_CHANGE_USES_SECOND_SPECIAL) && special_colors &&
               !(special_colors[1].flags & RGB_COLOR_UNUSED)) {
      replacement = &special_colors[1];
    } else if (replacements && i < replacement_count) {
      replacement = &replacements[i];
    }
    if (!replacement || (replacement->flags & RGB_COLOR_UNUSED)) continue;

    const hsv_color target = rgb_to_hsv(*replacement);
    const bool mirrors = replacement->flags & RGB_COLOR_MIRRORS_HUE;
    for (int j = 0; j < count; ++j) {
      if (!mask_has_color(change, j)) continue;
      hsv_color shifted = rgb_to_hsv(table.colors[j]);
      // Hue arithmetic wraps modulo one turn (65536).
      shifted.hue = mirrors ? static_cast<uint16_t>(change.reference_hue + target.hue - shifted.hue)
                            : static_cast<uint16_t>(shifted.hue + target.hue - change.reference_hue);
      shifted.saturation = static_cast<uint16_t>((uint32_t{target.saturation} * shifted.saturation) >> 16);
      shifted.value = static_cast<uint16_t>((uint32_t{shifted.value} * target.value) >> 16);
      const uint16_t flags = table.colors[j].flags;
      table.colors[j] = hsv_to_rgb(shifted);
      table.colors[j].flags = flags;
    }
  }
}
