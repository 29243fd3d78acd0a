#include "tools/shadow_map_utils.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "engine/definitions.h"
#include "platform/ui_host.h"
#include "world/models.h"


namespace {

int32_t thread_count = std::clamp<int32_t>(int32_t(std::thread::hardware_concurrency()), 1, 2);

bool component_in_range(double value) { return value >= -2147483647.0 && value <= 2147483647.0; }

// The light's horizontal reach over the march on one axis, in samples: the farthest probe's
// offset, (-(steps x L)) >> 16. Each step moves by -L, so the farthest probe is the last one.
int32_t march_reach(const mesh_lighting& lighting, int32_t component) {
  return int32_t((-int64_t(lighting.ray_steps) * component) >> 16);
}

bool odd_triangle(int16_t triangle) { return (triangle & 1) != 0; }

int16_t triangle_at(int32_t cell_x, int32_t cell_y, int32_t fx, int32_t fy) {
  if (((cell_x ^ cell_y) & 1) == 0) return fx >= fy ? 1 : 0;
  return fy >= WORLD_ONE - fx ? 3 : 2;
}

void clamp_pixel(const shadow_terrain& terrain, int32_t& x, int32_t& y) {
  x = std::clamp(x, 0, terrain.cells_across * TEXELS_PER_CELL - 1);
  y = std::clamp(y, 0, terrain.cells_down * TEXELS_PER_CELL - 1);
}

}  // namespace

int64_t shadow_rounded_square_root(int64_t value) {
  if (value <= 0) return 0;
  int64_t root = int64_t(std::sqrt(double(value)));
  while (root * root > value) --root;
  while ((root + 1) * (root + 1) <= value) ++root;
  // Nearest: past root + 1/2 exactly when value > root^2 + root.
  return value > root * root + root ? root + 1 : root;
}

bool shadow_lighting_prepare(const mesh_lighting& stored, mesh_lighting* lighting) {
  if (stored.ray_steps < 0 || stored.ray_steps > SHADOW_MAXIMUM_RAY_STEPS || stored.blur_radius < 0 ||
      stored.blur_radius > SHADOW_MAXIMUM_BLUR_RADIUS || !std::isfinite(stored.blur_sigma) || !(stored.blur_sigma > 0.0f)) {
    return false;
  }
  const int64_t x = stored.light_x >> 8, y = stored.light_y >> 8, z = stored.light_z >> 8;
  const int64_t n = shadow_rounded_square_root(x * x + y * y + z * z);
  if (n == 0) return false;
  mesh_lighting result = stored;
  int32_t* components[3] = {&result.light_x, &result.light_y, &result.light_z};
  for (int32_t* c : components) {
    const double value = std::trunc((double(*c) / 65536.0) / (double(n) / 256.0) * 65536.0);
    if (!component_in_range(value)) return false;
    *c = int32_t(value);
  }
  *lighting = result;
  return true;
}

bool shadow_lighting_load(mesh_lighting* lighting) {
  const mesh_definition* header = mesh_header();
  const void* record = nullptr;
  if (header && header->mesh_lighting_tag != NONE_TAG) {
    // The group is the shadow editor's own: the command-line tool starts no editor to make it.
    definitions_initialize(&mesh_lighting_definitions);
    if (!definitions_are_valid(&mesh_lighting_definitions)) definitions_validate(&mesh_lighting_definitions);
    const int16_t index = definition_load(&mesh_lighting_definitions, header->mesh_lighting_tag);
    if (index != NONE) record = definition_get_if_loaded(&mesh_lighting_definitions, index);
  }
  mesh_lighting stored;
  if (record) std::memcpy(&stored, record, sizeof(stored));
  if (!record || !shadow_lighting_prepare(stored, lighting)) {
    POST_ERROR(error_data_missing, "mesh lighting missing.");
    return false;
  }
  return true;
}

