#include "content/content_collections.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "content/content.h"
#include "content/content_records.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/markers.h"
#include "render/collection_references.h"
#include "render/shapes.h"

namespace {

// ---- the stored layout ----

size_t align4(size_t value) { return (value + 3) & ~size_t{3}; }

// Copies a native record into the block and converts it there to stored order.
bool put_swapped(std::vector<uint8_t>& block, size_t offset, const byte_swap_description& description,
                 const void* record) {
  std::memcpy(block.data() + offset, record, size_t(description.size));
  return byte_swap_data(description, block.data() + offset, description.size, 1);
}

template <size_t N>
void put_name(char (&field)[N], const std::string& name) {
  std::memset(field, 0, N);
  std::memcpy(field, name.data(), std::min(name.size(), N - 1));
}

void put_big16(std::vector<uint8_t>& block, size_t offset, int16_t value) {
  block[offset] = uint8_t(uint16_t(value) >> 8);
  block[offset + 1] = uint8_t(value);
}

collection_block block_of(size_t count, size_t offset, size_t size) {
  return {uint32_t(count), uint32_t(offset), uint32_t(size), 0};
}

bool collection_fits(const content_collection& c) {
  if (c.colors.empty() || c.colors.size() > MAXIMUM_COLORS_PER_TABLE) return false;
  for (const content_bitmap& b : c.bitmaps) {
    if (b.width <= 0 || b.height <= 0 || b.pixels.size() != size_t(b.width) * size_t(b.height)) return false;
  }
  for (int16_t bitmap : c.instances) {
    if (bitmap < 0 || size_t(bitmap) >= c.bitmaps.size()) return false;
  }
  for (const content_sequence& s : c.sequences) {
    if (s.view_count < 1 || s.frames.empty() || s.frames.size() > 1000) return false;
    for (const std::vector<int16_t>& frame : s.frames) {
      if (frame.size() != size_t(s.view_count)) return false;
      for (int16_t instance : frame) {
        if (instance < 0 || size_t(instance) >= c.instances.size()) return false;
      }
    }
  }
  return true;
}

// ---- drawing ----

constexpr double kRampBases[NUMBER_OF_RAMPS][3] = {
    {0.95, 0.76, 0.62},  // skin
    {1.00, 0.20, 0.20},  // team: pure red hue, recoloured by the first hue change
    {0.20, 1.00, 0.20},  // trim: pure green hue, recoloured by the second
    {0.80, 0.82, 0.86},  // steel
    {0.62, 0.42, 0.24},  // wood
    {0.40, 0.72, 0.26},  // leaf
    {0.16, 0.46, 0.26},  // pine
    {0.72, 0.70, 0.64},  // stone
    {0.64, 0.64, 0.62},  // grey fur
    {0.58, 0.38, 0.22},  // brown fur
    {1.00, 0.62, 0.16},  // fire
    {0.80, 0.80, 0.80},  // smoke
    {0.30, 0.24, 0.20},  // dark
    {0.92, 0.80, 0.46},  // straw
    {1.00, 0.86, 0.30},  // gold
    {0.82, 0.72, 0.52},  // rope
    {0.55, 0.82, 1.00},  // sky
};

int clamp_shade(int shade) { return std::clamp(shade, 0, SPRITE_RAMP_SHADES - 1); }

class sprite_canvas {
 public:
  sprite_canvas(int width, int height) : width_(width), height_(height), pixels_(size_t(width * height), 0) {}

  void set(int x, int y, uint8_t color) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[size_t(y * width_ + x)] = color;
  }
  uint8_t get(int x, int y) const {
    return x >= 0 && y >= 0 && x < width_ && y < height_ ? pixels_[size_t(y * width_ + x)] : 0;
  }

