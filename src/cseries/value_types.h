// Value types shared by every layer above: world coordinates and the stored colour record.
#pragma once

#include <cstdint>

// World distances: 512 units to a cell edge.
struct world_point2d {
  int32_t x, y;
};
static_assert(sizeof(world_point2d) == 8);

struct world_point3d {
  int32_t x, y, z;
};
static_assert(sizeof(world_point3d) == 12);

struct world_rectangle2d {
  int32_t x0, y0, x1, y1;
};
static_assert(sizeof(world_rectangle2d) == 16);

// Red, green and blue at full scale 0xFFFF, then a flags word. Packed: it is read straight out of
// loaded data blocks at any address.
struct __attribute__((packed)) rgb_color {
  uint16_t red;
  uint16_t green;
  uint16_t blue;
  uint16_t flags;
};
static_assert(sizeof(rgb_color) == 8);

// rgb_color flags word: the colour stands for "no colour given".
enum : uint16_t { RGB_COLOR_UNUSED = 4 };