std::vector<int32_t> shadow_gaussian_factors(int32_t radius, float sigma) {
  std::vector<int32_t> factors;
  if (radius < 0 || radius > SHADOW_MAXIMUM_BLUR_RADIUS || !(sigma > 0.0f)) return factors;
  const int32_t side = 2 * radius + 1;
  std::vector<double> weights;
  try {
    weights.resize(size_t(side) * size_t(side));
    factors.resize(weights.size());
  } catch (const std::bad_alloc&) {
    return {};
  }
  double sum = 0.0;
  const double two_sigma_squared = 2.0 * double(sigma) * double(sigma);
  for (int32_t i = -radius; i <= radius; ++i) {
    for (int32_t j = -radius; j <= radius; ++j) {
      const double w = std::exp(-double(i * i + j * j) / two_sigma_squared);
      weights[size_t((i + radius) * side + (j + radius))] = w;
      sum += w;
    }
  }
  for (size_t k = 0; k < weights.size(); ++k) factors[k] = int32_t(std::trunc(weights[k] / sum * 65536.0));
  return factors;
}

int32_t shadow_directional_term(const mesh_lighting& lighting, const mesh_normal& normal) {
  const int64_t lx = lighting.light_x & ~int32_t(0xFF), ly = lighting.light_y & ~int32_t(0xFF),
                lz = lighting.light_z & ~int32_t(0xFF);
  const int64_t dot = lx * normal.x + ly * normal.y + lz * normal.z;
  return int32_t((65536 - dot / 16384) / 2);
}

uint8_t shadow_pixel_value(const mesh_lighting& lighting, int64_t e) {
  int64_t v = int64_t(lighting.ambient) + e;
  v = std::min<int64_t>(v, lighting.maximum);
  v = std::max<int64_t>(v, 0);
  return uint8_t(std::clamp<int64_t>((v * 255) >> 16, 0, 255));
}

shadow_window shadow_window_of(const mesh_lighting& lighting) {
  const int32_t reach_x = march_reach(lighting, lighting.light_x), reach_y = march_reach(lighting, lighting.light_y);
  shadow_window window;
  window.before_x = std::max(0, -reach_x) + lighting.blur_radius;
  window.after_x = std::max(0, reach_x) + lighting.blur_radius;
  window.before_y = std::max(0, -reach_y) + lighting.blur_radius;
  window.after_y = std::max(0, reach_y) + lighting.blur_radius;
  window.width = SHADOW_MAP_SIZE + window.before_x + window.after_x;
  window.height = SHADOW_MAP_SIZE + window.before_y + window.after_y;
  return window;
}

// ---- the terrain ----