  // Lit from the upper left, with a little depth toward the middle.
  void ellipse(double cx, double cy, double rx, double ry, content_ramp ramp, int bias = 0) {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const double nx = (x + 0.5 - cx) / rx, ny = (y + 0.5 - cy) / ry, d = nx * nx + ny * ny;
        if (d > 1.0) continue;
        const double light = 0.55 - 0.3 * nx - 0.3 * ny + 0.3 * std::sqrt(1.0 - d);
        set(x, y, content_ramp_color(ramp, clamp_shade(int(light * 5.0) + bias)));
      }
    }
  }

  // Lighter on the left.
  void box(double x0, double y0, double x1, double y1, content_ramp ramp, int bias = 0) {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        if (x + 0.5 < x0 || x + 0.5 > x1 || y + 0.5 < y0 || y + 0.5 > y1) continue;
        const double t = (x + 0.5 - x0) / std::max(x1 - x0, 1.0);
        set(x, y, content_ramp_color(ramp, clamp_shade(int((0.95 - 0.6 * t) * 5.0) + bias)));
      }
    }
  }

  // An upright triangle from its apex down to a horizontal base.
  void triangle(double apex_x, double apex_y, double base_y, double half_width, content_ramp ramp, int bias = 0) {
    for (int y = 0; y < height_; ++y) {
      const double t = (y + 0.5 - apex_y) / (base_y - apex_y);
      if (t < 0.0 || t > 1.0) continue;
      for (int x = 0; x < width_; ++x) {
        const double offset = (x + 0.5 - apex_x) / std::max(half_width * t, 0.5);
        if (std::fabs(offset) > 1.0) continue;
        set(x, y, content_ramp_color(ramp, clamp_shade(int((0.6 - 0.35 * offset + 0.2 * (1.0 - t)) * 5.0) + bias)));
      }
    }
  }

  void diamond(double cx, double cy, double radius, content_ramp ramp) {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        if (std::fabs(dx) + std::fabs(dy) > radius) continue;
        set(x, y, content_ramp_color(ramp, clamp_shade(int((0.6 - 0.4 * (dx + dy) / radius) * 5.0))));
      }
    }
  }

  void line(double x0, double y0, double x1, double y1, uint8_t color, double thickness = 1.0) {
    const int steps = std::max(1, int(std::ceil(std::hypot(x1 - x0, y1 - y0) * 2.0)));
    const double r = thickness / 2.0;
    for (int i = 0; i <= steps; ++i) {
      const double px = x0 + (x1 - x0) * i / steps, py = y0 + (y1 - y0) * i / steps;
      for (int y = int(std::floor(py - r)); y <= int(std::floor(py + r)); ++y) {
        for (int x = int(std::floor(px - r)); x <= int(std::floor(px + r)); ++x) {
          if (std::hypot(x + 0.5 - px, y + 0.5 - py) <= std::max(r, 0.5)) set(x, y, color);
        }
      }
    }
  }

  // A dark rim round every opaque shape, so sprites read against any ground.
  void outline() {
    const std::vector<uint8_t> before = pixels_;
    const uint8_t rim = content_ramp_color(RAMP_DARK, 0);
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        if (before[size_t(y * width_ + x)] != SPRITE_TRANSPARENT) continue;
        auto opaque = [&](int nx, int ny) {
          return nx >= 0 && ny >= 0 && nx < width_ && ny < height_ && before[size_t(ny * width_ + nx)] != 0;
        };
        if (opaque(x - 1, y) || opaque(x + 1, y) || opaque(x, y - 1) || opaque(x, y + 1)) set(x, y, rim);
      }
    }
  }

  // Fills every pixel from a pattern (textures).
  template <class Pattern>
  void fill(Pattern pattern) {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) set(x, y, pattern(x, y));
  }

  content_bitmap bitmap(const std::string& name, int origin_x, int origin_y) const {
    content_bitmap b;
    b.name = name;
    b.width = int16_t(width_);
    b.height = int16_t(height_);
    b.origin_x = int16_t(origin_x);
    b.origin_y = int16_t(origin_y);
    b.pixels = pixels_;
    return b;
  }

 private:
  int width_, height_;
  std::vector<uint8_t> pixels_;
};

// A small deterministic hash for texture grain.
uint32_t grain(uint32_t x, uint32_t y, uint32_t salt) {
  uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ salt * 0xCB1AB31Fu;
  h ^= h >> 13;
  h *= 0x5BD1E995u;
  return h ^ (h >> 15);
}

// Adds a bitmap, its instance and a sequence of one frame per listed bitmap.
class collection_maker {
 public:
  explicit collection_maker(int32_t scale) : scale_(scale) {
    collection_.colors = content_sprite_palette();
  }
  int16_t add_bitmap(const content_bitmap& bitmap) {
    collection_.bitmaps.push_back(bitmap);
    collection_.instances.push_back(int16_t(collection_.bitmaps.size() - 1));
    return int16_t(collection_.instances.size() - 1);
  }
  void add_sequence(const std::string& name, const std::vector<int16_t>& frame_instances, int16_t ticks_per_frame = 1) {
    content_sequence sequence;
    sequence.name = name;
    sequence.scale = scale_;
    sequence.ticks_per_frame = ticks_per_frame;
    for (int16_t instance : frame_instances) sequence.frames.push_back({instance});
    collection_.sequences.push_back(sequence);
  }
  void add_team_hue_changes();
  content_collection& collection() { return collection_; }

 private:
  int32_t scale_;
  content_collection collection_;
};

hue_change ramp_hue_change(const char* name, int16_t flags, content_ramp ramp) {
  hue_change change;
  std::memset(&change, 0, sizeof change);
  put_name(change.name, name);
  change.flags = flags;
  for (int shade = 0; shade < SPRITE_RAMP_SHADES; ++shade) {
    const uint8_t color = content_ramp_color(ramp, shade);
    change.mask[color / 8] |= uint8_t(1 << (color % 8));
  }
  const std::vector<rgb_color> palette = content_sprite_palette();
  change.reference_hue = rgb_to_hsv(palette[content_ramp_color(ramp, SPRITE_RAMP_SHADES - 1)]).hue;
  return change;
}

