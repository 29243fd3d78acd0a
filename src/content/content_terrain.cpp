#include "content/content_terrain.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/extract.h"

namespace {

constexpr int32_t TEXELS_PER_CELL_SIDE = 8;
constexpr int32_t CELLS_PER_SUBMESH_SIDE = 32;
constexpr int32_t WORLD_UNITS_PER_CELL = 512;
constexpr int32_t MAXIMUM_SUBMESHES_PER_SIDE = 64;

// ---- noise: hashed lattice values, smoothly interpolated ----

uint32_t hash3(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = uint32_t(x) * 0x8DA6B343u ^ uint32_t(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  return h ^ (h >> 15);
}

double unit_hash(int32_t x, int32_t y, uint32_t seed) { return double(hash3(x, y, seed) >> 8) / double(1u << 24); }

double smooth(double t) { return t * t * (3.0 - 2.0 * t); }

double smoothstep(double edge0, double edge1, double x) { return smooth(std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0)); }

double value_noise(double x, double y, uint32_t seed) {
  const double fx = std::floor(x), fy = std::floor(y);
  const int32_t ix = int32_t(fx), iy = int32_t(fy);
  const double tx = smooth(x - fx), ty = smooth(y - fy);
  const double a = unit_hash(ix, iy, seed), b = unit_hash(ix + 1, iy, seed);
  const double c = unit_hash(ix, iy + 1, seed), d = unit_hash(ix + 1, iy + 1, seed);
  return (a + (b - a) * tx) * (1.0 - ty) + (c + (d - c) * tx) * ty;
}

// The next octave: twice as fine and turned, so the lattice's rows don't line up into ridges.
void rotate_octave(double* x, double* y) {
  const double rx = 0.8 * *x - 0.6 * *y, ry = 0.6 * *x + 0.8 * *y;
  *x = rx * 2.03 + 17.1;
  *y = ry * 2.03 + 5.3;
}

// Octaves of noise, each twice as fine and half as strong; 0..1.
double fbm(double x, double y, uint32_t seed, int octaves) {
  double sum = 0.0, amplitude = 1.0, total = 0.0;
  for (int i = 0; i < octaves; ++i) {
    sum += amplitude * value_noise(x, y, seed + uint32_t(i) * 977u);
    total += amplitude;
    rotate_octave(&x, &y);
    amplitude *= 0.5;
  }
  return sum / total;
}

// Sharp crests where the noise crosses its middle: mountain ridges; 0..1.
double ridged(double x, double y, uint32_t seed, int octaves) {
  double sum = 0.0, amplitude = 1.0, total = 0.0;
  for (int i = 0; i < octaves; ++i) {
    const double n = 1.0 - std::fabs(2.0 * value_noise(x, y, seed + uint32_t(i) * 1531u) - 1.0);
    sum += amplitude * n * n;
    total += amplitude;
    rotate_octave(&x, &y);
    amplitude *= 0.5;
  }
  return sum / total;
}

// ---- the landscapes: world height at (u, v), the map's unit square ----

double valley_river_centre(double v) {
  const double tau = 2.0 * std::numbers::pi;
  return 0.5 + 0.13 * std::sin(tau * (0.85 * v + 0.1)) + 0.04 * std::sin(tau * (2.3 * v + 0.4));
}

double valley_height(double u, double v, uint32_t seed) {
  const double d = std::fabs(u - valley_river_centre(v));
  const double valley = smoothstep(0.03, 0.40, d);
  const double hills = fbm(u * 5.0, v * 5.0, seed, 4), ridge = fbm(u * 2.0, v * 2.0, seed + 7, 3);
  double h = 220.0 + valley * (900.0 + 2400.0 * hills + 1200.0 * ridge * valley);
  // The river's channel, with a shallow ford two thirds of the way down.
  const double channel = 1.0 - smoothstep(0.0, 0.05, d);
  const double ford = std::exp(-std::pow((v - 0.72) / 0.035, 2.0));
  return h - channel * 760.0 * (1.0 - 0.6 * ford);
}

double highlands_height(double u, double v, uint32_t seed) {
  // The mountains are warped a little so that their ridges wander.
  const double wu = u + 0.06 * (fbm(u * 3.0, v * 3.0, seed + 13, 3) - 0.5);
  const double wv = v + 0.06 * (fbm(u * 3.0 + 9.0, v * 3.0, seed + 17, 3) - 0.5);
  const double mountains = std::pow(ridged(wu * 4.0, wv * 4.0, seed, 5), 1.5);
  const double massif = smoothstep(0.35, 0.7, fbm(u * 1.5, v * 1.5, seed + 19, 3));
  const double rolling = fbm(u * 2.5, v * 2.5, seed + 3, 4);
  const double lakes = 1.0 - smoothstep(0.30, 0.40, fbm(u * 2.2, v * 2.2, seed + 11, 3));
  return 200.0 + 6200.0 * mountains * (0.35 + 0.65 * massif) + 900.0 * rolling - 2200.0 * lakes;
}

double islet_height(double u, double v, uint32_t seed) {
  const double r = std::hypot(u - 0.5, v - 0.5) + 0.08 * (fbm(u * 4.0, v * 4.0, seed, 3) - 0.5);
  const double land = 1.0 - smoothstep(0.10, 0.42, r);
  return -600.0 + 1200.0 * land + 500.0 * fbm(u * 6.0, v * 6.0, seed + 5, 3) * land;
}

double landscape_height(const content_terrain_plan& plan, double u, double v) {
  switch (plan.landscape) {
    case _landscape_highlands: return highlands_height(u, v, plan.seed);
    case _landscape_islet: return islet_height(u, v, plan.seed);
    default: return valley_height(u, v, plan.seed);
  }
}

// Heights above which the ground turns to bare rock and to snow.
struct ground_lines {
  int32_t rock, snow;
};
ground_lines lines_of(content_landscape landscape) {
  switch (landscape) {
    case _landscape_highlands: return {3400, 4600};
    case _landscape_islet: return {1400, 1 << 20};
    default: return {3700, 1 << 20};
  }
}

// ---- grounds and colours ----

constexpr double kGroundColors[NUMBER_OF_GROUNDS][3] = {
    {0.10, 0.22, 0.42},  // deep water
    {0.20, 0.42, 0.56},  // shallow water
    {0.86, 0.78, 0.56},  // sand
    {0.40, 0.46, 0.28},  // marsh
    {0.36, 0.58, 0.22},  // grass
    {0.62, 0.62, 0.32},  // dry grass
    {0.17, 0.37, 0.15},  // forest
    {0.54, 0.43, 0.30},  // dirt
    {0.44, 0.41, 0.39},  // cliff
    {0.62, 0.60, 0.56},  // rock
    {0.95, 0.96, 1.00},  // snow
};

uint8_t ground_color(content_ground ground, int32_t shade) {
  return uint8_t(1 + int32_t(ground) * MAP_GROUND_SHADES + std::clamp(shade, 0, MAP_GROUND_SHADES - 1));
}

enum { SHALLOW_WATER_DEPTH = 160, BEACH_HEIGHT = 56, MARSH_HEIGHT = 160 };

content_ground classify(const content_terrain& t, int32_t px, int32_t py, const ground_lines& lines) {
  const int32_t h = t.height_at(px, py);
  if (h < t.water_level) return t.water_level - h < SHALLOW_WATER_DEPTH ? _ground_shallow_water : _ground_deep_water;
  // Woods, marshes and meadows come at the same size on every map: per submesh, not per map.
  const double u = double(px) / 256.0, v = double(py) / 256.0, s = t.slope_at(px, py);
  const uint32_t seed = t.plan.seed;
  if (s > 1.1) return _ground_cliff;
  if (h < t.water_level + BEACH_HEIGHT) return _ground_sand;
  if (h >= lines.snow) return _ground_snow;
  if (h >= lines.rock) return _ground_rock;
  if (s > 0.8) return _ground_rock;
  if (s > 0.5) return _ground_dirt;
  if (h < t.water_level + MARSH_HEIGHT && s < 0.12 && fbm(u * 4.5, v * 4.5, seed + 31, 3) > 0.55) return _ground_marsh;
  if (h < lines.rock - 400 && s < 0.5 && fbm(u * 3.5, v * 3.5, seed + 21, 3) > 0.56) return _ground_forest;
  return fbm(u * 1.5, v * 1.5, seed + 41, 3) > 0.6 ? _ground_dry_grass : _ground_grass;
}

// Light comes from the north-west and above, as in the maps' lighting.
int32_t texel_shade(const content_terrain& t, int32_t px, int32_t py, content_ground ground) {
  const int32_t grain = int32_t(hash3(px, py, t.plan.seed + 101) % 3) - 1;
  if (ground == _ground_deep_water || ground == _ground_shallow_water) {
    const int32_t depth = t.water_level - t.height_at(px, py);
    return 14 - depth / 48 + grain;
  }
  double gx, gy;
  t.gradient_at(px, py, &gx, &gy);
  gx *= 2.5;  // relief reads better a little exaggerated
  gy *= 2.5;
  const double lx = -0.45, ly = -0.35, lz = 0.82;  // toward the light
  const double light = (-gx * lx - gy * ly + lz) / (std::sqrt(gx * gx + gy * gy + 1.0) * std::sqrt(lx * lx + ly * ly + lz * lz));
  return int32_t(std::lround(2.0 + 13.0 * std::clamp(light, 0.0, 1.0))) + grain;
}

// Column X of an exchange image is texel column W - 1 - X.
template <class Texel>
void fill_mirrored(const content_terrain& t, bitmap_image* image, Texel texel) {
  image->width = t.width;
  image->height = t.height;
  image->pixels.assign(size_t(t.width) * size_t(t.height), 0);
  for (int32_t y = 0; y < t.height; ++y) {
    uint8_t* row = image->row(y);
    for (int32_t x = 0; x < t.width; ++x) row[x] = texel(t.width - 1 - x, y);
  }
}

}  // namespace

