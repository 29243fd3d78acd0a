#include "render/screen.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "cseries/error_manager.h"
#include "cseries/memory.h"
#include "cseries/text.h"

namespace {

struct screen_overlay {
  int16_t priority;
  screen_overlay_procedure procedure;
};

struct screen_globals {
  uint16_t* pixels;
  uint8_t* preferences;
  color_table* world_colors;
  color_table* visible_colors;
  color_table* interface_colors;
  screen_overlay overlays[MAXIMUM_SCREEN_OVERLAYS];
  int16_t overlay_count;
  int16_t width;
  int16_t height;
  int16_t bits_per_pixel;
};

screen_globals screen;

constexpr struct {
  int16_t width;
  int16_t height;
} kKnownResolutions[] = {{640, 480}, {800, 600}, {1024, 768}};

// Allocation failures here are fatal: post_error does not return for code 8.
void* allocate_zeroed(size_t size, const char* what) {
  void* block = block_allocate(size);
  if (!block) POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for %s", static_cast<int>(size), what);
  return block;
}

uint32_t millisecond_ticks() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void build_world_color_table(color_table* table) {
  std::memset(table, 0, sizeof(*table));
  table->count = WORLD_COLOR_TABLE_COUNT;
  table->kept_4 = millisecond_ticks();
  for (int i = 0; i < WORLD_COLOR_TABLE_COUNT; ++i) {
    const auto level = static_cast<uint16_t>(i * 65535 / (WORLD_COLOR_TABLE_COUNT - 1));
    table->colors[i] = {level, level, level, 0};
  }
}

int compare_overlays(const void* a, const void* b) {
  return static_cast<const screen_overlay*>(a)->priority - static_cast<const screen_overlay*>(b)->priority;
}

}  // namespace

int16_t screen_find_resolution(int32_t width, int32_t height) {
  for (int16_t i = 0; i < static_cast<int16_t>(std::size(kKnownResolutions)); ++i) {
    if (kKnownResolutions[i].width == width && kKnownResolutions[i].height == height) return i;
  }
  return -1;
}

bool screen_initialize() {
  if (screen.pixels) return true;
  screen.pixels = static_cast<uint16_t*>(
      allocate_zeroed(size_t{SCREEN_WIDTH} * SCREEN_HEIGHT * sizeof(uint16_t), "the off-screen image"));
  screen.preferences = static_cast<uint8_t*>(allocate_zeroed(SCREEN_PREFERENCES_SIZE, "screen_prefs"));
  screen.world_colors = static_cast<color_table*>(allocate_zeroed(sizeof(color_table), "world_color_table"));
  screen.visible_colors = static_cast<color_table*>(allocate_zeroed(sizeof(color_table), "visible_color_table"));
  screen.interface_colors =
      static_cast<color_table*>(allocate_zeroed(sizeof(color_table), "interface_color_table"));
  if (!screen.pixels || !screen.preferences || !screen.world_colors || !screen.visible_colors ||
      !screen.interface_colors) {
    screen_dispose();
    return false;
  }
  // The frame-statistics overlay belongs to the renderer's debug settings; the editor has none.
  screen_setup();
  return true;
}

void screen_dispose() {
  block_free(screen.pixels);
  block_free(screen.preferences);
  block_free(screen.world_colors);
  block_free(screen.visible_colors);
  block_free(screen.interface_colors);
  screen = screen_globals{};
}

void screen_setup() {
  screen.width = SCREEN_WIDTH;
  screen.height = SCREEN_HEIGHT;
  screen.bits_per_pixel = SCREEN_BITS_PER_PIXEL;
  if (!screen.world_colors) return;
  build_world_color_table(screen.world_colors);
  std::memcpy(screen.visible_colors, screen.world_colors, sizeof(color_table));
}

uint16_t* screen_get_pixels() { return screen.pixels; }
color_table* screen_get_world_color_table() { return screen.world_colors; }
color_table* screen_get_visible_color_table() { return screen.visible_colors; }
color_table* screen_get_interface_color_table() { return screen.interface_colors; }

bool build_blend_tables(int which, uint8_t* buffer) {
  if (which != 0 && which != 1) return false;
  for (int level = 0; level < BLEND_TABLE_LEVELS; ++level) {
    for (int r = 0; r < 32; ++r) {
      for (int k = 0; k < 32; ++k) {
        int value;
        if (which == 0) {
          value = (7 + r * level + k * (15 - level)) / 15;
        } else {
          // r moved toward k by (b / 15) * (k / 31); never negative for 5-bit values.
          const int b = 15 - level;
          value = (b * k * k - b * r * k + 465 * r + 232) / 465;
        }
        buffer[(level * 32 + r) * 32 + k] = static_cast<uint8_t>(value);
      }
    }
  }
  return true;
}

bool screen_add_overlay(int16_t priority, screen_overlay_procedure procedure) {
  if (screen.overlay_count >= MAXIMUM_SCREEN_OVERLAYS || !procedure) return false;
  screen.overlays[screen.overlay_count++] = {priority, procedure};
  heap_sort(screen.overlays, static_cast<size_t>(screen.overlay_count), sizeof(screen_overlay), compare_overlays);
  return true;
}

void screen_draw_overlays(void* drawing_context) {
  for (int i = 0; i < screen.overlay_count; ++i) screen.overlays[i].procedure(drawing_context);
}