void collection_maker::add_team_hue_changes() {
  collection_.hue_changes.push_back(ramp_hue_change("team colour", HUE_CHANGE_USES_FIRST_SPECIAL, RAMP_TEAM));
  collection_.hue_changes.push_back(ramp_hue_change("trim colour", HUE_CHANGE_USES_SECOND_SPECIAL, RAMP_TRIM));
}

// ---- the demo's sprites ----

// stride: -1, 0 or 1, the legs' swing.
content_bitmap warrior(int stride, const char* name) {
  sprite_canvas c(28, 42);
  c.box(10 - 2.0 * stride, 29, 12.6 - 2.0 * stride, 40, RAMP_DARK, 2);
  c.box(15.4 + 2.0 * stride, 29, 18 + 2.0 * stride, 40, RAMP_DARK, 2);
  c.box(9, 17, 19, 31, RAMP_TEAM);
  c.box(9, 25, 19, 27, RAMP_TRIM);
  c.box(6.5, 18, 9, 28, RAMP_SKIN);
  c.box(19, 18, 21.5, 28, RAMP_SKIN);
  c.ellipse(14, 12, 4.2, 4.6, RAMP_SKIN);
  c.ellipse(14, 9, 4.6, 3.2, RAMP_STEEL);
  c.line(22.5, 12, 22.5, 30, content_ramp_color(RAMP_STEEL, 4), 1.4);
  c.line(20.5, 27, 24.5, 27, content_ramp_color(RAMP_GOLD, 3), 1.2);
  c.ellipse(6.5, 23, 4.2, 5.8, RAMP_TRIM);
  c.ellipse(6.5, 23, 1.3, 1.3, RAMP_GOLD, 1);
  c.outline();
  return c.bitmap(name, 14, 40);
}

content_bitmap archer(int stride, const char* name) {
  sprite_canvas c(30, 42);
  c.box(10 - 2.0 * stride, 29, 12.6 - 2.0 * stride, 40, RAMP_WOOD, -1);
  c.box(15.4 + 2.0 * stride, 29, 18 + 2.0 * stride, 40, RAMP_WOOD, -1);
  c.box(16.5, 13, 19.5, 24, RAMP_WOOD);  // quiver
  c.box(9, 17, 19, 31, RAMP_TEAM);
  c.box(6.5, 18, 9, 27, RAMP_SKIN);
  c.box(19, 18, 21.5, 27, RAMP_SKIN);
  c.ellipse(14, 12, 4.2, 4.6, RAMP_SKIN);
  c.ellipse(14, 10.5, 5.0, 5.2, RAMP_TRIM);
  c.ellipse(14.6, 13, 3.0, 3.0, RAMP_SKIN);
  const uint8_t wood = content_ramp_color(RAMP_WOOD, 4);
  double px = 0, py = 0;
  for (int k = 0; k <= 12; ++k) {
    const double a = (-65.0 + 130.0 * k / 12.0) * std::numbers::pi / 180.0;
    const double x = 15.0 + 11.0 * std::cos(a), y = 23.0 + 11.0 * std::sin(a);
    if (k > 0) c.line(px, py, x, y, wood, 1.3);
    px = x;
    py = y;
  }
  c.line(15.0 + 11.0 * std::cos(-65.0 * std::numbers::pi / 180.0), 23.0 + 11.0 * std::sin(-65.0 * std::numbers::pi / 180.0),
         15.0 + 11.0 * std::cos(65.0 * std::numbers::pi / 180.0), 23.0 + 11.0 * std::sin(65.0 * std::numbers::pi / 180.0),
         content_ramp_color(RAMP_ROPE, 5), 0.8);
  c.outline();
  return c.bitmap(name, 14, 40);
}

content_bitmap wolf(int stride, const char* name) {
  sprite_canvas c(38, 24);
  const uint8_t fur = content_ramp_color(RAMP_FUR, 3);
  c.line(8, 10, 2.5, 5.5, fur, 2.2);  // tail
  for (int leg = 0; leg < 4; ++leg) {
    const double x = 10.0 + leg * 5.5 + (leg % 2 ? stride : -stride) * 1.5;
    c.box(x, 13, x + 2.2, 22, RAMP_FUR, leg < 2 ? -1 : 0);
  }
  c.ellipse(18, 12, 10.5, 5.2, RAMP_FUR);
  c.ellipse(29.5, 8.5, 4.8, 3.8, RAMP_FUR);
  c.ellipse(34, 9.8, 2.8, 1.7, RAMP_FUR, 1);
  c.triangle(28, 2.5, 6.5, 1.8, RAMP_FUR, -1);
  c.box(25, 9, 26.8, 14, RAMP_TEAM);
  c.set(31, 7, content_ramp_color(RAMP_DARK, 0));
  c.outline();
  return c.bitmap(name, 19, 22);
}

