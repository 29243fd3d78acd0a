// The screen: the fixed format of the frame the visual view draws into (640 x 416, 16 bits, 5-5-5),
// the three screen-wide colour tables, the channel-blending tables and the overlays drawn after
// each frame. The editor never changes mode.
#pragma once

#include <cstdint>

#include "render/colors.h"

enum {
  SCREEN_WIDTH = 640,
  SCREEN_HEIGHT = 416,
  SCREEN_BITS_PER_PIXEL = 16,
  SCREEN_PREFERENCES_SIZE = 12,
  WORLD_COLOR_TABLE_COUNT = 32,  // grey ramp
  BLEND_TABLE_LEVELS = 16,
  BLEND_TABLE_SIZE = BLEND_TABLE_LEVELS * 32 * 32,  // bytes: level, then row r, then column k
  STATISTICS_OVERLAY_PRIORITY = 100,
  MAXIMUM_SCREEN_OVERLAYS = 16,
};

inline constexpr uint16_t SCREEN_RED_MASK = 0x7C00;
inline constexpr uint16_t SCREEN_GREEN_MASK = 0x03E0;
inline constexpr uint16_t SCREEN_BLUE_MASK = 0x001F;

// A 16-bit channel triple as one screen pixel (top 5 bits of each channel).
constexpr uint16_t screen_pixel(uint16_t red, uint16_t green, uint16_t blue) {
  return static_cast<uint16_t>(((red >> 11) << 10) | ((green >> 11) << 5) | (blue >> 11));
}

// The mode look-up among the known resolutions (640 x 480, 800 x 600, 1024 x 768): the row, or -1.
// The editor's own 640 x 416 finds none, which it accepts.
int16_t screen_find_resolution(int32_t width, int32_t height);

// Allocates the off-screen image, the preferences and the three colour tables (failures are fatal,
// code 8), then runs screen_setup. Idempotent.
bool screen_initialize();
// Frees everything (tests).
void screen_dispose();
// Back to the fixed format; rebuilds the world colour table and copies it to the visible one.
void screen_setup();

// The off-screen image, SCREEN_WIDTH x SCREEN_HEIGHT pixels, top row first; none before
// initialisation.
uint16_t* screen_get_pixels();
color_table* screen_get_world_color_table();
color_table* screen_get_visible_color_table();
color_table* screen_get_interface_color_table();

// Builds table 0 (linear blend) or table 1 (source-weighted blend) into BLEND_TABLE_SIZE bytes;
// false for another table number.
bool build_blend_tables(int which, uint8_t* buffer);

// Overlays are called after each frame, lowest priority first, with the frame's drawing context.
typedef void (*screen_overlay_procedure)(void* drawing_context);
// False when the list is full.
bool screen_add_overlay(int16_t priority, screen_overlay_procedure procedure);
void screen_draw_overlays(void* drawing_context);