int32_t content_terrain::vertex_height(int32_t x, int32_t y) const {
  x = std::clamp(x, 0, cells_across - 1);
  y = std::clamp(y, 0, cells_down - 1);
  return extract_pixel_to_height(vertex_pixels[size_t(y) * size_t(cells_across) + size_t(x)], plan.lower, plan.upper);
}

void content_terrain::gradient_at(int32_t px, int32_t py, double* gx, double* gy) const {
  // Central differences at the four corners round the texel, blended like the heights.
  const int32_t cx = px / TEXELS_PER_CELL_SIDE, cy = py / TEXELS_PER_CELL_SIDE;
  const double fx = double(px % TEXELS_PER_CELL_SIDE) / TEXELS_PER_CELL_SIDE;
  const double fy = double(py % TEXELS_PER_CELL_SIDE) / TEXELS_PER_CELL_SIDE;
  *gx = *gy = 0.0;
  for (int32_t j = 0; j < 2; ++j) {
    for (int32_t i = 0; i < 2; ++i) {
      const int32_t x = cx + i, y = cy + j;
      const double weight = (i ? fx : 1.0 - fx) * (j ? fy : 1.0 - fy);
      *gx += weight * (vertex_height(x + 1, y) - vertex_height(x - 1, y)) / (2.0 * WORLD_UNITS_PER_CELL);
      *gy += weight * (vertex_height(x, y + 1) - vertex_height(x, y - 1)) / (2.0 * WORLD_UNITS_PER_CELL);
    }
  }
}