content_bitmap bear(int stride, const char* name) {
  sprite_canvas c(44, 32);
  for (int leg = 0; leg < 4; ++leg) {
    const double x = 10.0 + leg * 7.0 + (leg % 2 ? stride : -stride) * 1.5;
    c.box(x, 18, x + 4.0, 30, RAMP_BROWN_FUR, leg < 2 ? -1 : 0);
  }
  c.ellipse(21, 16, 13.5, 8.5, RAMP_BROWN_FUR);
  c.ellipse(35.5, 12.5, 6.2, 5.2, RAMP_BROWN_FUR);
  c.ellipse(33, 7.5, 1.8, 1.8, RAMP_BROWN_FUR, -1);
  c.ellipse(38.5, 7.8, 1.8, 1.8, RAMP_BROWN_FUR, -1);
  c.ellipse(40.5, 14, 2.4, 1.8, RAMP_BROWN_FUR, 1);
  c.box(29, 12, 31, 19, RAMP_TEAM);
  c.set(37, 11, content_ramp_color(RAMP_DARK, 0));
  c.outline();
  return c.bitmap(name, 22, 30);
}

content_bitmap pine() {
  sprite_canvas c(32, 62);
  c.box(14, 46, 18, 60, RAMP_WOOD);
  c.triangle(16, 22, 50, 14.5, RAMP_PINE, -1);
  c.triangle(16, 11, 38, 11.5, RAMP_PINE);
  c.triangle(16, 1.5, 26, 8.0, RAMP_PINE, 1);
  c.outline();
  return c.bitmap("pine tree", 16, 60);
}

content_bitmap oak() {
  sprite_canvas c(46, 54);
  c.box(20, 30, 26, 52, RAMP_WOOD);
  c.line(23, 34, 13, 25, content_ramp_color(RAMP_WOOD, 2), 2.5);
  c.line(23, 33, 33, 24, content_ramp_color(RAMP_WOOD, 3), 2.5);
  c.ellipse(12.5, 24, 9.5, 7.5, RAMP_LEAF, -1);
  c.ellipse(33.5, 24, 9.5, 7.5, RAMP_LEAF, -1);
  c.ellipse(23, 18, 15.5, 12.5, RAMP_LEAF);
  c.ellipse(22, 10, 10, 7.5, RAMP_LEAF, 1);
  c.outline();
  return c.bitmap("oak tree", 23, 52);
}

content_bitmap boulder() {
  sprite_canvas c(32, 24);
  c.ellipse(15, 14, 13.5, 8.5, RAMP_STONE);
  c.ellipse(23, 16, 6, 5, RAMP_STONE, -1);
  c.outline();
  return c.bitmap("boulder", 16, 21);
}

content_bitmap post() {
  sprite_canvas c(12, 30);
  c.box(3.5, 4, 8.5, 28, RAMP_WOOD);
  c.ellipse(6, 4, 2.6, 1.5, RAMP_WOOD, -2);
  c.outline();
  return c.bitmap("fence post", 6, 28);
}

content_bitmap bush() {
  sprite_canvas c(26, 18);
  c.ellipse(8, 10, 6.5, 5.5, RAMP_LEAF, -1);
  c.ellipse(17, 9, 7.5, 6.5, RAMP_LEAF);
  c.ellipse(13, 12, 8.5, 4.5, RAMP_LEAF, -1);
  c.outline();
  return c.bitmap("bush", 13, 16);
}

content_bitmap arrow_sprite() {
  sprite_canvas c(26, 8);
  c.line(2, 4, 22, 4, content_ramp_color(RAMP_WOOD, 4), 1.0);
  c.line(20, 1.5, 24.5, 4, content_ramp_color(RAMP_STEEL, 4), 1.0);
  c.line(20, 6.5, 24.5, 4, content_ramp_color(RAMP_STEEL, 4), 1.0);
  c.line(1.5, 1.5, 5, 4, content_ramp_color(RAMP_GOLD, 3), 1.0);
  c.line(1.5, 6.5, 5, 4, content_ramp_color(RAMP_GOLD, 3), 1.0);
  return c.bitmap("arrow", 13, 4);
}

content_bitmap fireball_sprite(int frame) {
  sprite_canvas c(16, 16);
  c.ellipse(8, 8, 6.5 - frame, 6.5 - frame, RAMP_FIRE);
  c.ellipse(8 - frame * 0.5, 8, 3.2, 3.2, RAMP_GOLD, 1);
  return c.bitmap(frame ? "fireball 2" : "fireball 1", 8, 8);
}

