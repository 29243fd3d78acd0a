// Generated landscapes for the sample maps: a height field on the map's vertex grid (already
// quantised to what the displacement import will store), a water level, and per texel the water,
// the terrain class and the colour, so that the colour map, the terrain types and the water agree.
// The layers come out as the editor's exchange images (mirrored left to right like every map
// image). Everything is computed from a seed; nothing else varies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/bitmap_file.h"

enum content_landscape : int16_t {
  _landscape_valley,     // hills either side of a river with a ford
  _landscape_highlands,  // ridged mountains, lakes in the basins, snow on the heights
  _landscape_islet,      // an island in the sea
};

struct content_terrain_plan {
  content_landscape landscape = _landscape_valley;
  int16_t columns = 1, rows = 1;  // submeshes
  uint32_t seed = 1;
  int32_t lower = -1024, upper = 5120;  // displacement bounds; upper - lower a multiple of 256
  uint8_t water_pixel = 43;             // the water level as a displacement pixel
};

// The look of a texel, chosen from height, slope and water; each has its terrain type.
enum content_ground : uint8_t {
  _ground_deep_water, _ground_shallow_water, _ground_sand, _ground_marsh, _ground_grass, _ground_dry_grass,
  _ground_forest, _ground_dirt, _ground_cliff, _ground_rock, _ground_snow, NUMBER_OF_GROUNDS
};

struct content_terrain {
  content_terrain_plan plan;
  int32_t width = 0, height = 0;           // texels (mesh pixels)
  int32_t cells_across = 0, cells_down = 0;
  int32_t water_level = 0;                 // world units
  std::vector<uint8_t> vertex_pixels;      // per vertex (cell corner), the displacement pixel
  std::vector<int32_t> heights;            // per texel, world units, interpolated between vertices
  std::vector<uint8_t> grounds;            // per texel, content_ground
  std::vector<uint8_t> colors;             // per texel, index into the map palette

  int32_t vertex_height(int32_t x, int32_t y) const;  // clamped into the grid
  int32_t height_at(int32_t px, int32_t py) const { return heights[size_t(py) * size_t(width) + size_t(px)]; }
  uint8_t ground_at(int32_t px, int32_t py) const { return grounds[size_t(py) * size_t(width) + size_t(px)]; }
  bool water_at(int32_t px, int32_t py) const { return height_at(px, py) < water_level; }
  // Rise over run at a texel, blended from the vertices round it.
  double slope_at(int32_t px, int32_t py) const;
  void gradient_at(int32_t px, int32_t py, double* gx, double* gy) const;
};

// The terrain type (0..15) a ground shows.
int16_t content_ground_terrain_type(content_ground ground);

// The map palette: sixteen shades of each ground, dark to light; entry 0 is left black and unused.
enum { MAP_GROUND_SHADES = 16 };
void content_map_palette(bitmap_palette_entry (&palette)[BITMAP_PALETTE_ENTRIES]);

// Builds the landscape; false when the plan is out of range (1..64 submeshes a side, bounds whose
// span is a positive multiple of 256).
bool content_generate_terrain(const content_terrain_plan& plan, content_terrain* terrain);

// The exchange images of the layers the sample maps import.
enum content_image_layer : int16_t {
  _content_image_color,
  _content_image_displacement,
  _content_image_water_level,
  _content_image_terrain,
  _content_image_reflection,
};
void content_terrain_image(const content_terrain& terrain, content_image_layer layer, bitmap_image* image);