double content_terrain::slope_at(int32_t px, int32_t py) const {
  double gx, gy;
  gradient_at(px, py, &gx, &gy);
  return std::hypot(gx, gy);
}

int16_t content_ground_terrain_type(content_ground ground) {
  static const int16_t types[NUMBER_OF_GROUNDS] = {3, 1, 7, 9, 6, 6, 11, 4, 5, 8, 10};
  return ground < NUMBER_OF_GROUNDS ? types[ground] : 6;
}

void content_map_palette(bitmap_palette_entry (&palette)[BITMAP_PALETTE_ENTRIES]) {
  for (bitmap_palette_entry& entry : palette) entry = {0, 0, 0, 0};
  for (int32_t ground = 0; ground < NUMBER_OF_GROUNDS; ++ground) {
    for (int32_t shade = 0; shade < MAP_GROUND_SHADES; ++shade) {
      const double light = 0.32 + 0.75 * shade / (MAP_GROUND_SHADES - 1);
      auto channel = [light](double base) { return uint8_t(std::lround(std::min(base * light, 1.0) * 255.0)); };
      const double* base = kGroundColors[ground];
      palette[ground_color(content_ground(ground), shade)] = {channel(base[2]), channel(base[1]), channel(base[0]), 0};
    }
  }
}

bool content_generate_terrain(const content_terrain_plan& plan, content_terrain* terrain) {
  const int32_t span = plan.upper - plan.lower;
  if (plan.columns < 1 || plan.rows < 1 || plan.columns > MAXIMUM_SUBMESHES_PER_SIDE ||
      plan.rows > MAXIMUM_SUBMESHES_PER_SIDE || span <= 0 || span % 256 != 0) {
    return false;
  }
  content_terrain& t = *terrain;
  t = content_terrain{};
  t.plan = plan;
  t.cells_across = plan.columns * CELLS_PER_SUBMESH_SIDE;
  t.cells_down = plan.rows * CELLS_PER_SUBMESH_SIDE;
  t.width = t.cells_across * TEXELS_PER_CELL_SIDE;
  t.height = t.cells_down * TEXELS_PER_CELL_SIDE;
  t.water_level = extract_pixel_to_height(plan.water_pixel, plan.lower, plan.upper);

  // The vertices, quantised exactly as the displacement import will store them.
  t.vertex_pixels.resize(size_t(t.cells_across) * size_t(t.cells_down));
  for (int32_t y = 0; y < t.cells_down; ++y) {
    for (int32_t x = 0; x < t.cells_across; ++x) {
      const double h = landscape_height(plan, double(x) / t.cells_across, double(y) / t.cells_down);
      const int32_t clamped = int32_t(std::lround(std::clamp(h, double(plan.lower), double(plan.upper))));
      t.vertex_pixels[size_t(y) * size_t(t.cells_across) + size_t(x)] =
          extract_height_to_pixel(clamped, plan.lower, plan.upper);
    }
  }

  // Every texel between its cell's four corners.
  t.heights.resize(size_t(t.width) * size_t(t.height));
  for (int32_t py = 0; py < t.height; ++py) {
    const int32_t cy = py / TEXELS_PER_CELL_SIDE, fy = py % TEXELS_PER_CELL_SIDE;
    for (int32_t px = 0; px < t.width; ++px) {
      const int32_t cx = px / TEXELS_PER_CELL_SIDE, fx = px % TEXELS_PER_CELL_SIDE;
      const int32_t a = t.vertex_height(cx, cy), b = t.vertex_height(cx + 1, cy);
      const int32_t c = t.vertex_height(cx, cy + 1), d = t.vertex_height(cx + 1, cy + 1);
      const int32_t top = a * (8 - fx) + b * fx, bottom = c * (8 - fx) + d * fx;
      t.heights[size_t(py) * size_t(t.width) + size_t(px)] = (top * (8 - fy) + bottom * fy) / 64;
    }
  }

  const ground_lines lines = lines_of(plan.landscape);
  t.grounds.resize(t.heights.size());
  t.colors.resize(t.heights.size());
  for (int32_t py = 0; py < t.height; ++py) {
    for (int32_t px = 0; px < t.width; ++px) {
      const content_ground ground = classify(t, px, py, lines);
      const size_t at = size_t(py) * size_t(t.width) + size_t(px);
      t.grounds[at] = ground;
      t.colors[at] = ground_color(ground, texel_shade(t, px, py, ground));
    }
  }
  return true;
}

void content_terrain_image(const content_terrain& t, content_image_layer layer, bitmap_image* image) {
  if (layer == _content_image_color) {
    content_map_palette(image->palette);
  } else {
    bitmap_set_grey_palette(image);
  }
  switch (layer) {
    case _content_image_color:
      fill_mirrored(t, image, [&t](int32_t px, int32_t py) { return t.colors[size_t(py) * size_t(t.width) + size_t(px)]; });
      break;
    case _content_image_displacement:
      fill_mirrored(t, image, [&t](int32_t px, int32_t py) {
        return extract_height_to_pixel(t.height_at(px, py), t.plan.lower, t.plan.upper);
      });
      break;
    case _content_image_water_level:
      fill_mirrored(t, image, [&t](int32_t, int32_t) { return t.plan.water_pixel; });
      break;
    case _content_image_terrain:
      fill_mirrored(t, image, [&t](int32_t px, int32_t py) {
        return uint8_t(16 * content_ground_terrain_type(content_ground(t.ground_at(px, py))));
      });
      break;
    case _content_image_reflection:
      fill_mirrored(t, image, [&t](int32_t px, int32_t py) { return uint8_t(t.water_at(px, py) ? 0 : 255); });
      break;
  }
}