content_bitmap rock_sprite() {
  sprite_canvas c(12, 11);
  c.ellipse(6, 5.5, 4.5, 4, RAMP_STONE);
  c.outline();
  return c.bitmap("rock", 6, 5);
}

content_bitmap smoke_sprite(int frame) {
  sprite_canvas c(22, 24);
  c.ellipse(11, 17 - frame * 2.5, 5 + frame, 4 + frame, RAMP_SMOKE, -1);
  c.ellipse(8 + frame, 10 - frame * 2.0, 4 + frame * 0.8, 3.5 + frame * 0.8, RAMP_SMOKE);
  c.ellipse(14 - frame * 0.5, 5, 2.5 + frame * 0.6, 2 + frame * 0.6, RAMP_SMOKE, 1);
  const char* names[] = {"smoke 1", "smoke 2", "smoke 3"};
  return c.bitmap(names[frame], 11, 22);
}

content_bitmap firefly_sprite(int frame) {
  sprite_canvas c(18, 18);
  const double dots[2][4][2] = {{{3, 4}, {12, 6}, {7, 12}, {15, 14}}, {{4, 6}, {11, 3}, {9, 13}, {14, 11}}};
  for (const auto& dot : dots[frame]) c.ellipse(dot[0], dot[1], 1.4, 1.4, RAMP_GOLD, 1);
  return c.bitmap(frame ? "fireflies 2" : "fireflies 1", 9, 9);
}

content_bitmap texture(const char* name, int width, int height, int kind) {
  sprite_canvas c(width, height);
  c.fill([kind](int x, int y) -> uint8_t {
    const uint32_t g = grain(uint32_t(x), uint32_t(y), uint32_t(kind)) % 3;
    switch (kind) {
      case BUILDING_PLANKS:
        return x % 8 == 7 ? content_ramp_color(RAMP_DARK, 1)
                          : content_ramp_color(RAMP_WOOD, clamp_shade(2 + int((x / 8) % 2) + int(g) - 1));
      case BUILDING_THATCH:
        return content_ramp_color(RAMP_STRAW, clamp_shade(((x + 2 * y) % 5 == 0 ? 1 : 3) + int(g) - 1));
      case BUILDING_STONE: {
        const int row = y / 8, shifted = x + (row % 2) * 8;
        if (y % 8 == 7 || shifted % 16 == 15) return content_ramp_color(RAMP_DARK, 2);
        return content_ramp_color(RAMP_STONE, clamp_shade(3 + int(g) - 1));
      }
      case BUILDING_SAIL:
        if (x == 0 || y == 0 || x == 15 || y == 15) return content_ramp_color(RAMP_WOOD, 2);
        return content_ramp_color(RAMP_STRAW, clamp_shade(4 + int(g % 2)));
      default:  // rope
        return content_ramp_color(RAMP_ROPE, clamp_shade((x + y) % 4 < 2 ? 4 : 2));
    }
  });
  return c.bitmap(name, width / 2, height / 2);
}

// The look of each marker type's placeholder.
content_bitmap placeholder_icon(int16_t type) {
  sprite_canvas c(18, 26);
  switch (type) {
    case _marker_observer:
      c.box(8, 12, 10, 25, RAMP_DARK, 2);
      c.ellipse(9, 8, 7.5, 5, RAMP_SKY, 1);
      c.ellipse(9, 8, 2.5, 2.5, RAMP_DARK);
      break;
    case _marker_sound_source:
      c.box(3, 9, 7, 17, RAMP_GOLD);
      c.triangle(7, 5, 21, 6, RAMP_GOLD, 1);
      c.line(12, 7, 14, 13, content_ramp_color(RAMP_GOLD, 5), 1.0);
      c.line(14, 13, 12, 19, content_ramp_color(RAMP_GOLD, 5), 1.0);
      break;
    case _marker_local_projectile_group:
      c.ellipse(9, 18, 6, 5, RAMP_SMOKE, -1);
      c.ellipse(7, 11, 5, 4, RAMP_SMOKE);
      c.ellipse(11, 5, 3.5, 3, RAMP_SMOKE, 1);
      break;
    case _marker_scenery: c.diamond(9, 13, 8, RAMP_LEAF); break;
    case _marker_unit: c.diamond(9, 13, 8, RAMP_TEAM); break;
    case _marker_model: c.diamond(9, 13, 8, RAMP_STONE); break;
    case _marker_projectile: c.diamond(9, 13, 8, RAMP_STEEL); break;
    case _marker_model_animation: c.diamond(9, 13, 8, RAMP_WOOD); break;
    default: c.diamond(9, 13, 8, RAMP_SMOKE); break;
  }
  c.outline();
  return c.bitmap(std::string("placeholder ") + marker_type_get(type)->name, 9, 25);
}

// ---- the collections ----

