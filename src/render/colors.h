// Colours as the game stores them: 16-bit channels, 256-entry colour tables, hue changes that
// recolour masked entries of a table, and the conversions and matching used on them.
#pragma once

#include <cstdint>

#include "cseries/value_types.h"


// Hue (65536 to a turn), saturation and value at full scale 0xFFFF, then the copied flags word.
struct hsv_color {
  uint16_t hue;
  uint16_t saturation;
  uint16_t value;
  uint16_t flags;
};

enum { MAXIMUM_COLORS_PER_TABLE = 256 };

// The stored colour table (2080 bytes).
struct __attribute__((packed)) color_table {
  uint32_t count;  // colours used, 1..256
  uint32_t kept_4;  // the world table keeps its build time here
  uint32_t kept_8;
  uint8_t kept_12[20];
  rgb_color colors[MAXIMUM_COLORS_PER_TABLE];
};
static_assert(sizeof(color_table) == 2080);

// The stored hue change (128 bytes): which colours of a table one replacement colour recolours.
struct __attribute__((packed)) hue_change {
  char name[64];
  int16_t flags;  // HUE_CHANGE_USES_FIRST_SPECIAL / _SECOND_SPECIAL
  int16_t kept_66;
  uint8_t mask[32];  // colour j is bit 1 << (j % 8) of byte j / 8
  int16_t kept_100;
  uint16_t reference_hue;
  int16_t kept_104;
  uint8_t kept_106[6];
  uint8_t kept_112[16];
};
static_assert(sizeof(hue_change) == 128);
static_assert(__builtin_offsetof(hue_change, mask) == 68);
static_assert(__builtin_offsetof(hue_change, reference_hue) == 102);

enum : int16_t { HUE_CHANGE_USES_FIRST_SPECIAL = 1, HUE_CHANGE_USES_SECOND_SPECIAL = 2 };
// Replacement colour flags word: mirror the hue around the reference instead of shifting it.
enum : uint16_t { RGB_COLOR_MIRRORS_HUE = 1 };

// The colours a table uses: its count, read as at most 256.
int32_t color_table_color_count(const color_table& table);

hsv_color rgb_to_hsv(const rgb_color& color);
rgb_color hsv_to_rgb(const hsv_color& color);

// The entry nearest to the colour by the weighted (2, 5, 1) distance of the channels' top 12 bits;
// the lower index wins a tie. -1 when the table holds no colours. Counts above 256 are read as 256.
int16_t find_nearest_color(const color_table& table, const rgb_color& color);

// Recolours `table` in place: hue change i takes special_colors[0] or [1] when its flags ask for
// one that is not marked unused, else replacements[i] (none past replacement_count). A replacement
// marked unused leaves the table as it is.
void color_table_apply_hue_changes(color_table& table, const hue_change* changes, int change_count,
                                   const rgb_color* replacements, int replacement_count,
                                   const rgb_color special_colors[2]);