bool shadow_terrain_take(shadow_terrain* terrain) {
  if (!mesh_is_open()) return false;
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const size_t count = size_t(across) * size_t(down);
  try {
    terrain->vertex_heights.resize(count);
    terrain->normals.resize(count);
    terrain->no_ground.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  terrain->cells_across = across;
  terrain->cells_down = down;
  mesh_settle_normals(0, 0, across - 1, down - 1);
  for (int32_t y = 0; y < down; ++y) {
    for (int32_t x = 0; x < across; ++x) {
      const mesh_cell& cell = *mesh_get_cell(x, y);
      const size_t k = size_t(y) * size_t(across) + size_t(x);
      terrain->vertex_heights[k] = (cell.terrain_and_flags & _cell_media_flags) ? cell.media_height : cell.ground_height;
      terrain->no_ground[k] = (cell.terrain_and_flags & _cell_no_ground) ? 1 : 0;
      if (x < across - 1 && y < down - 1) {
        terrain->normals[k] = cell.normals;
      } else {
        // The stored normals of the last row and column read past the grid's edge.
        const int16_t even = ((x + y) & 1) ? 2 : 0;
        terrain->normals[k] = uint16_t((mesh_triangle_normal_index_clamped(x, y, even) << 8) |
                                       mesh_triangle_normal_index_clamped(x, y, int16_t(even + 1)));
      }
    }
  }
  return true;
}

int32_t shadow_terrain_height(const shadow_terrain& terrain, int32_t pixel_x, int32_t pixel_y) {
  clamp_pixel(terrain, pixel_x, pixel_y);
  const int32_t cell_x = pixel_x / TEXELS_PER_CELL, cell_y = pixel_y / TEXELS_PER_CELL;
  const int32_t across = terrain.cells_across, down = terrain.cells_down;
  if (terrain.no_ground[size_t(cell_y) * size_t(across) + size_t(cell_x)]) return NO_GROUND_HEIGHT;
  const int32_t fx = (pixel_x % TEXELS_PER_CELL) * WORLD_UNITS_PER_TEXEL;
  const int32_t fy = (pixel_y % TEXELS_PER_CELL) * WORLD_UNITS_PER_TEXEL;
  const int16_t triangle = triangle_at(cell_x, cell_y, fx, fy);
  int32_t h[3];
  for (int c = 0; c < 3; ++c) {
    // The edge vertex repeats past the last row and column.
    const int32_t vx = std::min(cell_x + mesh_triangle_corner_steps[triangle][c][0], across - 1);
    const int32_t vy = std::min(cell_y + mesh_triangle_corner_steps[triangle][c][1], down - 1);
    h[c] = terrain.vertex_heights[size_t(vy) * size_t(across) + size_t(vx)];
  }
  return mesh_plane_height(triangle, h, fx, fy);
}

uint8_t shadow_terrain_normal(const shadow_terrain& terrain, int32_t pixel_x, int32_t pixel_y) {
  clamp_pixel(terrain, pixel_x, pixel_y);
  const int32_t cell_x = pixel_x / TEXELS_PER_CELL, cell_y = pixel_y / TEXELS_PER_CELL;
  const uint16_t bits = terrain.normals[size_t(cell_y) * size_t(terrain.cells_across) + size_t(cell_x)];
  const int16_t triangle = triangle_at(cell_x, cell_y, (pixel_x % TEXELS_PER_CELL) * WORLD_UNITS_PER_TEXEL,
                                       (pixel_y % TEXELS_PER_CELL) * WORLD_UNITS_PER_TEXEL);
  return odd_triangle(triangle) ? uint8_t(bits & 0xFF) : uint8_t(bits >> 8);
}

// ---- one submesh ----

bool shadow_buffers_allocate(shadow_buffers* buffers, const shadow_window& window) {
  const size_t samples = size_t(window.width) * size_t(window.height);
  try {
    buffers->heights.resize(samples);
    buffers->normals.resize(samples);
    buffers->models.reserve(MAXIMUM_MODELS_PER_MAP);
    buffers->columns.resize(size_t(window.width) * 2);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

namespace {

// Row by row, with each column's clamped pixel worked out once: the same values as
// shadow_terrain_height and shadow_terrain_normal give sample by sample. Answers the highest height.
int32_t fill_window(const shadow_terrain& terrain, const shadow_window& window, int32_t column, int32_t row,
                    shadow_buffers& buffers) {
  const int32_t across = terrain.cells_across, down = terrain.cells_down;
  const int32_t last_x = across * TEXELS_PER_CELL - 1, last_y = down * TEXELS_PER_CELL - 1;
  std::vector<int32_t>& cells = buffers.columns;  // sized by shadow_buffers_allocate
  for (int32_t j = 0; j < window.width; ++j) {
    const int32_t x = std::clamp(column * SHADOW_MAP_SIZE + j - window.before_x, 0, last_x);
    cells[size_t(2 * j)] = x / TEXELS_PER_CELL;
    cells[size_t(2 * j + 1)] = (x % TEXELS_PER_CELL) * WORLD_UNITS_PER_TEXEL;
  }
  int32_t highest = INT32_MIN;
  for (int32_t i = 0; i < window.height; ++i) {
    const int32_t y = std::clamp(row * SHADOW_MAP_SIZE + i - window.before_y, 0, last_y);
    const int32_t cell_y = y / TEXELS_PER_CELL, fy = (y % TEXELS_PER_CELL) * WORLD_UNITS_PER_TEXEL;
    // The edge vertex repeats past the last row and column.
    const int16_t* upper = terrain.vertex_heights.data() + size_t(cell_y) * size_t(across);
    const int16_t* lower = terrain.vertex_heights.data() + size_t(std::min(cell_y + 1, down - 1)) * size_t(across);
    const uint8_t* no_ground = terrain.no_ground.data() + size_t(cell_y) * size_t(across);
    const uint16_t* normal_bits = terrain.normals.data() + size_t(cell_y) * size_t(across);
    int16_t* heights = buffers.heights.data() + size_t(i) * size_t(window.width);
    uint8_t* normals = buffers.normals.data() + size_t(i) * size_t(window.width);
    for (int32_t j = 0; j < window.width; ++j) {
      const int32_t cell_x = cells[size_t(2 * j)], fx = cells[size_t(2 * j + 1)];
      const int32_t next_x = std::min(cell_x + 1, across - 1);
      const int16_t triangle = triangle_at(cell_x, cell_y, fx, fy);
      normals[j] = odd_triangle(triangle) ? uint8_t(normal_bits[cell_x] & 0xFF) : uint8_t(normal_bits[cell_x] >> 8);
      int32_t height;
      if (no_ground[cell_x]) {
        height = NO_GROUND_HEIGHT;
      } else {
        const int32_t h00 = upper[cell_x], h10 = upper[next_x], h01 = lower[cell_x], h11 = lower[next_x];
        int32_t h0, h1, h2, u, v;
        switch (triangle) {
          case 0: h0 = h01, h1 = h11, h2 = h00, u = WORLD_ONE - fy, v = fx; break;
          case 1: h0 = h10, h1 = h00, h2 = h11, u = fy, v = WORLD_ONE - fx; break;
          case 2: h0 = h00, h1 = h10, h2 = h01, u = fy, v = fx; break;
          default: h0 = h11, h1 = h01, h2 = h10, u = WORLD_ONE - fy, v = WORLD_ONE - fx; break;
        }
        height = h0 + ((u * (h2 - h0) + v * (h1 - h0)) >> WORLD_FRACTIONAL_BITS);
      }
      heights[j] = int16_t(height);
      highest = std::max(highest, height);
    }
  }
  return highest;
}

// The models whose boxes a pixel's segment from this submesh can reach.
void gather_models(const mesh_lighting& lighting, int32_t column, int32_t row, std::vector<model_segment_shape>& models) {
  models.clear();
  const int64_t reach_x = (-128 * int64_t(lighting.ray_steps) * lighting.light_x) >> 16;
  const int64_t reach_y = (-128 * int64_t(lighting.ray_steps) * lighting.light_y) >> 16;
  const int64_t side = int64_t(SHADOW_MAP_SIZE) * WORLD_UNITS_PER_TEXEL;
  const int64_t left = column * side + std::min<int64_t>(0, reach_x), right = (column + 1) * side + std::max<int64_t>(0, reach_x);
  const int64_t top = row * side + std::min<int64_t>(0, reach_y), bottom = (row + 1) * side + std::max<int64_t>(0, reach_y);
  for (int32_t slot = 0; slot < MAXIMUM_MODELS_PER_MAP; ++slot) {
    model_segment_shape shape;
    if (!model_get(slot) || !model_segment_shape_of(slot, &shape)) continue;
    if (shape.bounds_high[0] < left || shape.bounds_low[0] > right || shape.bounds_high[1] < top ||
        shape.bounds_low[1] > bottom) {
      continue;
    }
    models.push_back(shape);
  }
}

}  // namespace

void shadow_compute_submesh(const mesh_lighting& lighting, const shadow_terrain& terrain, const shadow_window& window,
                            int16_t mode, int32_t column, int32_t row, shadow_buffers& buffers, uint8_t* out) {
  if (mode == _shadow_mode_none) {
    std::memset(out, shadow_pixel_value(lighting, 0), size_t(SHADOW_MAP_SIZE) * SHADOW_MAP_SIZE);
    return;
  }
  const int32_t highest = fill_window(terrain, window, column, row, buffers);
  if (mode == _shadow_mode_model_shading) gather_models(lighting, column, row, buffers.models);

  int32_t directional[NUMBER_OF_NORMALS];
  const mesh_normal* table = mesh_normal_table();
  for (int k = 0; k < NUMBER_OF_NORMALS; ++k) directional[k] = shadow_directional_term(lighting, table[k]);
  const int64_t intensity = lighting.intensity >> 8;
  const int32_t width = window.width;
  const int16_t* heights = buffers.heights.data();
  const uint8_t* normals = buffers.normals.data();
  const int64_t segment_x = (-128 * int64_t(lighting.ray_steps) * lighting.light_x) >> 16;
  const int64_t segment_y = (-128 * int64_t(lighting.ray_steps) * lighting.light_y) >> 16;
  const int64_t segment_z = (-128 * int64_t(lighting.ray_steps) * lighting.light_z) >> 16;

  for (int32_t r = 0; r < SHADOW_MAP_SIZE; ++r) {
    uint8_t* pixels = out + size_t(r) * SHADOW_MAP_SIZE;
    for (int32_t c = 0; c < SHADOW_MAP_SIZE; ++c) {
      const int32_t si = r + window.before_y, sj = c + window.before_x;
      const size_t s = size_t(si) * size_t(width) + size_t(sj);
      if (mode == _shadow_mode_model_shading) {
        const int32_t px = column * SHADOW_MAP_SIZE + c, py = row * SHADOW_MAP_SIZE + r;
        const size_t cell = size_t(py / TEXELS_PER_CELL) * size_t(terrain.cells_across) + size_t(px / TEXELS_PER_CELL);
        bool shadowed = terrain.no_ground[cell] != 0;
        if (!shadowed && !buffers.models.empty()) {
          const world_point3d from = {px * WORLD_UNITS_PER_TEXEL, py * WORLD_UNITS_PER_TEXEL, heights[s]};
          const world_point3d to = {int32_t(from.x + segment_x), int32_t(from.y + segment_y), int32_t(from.z + segment_z)};
          for (const model_segment_shape& model : buffers.models) {
            if (model_segment_shape_hits(model, from, to)) {
              shadowed = true;
              break;
            }
          }
        }
        if (shadowed) {
          pixels[c] = shadow_pixel_value(lighting, lighting.shadow_value);
          continue;
        }
      }
      int32_t d = directional[normals[s]];
      if (mode != _shadow_mode_basic_lighting && d > 32768) {
        // March toward the light until terrain rises above the ray; the window holds every probe.
        int64_t ox = 0, oy = 0, f = int64_t(heights[s]) * 65536;
        for (int32_t step = 0; step < lighting.ray_steps; ++step) {
          ox -= lighting.light_x;
          oy -= lighting.light_y;
          f -= int64_t(lighting.light_z) * WORLD_UNITS_PER_TEXEL;
          const size_t probe = size_t(si + int32_t(oy >> 16)) * size_t(width) + size_t(sj + int32_t(ox >> 16));
          if ((f >> 16) < heights[probe]) {
            d = directional[normals[probe]];
            break;
          }
          // A falling light's ray only climbs: past the window's highest sample nothing hides it.
          if (lighting.light_z < 0 && (f >> 16) >= highest) break;
        }
      }
      pixels[c] = shadow_pixel_value(lighting, (int64_t(d) * intensity) >> 8);
    }
  }
}

// ---- the blur ----

// The tap loops are worth vectorising whatever the build's optimisation level (a GCC attribute;
// clang vectorises them at its usual levels).
#if defined(__GNUC__) && !defined(__clang__)
#define SHADOW_VECTORISE __attribute__((optimize("tree-vectorize", "vect-cost-model=dynamic")))
#else
#define SHADOW_VECTORISE
#endif
SHADOW_VECTORISE
void shadow_blur_region(const uint8_t* image, int32_t image_width, int32_t image_height, int32_t x, int32_t y,
                        int32_t width, int32_t height, std::span<const int32_t> factors, int32_t radius,
                        uint8_t* out, int32_t out_stride) {
  const int32_t side = 2 * radius + 1;
  if (radius < 0 || radius > SHADOW_MAXIMUM_BLUR_RADIUS || factors.size() != size_t(side) * size_t(side)) return;
  // A chunk of an output row at a time, each kernel tap added over the whole chunk (a loop the
  // compiler vectorises); the source row is first copied with its clamped edges beside it.
  enum { CHUNK = 256 };
  int32_t sums[CHUNK];
  uint8_t source[CHUNK + 2 * SHADOW_MAXIMUM_BLUR_RADIUS];
  for (int32_t r = 0; r < height; ++r) {
    uint8_t* pixels = out + size_t(r) * size_t(out_stride);
    for (int32_t c0 = 0; c0 < width; c0 += CHUNK) {
      const int32_t n = std::min<int32_t>(CHUNK, width - c0);
      std::fill(sums, sums + n, 0);
      for (int32_t di = -radius; di <= radius; ++di) {
        const uint8_t* row = image + size_t(std::clamp(y + r + di, 0, image_height - 1)) * size_t(image_width);
        // source[k] = row[clamp(x + c0 - radius + k)], k in 0..n + 2 radius.
        const int32_t first = x + c0 - radius, count = n + 2 * radius;
        const int32_t inside_from = std::clamp(-first, 0, count), inside_to = std::clamp(image_width - first, 0, count);
        for (int32_t k = 0; k < inside_from; ++k) source[k] = row[0];
        if (inside_to > inside_from) std::memcpy(source + inside_from, row + first + inside_from, size_t(inside_to - inside_from));
        for (int32_t k = std::max(inside_to, inside_from); k < count; ++k) source[k] = row[image_width - 1];
        const int32_t* factor = factors.data() + size_t(di + radius) * size_t(side);
        for (int32_t dj = 0; dj < side; ++dj) {
          const int32_t f = factor[dj];
          const uint8_t* from = source + dj;
          for (int32_t k = 0; k < n; ++k) sums[k] += f * from[k];
        }
      }
      for (int32_t k = 0; k < n; ++k) pixels[c0 + k] = uint8_t(std::clamp(sums[k] >> 16, 0, 255));
    }
  }
}

// ---- threads ----

void shadow_set_thread_count(int32_t count) { thread_count = std::clamp(count, 1, 16); }
int32_t shadow_thread_count() { return thread_count; }

bool shadow_run_parallel(int32_t count, shadow_work_procedure work, void* context, int64_t done_before) {
  std::atomic<int32_t> next{0}, done{0};
  std::atomic<bool> stop{false};
  auto loop = [&](int32_t slot, bool report) {
    while (!stop.load(std::memory_order_relaxed)) {
      const int32_t item = next.fetch_add(1);
      if (item >= count) break;
      work(item, slot, context);
      const int32_t finished = done.fetch_add(1) + 1;
      if (report && !ui_progress_step(done_before + finished)) stop = true;
    }
  };
  std::vector<std::thread> helpers;
  for (int32_t slot = 1; slot < std::min(thread_count, count); ++slot) {
    try {
      helpers.emplace_back(loop, slot, false);
    } catch (const std::exception&) {
      break;  // fewer threads do the same work
    }
  }
  loop(0, true);
  for (std::thread& helper : helpers) helper.join();
  return !stop.load();
}