content_collection placeholders() {
  collection_maker maker(16 << 16);
  int16_t unused_instance = -1;
  for (int16_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type) {
    const bool unused = marker_type_get(type)->group_tag == NONE_TAG && type != _marker_observer;
    if (!unused || unused_instance < 0) {
      const int16_t instance = maker.add_bitmap(placeholder_icon(type));
      if (unused) unused_instance = instance;
      maker.add_sequence(marker_type_get(type)->name, {unused ? unused_instance : instance});
    } else {
      maker.add_sequence(marker_type_get(type)->name, {unused_instance});
    }
  }
  return maker.collection();
}

content_collection soldiers() {
  collection_maker maker(12 << 16);
  maker.add_team_hue_changes();
  const int16_t w0 = maker.add_bitmap(warrior(0, "warrior standing"));
  const int16_t w1 = maker.add_bitmap(warrior(1, "warrior walking 1"));
  const int16_t w2 = maker.add_bitmap(warrior(-1, "warrior walking 2"));
  const int16_t a0 = maker.add_bitmap(archer(0, "archer standing"));
  const int16_t a1 = maker.add_bitmap(archer(1, "archer walking 1"));
  const int16_t a2 = maker.add_bitmap(archer(-1, "archer walking 2"));
  maker.add_sequence("warrior standing", {w0});
  maker.add_sequence("warrior walking", {w1, w0, w2, w0}, 4);
  maker.add_sequence("archer standing", {a0});
  maker.add_sequence("archer walking", {a1, a0, a2, a0}, 4);
  return maker.collection();
}

content_collection creatures() {
  collection_maker maker(12 << 16);
  maker.add_team_hue_changes();
  const int16_t w0 = maker.add_bitmap(wolf(0, "wolf standing"));
  const int16_t w1 = maker.add_bitmap(wolf(1, "wolf running 1"));
  const int16_t w2 = maker.add_bitmap(wolf(-1, "wolf running 2"));
  const int16_t b0 = maker.add_bitmap(bear(0, "bear standing"));
  const int16_t b1 = maker.add_bitmap(bear(1, "bear walking 1"));
  const int16_t b2 = maker.add_bitmap(bear(-1, "bear walking 2"));
  maker.add_sequence("wolf standing", {w0});
  maker.add_sequence("wolf running", {w1, w2}, 3);
  maker.add_sequence("bear standing", {b0});
  maker.add_sequence("bear walking", {b1, b0, b2, b0}, 5);
  return maker.collection();
}

content_collection flora() {
  collection_maker maker(16 << 16);
  maker.add_sequence("pine tree", {maker.add_bitmap(pine())});
  maker.add_sequence("oak tree", {maker.add_bitmap(oak())});
  maker.add_sequence("boulder", {maker.add_bitmap(boulder())});
  maker.add_sequence("fence post", {maker.add_bitmap(post())});
  maker.add_sequence("bush", {maker.add_bitmap(bush())});
  return maker.collection();
}

content_collection effects() {
  collection_maker maker(12 << 16);
  maker.add_sequence("arrow", {maker.add_bitmap(arrow_sprite())});
  const int16_t f0 = maker.add_bitmap(fireball_sprite(0)), f1 = maker.add_bitmap(fireball_sprite(1));
  maker.add_sequence("fireball", {f0, f1}, 2);
  maker.add_sequence("rock", {maker.add_bitmap(rock_sprite())});
  const int16_t s0 = maker.add_bitmap(smoke_sprite(0)), s1 = maker.add_bitmap(smoke_sprite(1)),
                s2 = maker.add_bitmap(smoke_sprite(2));
  maker.add_sequence("smoke", {s0, s1, s2}, 8);
  const int16_t g0 = maker.add_bitmap(firefly_sprite(0)), g1 = maker.add_bitmap(firefly_sprite(1));
  maker.add_sequence("fireflies", {g0, g1}, 10);
  return maker.collection();
}

content_collection buildings() {
  collection_maker maker(16 << 16);
  maker.add_sequence("planks", {maker.add_bitmap(texture("planks", 32, 32, BUILDING_PLANKS))});
  maker.add_sequence("thatch", {maker.add_bitmap(texture("thatch", 32, 32, BUILDING_THATCH))});
  maker.add_sequence("stone", {maker.add_bitmap(texture("stone", 32, 32, BUILDING_STONE))});
  maker.add_sequence("sail", {maker.add_bitmap(texture("sail", 16, 16, BUILDING_SAIL))});
  maker.add_sequence("rope", {maker.add_bitmap(texture("rope", 32, 4, BUILDING_ROPE))});
  return maker.collection();
}

rgb_color unused_color() { return {0, 0, 0, RGB_COLOR_UNUSED}; }

// A reference whose permutations give replacement colours for the team and trim hue changes; the
// special colour either asks for the open map's tint or is unused.
collection_reference_definition reference(tag collection, bool map_tint,
                                          std::initializer_list<std::pair<rgb_color, rgb_color>> permutations) {
  collection_reference_definition r;
  std::memset(&r, 0, sizeof r);
  r.collection_tag = collection;
  r.permutation_count = int16_t(std::max<size_t>(permutations.size(), 1));
  r.shading_mode = 0;
  for (auto& permutation : r.permutations)
    for (rgb_color& color : permutation) color = unused_color();
  int k = 0;
  for (const auto& [team, trim] : permutations) {
    r.permutations[k][0] = team;
    r.permutations[k][1] = trim;
    ++k;
  }
  r.special_color = map_tint ? rgb_color{0, 0, 0, COLLECTION_REFERENCE_USES_MAP_TINT} : unused_color();
  r.collection_index = NONE;
  for (int16_t& table : r.shading_tables) table = NONE;
  return r;
}

}  // namespace

uint8_t content_ramp_color(content_ramp ramp, int32_t shade) {
  return uint8_t(1 + int(ramp) * SPRITE_RAMP_SHADES + clamp_shade(shade));
}

std::vector<rgb_color> content_sprite_palette() {
  std::vector<rgb_color> colors(1 + size_t(NUMBER_OF_RAMPS) * size_t(SPRITE_RAMP_SHADES), rgb_color{0, 0, 0, 0});
  for (int ramp = 0; ramp < NUMBER_OF_RAMPS; ++ramp) {
    for (int shade = 0; shade < SPRITE_RAMP_SHADES; ++shade) {
      const double light = 0.36 + 0.128 * shade;
      auto channel = [light](double base) { return uint16_t(std::lround(std::min(base * light, 1.0) * 65535.0)); };
      colors[content_ramp_color(content_ramp(ramp), shade)] =
          rgb_color{channel(kRampBases[ramp][0]), channel(kRampBases[ramp][1]), channel(kRampBases[ramp][2]), 0};
    }
  }
  return colors;
}

bool content_collection_data(const content_collection& c, std::vector<uint8_t>* data) {
  data->clear();
  if (!collection_fits(c)) {
    POST_ERROR(error_data_mismatch, "a demo collection does not fit its stored layout.");
    return false;
  }
  collection_header header;
  std::memset(&header, 0, sizeof header);
  header.flags = c.flags;
  size_t at = 0;
  header.color_tables = block_of(1, at, sizeof(color_table));
  at += sizeof(color_table);
  header.hue_changes = block_of(c.hue_changes.size(), at, c.hue_changes.size() * sizeof(hue_change));
  at += c.hue_changes.size() * sizeof(hue_change);
  header.bitmap_references = block_of(c.bitmaps.size(), at, c.bitmaps.size() * sizeof(bitmap_reference));
  at += c.bitmaps.size() * sizeof(bitmap_reference);
  header.bitmap_instances = block_of(c.instances.size(), at, c.instances.size() * sizeof(bitmap_instance));
  at += c.instances.size() * sizeof(bitmap_instance);
  header.sequence_references = block_of(c.sequences.size(), at, c.sequences.size() * sizeof(sequence_reference));
  at += c.sequences.size() * sizeof(sequence_reference);
  header.shadow_maps = block_of(0, at, 0);

  std::vector<size_t> sequence_at, bitmap_at;
  for (const content_sequence& s : c.sequences) {
    sequence_at.push_back(at);
    at = align4(at + sizeof(sequence_data) + s.frames.size() * (sizeof(sequence_frame_data) + 2 * size_t(s.view_count)));
  }
  for (const content_bitmap& b : c.bitmaps) {
    bitmap_at.push_back(at);
    at = align4(at + BITMAP_HEADER_SIZE + b.pixels.size());
  }
  if (at > size_t(INT32_MAX)) return false;
  std::vector<uint8_t> block(at, 0);
  bool swapped = true;

  color_table table;
  std::memset(&table, 0, sizeof table);
  table.count = uint32_t(c.colors.size());
  std::copy(c.colors.begin(), c.colors.end(), table.colors);
  swapped &= put_swapped(block, header.color_tables.offset, color_table_description, &table);
  for (size_t i = 0; i < c.hue_changes.size(); ++i) {
    swapped &= put_swapped(block, header.hue_changes.offset + i * sizeof(hue_change), hue_change_description,
                           &c.hue_changes[i]);
  }
  for (size_t i = 0; i < c.bitmaps.size(); ++i) {
    const content_bitmap& b = c.bitmaps[i];
    bitmap_reference reference;
    std::memset(&reference, 0, sizeof reference);
    put_name(reference.name, b.name);
    reference.offset = int32_t(bitmap_at[i]);
    reference.size = int32_t(BITMAP_HEADER_SIZE + b.pixels.size());
    reference.origin_x = b.origin_x;
    reference.origin_y = b.origin_y;
    swapped &= put_swapped(block, header.bitmap_references.offset + i * sizeof(bitmap_reference),
                           bitmap_reference_description, &reference);
    bitmap_data head;
    std::memset(&head, 0, sizeof head);
    head.width = b.width;
    head.height = b.height;
    head.bytes_per_row = b.width;
    head.flags = BITMAP_HAS_NO_ROW_TABLE;
    head.bits_per_pixel = 8;
    swapped &= put_swapped(block, bitmap_at[i], bitmap_data_description, &head);
    std::memcpy(block.data() + bitmap_at[i] + BITMAP_HEADER_SIZE, b.pixels.data(), b.pixels.size());
  }
  for (size_t i = 0; i < c.instances.size(); ++i) {
    bitmap_instance instance;
    std::memset(&instance, 0, sizeof instance);
    instance.bitmap_index = c.instances[i];
    swapped &= put_swapped(block, header.bitmap_instances.offset + i * sizeof(bitmap_instance),
                           bitmap_instance_description, &instance);
  }
  for (size_t i = 0; i < c.sequences.size(); ++i) {
    const content_sequence& s = c.sequences[i];
    const size_t frame_size = sizeof(sequence_frame_data) + 2 * size_t(s.view_count);
    sequence_reference reference;
    std::memset(&reference, 0, sizeof reference);
    put_name(reference.name, s.name);
    reference.offset = int32_t(sequence_at[i]);
    reference.size = int32_t(sizeof(sequence_data) + s.frames.size() * frame_size);
    swapped &= put_swapped(block, header.sequence_references.offset + i * sizeof(sequence_reference),
                           sequence_reference_description, &reference);
    sequence_data head;
    std::memset(&head, 0, sizeof head);
    head.flags = s.flags;
    head.scale = s.scale;
    head.view_count = s.view_count;
    head.frame_count = int16_t(s.frames.size());
    head.ticks_per_frame = s.ticks_per_frame;
    swapped &= put_swapped(block, sequence_at[i], sequence_data_description, &head);
    for (size_t frame = 0; frame < s.frames.size(); ++frame) {
      const size_t views = sequence_at[i] + sizeof(sequence_data) + frame * frame_size + sizeof(sequence_frame_data);
      for (size_t view = 0; view < s.frames[frame].size(); ++view) put_big16(block, views + 2 * view, s.frames[frame][view]);
    }
  }

  header.data_offset = sizeof(collection_header);
  header.data_size = uint32_t(block.size());
  swapped &= content_append_swapped(collection_header_description, &header, data);
  data->insert(data->end(), block.begin(), block.end());
  if (!swapped) {
    POST_ERROR(error_data_mismatch, "couldn't convert a demo collection to stored order.");
    data->clear();
  }
  return swapped;
}

bool content_build_collections(std::vector<archive_writer_tag>* tags) {
  struct named_collection {
    tag identifier;
    const char* name;
    content_collection (*make)();
  };
  const named_collection collections[] = {
      {content_ids::placeholder_collection, "placeholders", placeholders},
      {content_ids::soldiers, "soldiers", soldiers},
      {content_ids::creatures, "creatures", creatures},
      {content_ids::flora, "flora", flora},
      {content_ids::effects, "effects", effects},
      {content_ids::buildings, "buildings", buildings},
  };
  for (const named_collection& entry : collections) {
    std::vector<uint8_t> data;
    if (!content_collection_data(entry.make(), &data)) return false;
    content_data_tag(COLLECTION_DEFINITION_GROUP_TAG, entry.identifier, entry.name, std::move(data), tags,
                     COLLECTION_DEFINITION_VERSION);
  }

  const rgb_color red = {0xFFFF, 0x3333, 0x3333, 0}, green = {0x3333, 0xFFFF, 0x3333, 0};
  const rgb_color rust = {0xB000, 0x4000, 0x2000, 0}, ochre = {0xE000, 0xC000, 0x3000, 0};
  struct named_reference {
    tag identifier;
    const char* name;
    collection_reference_definition record;
  };
  const named_reference references[] = {
      {content_ids::soldiers, "soldiers", reference(content_ids::soldiers, false, {{red, green}, {rust, ochre}})},
      {content_ids::creatures, "creatures", reference(content_ids::creatures, false, {{red, green}, {rust, ochre}})},
      {content_ids::flora, "flora", reference(content_ids::flora, true, {})},
      {content_ids::effects, "effects", reference(content_ids::effects, false, {})},
      {content_ids::buildings, "buildings", reference(content_ids::buildings, true, {})},
  };
  for (const named_reference& entry : references) {
    if (!content_record_tag(collection_reference_definitions, entry.identifier, entry.name, &entry.record, tags,
                            &collection_reference_description)) {
      return false;
    }
  }
  return true;
}
