#include "map/mesh_geometry.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <numbers>
#include <system_error>
#include <thread>
#include <vector>

#include "cseries/error_manager.h"
#include "map/mesh_edit.h"
#include "map/mesh_private.h"

namespace {

// ---- the normal table ----

// 1024-entry sine table in 2.14, indexed by angle >> 6.
struct trig_tables {
  std::array<int16_t, 1024> sine;
  trig_tables() {
    for (int i = 0; i < 1024; ++i) {
      sine[size_t(i)] = int16_t(std::lround(16384.0 * std::sin(2.0 * std::numbers::pi * i / 1024.0)));
    }
  }
  int32_t sin(uint16_t angle) const { return sine[angle >> 6]; }
  int32_t cos(uint16_t angle) const { return sine[((angle >> 6) + 256) & 1023]; }
};

uint16_t angle_of(int32_t x, int32_t y) {
  if (x == 0 && y == 0) return 0;
  double turns = std::atan2(double(y), double(x)) / (2.0 * std::numbers::pi);
  return uint16_t(int32_t(std::lround(turns * 65536.0)) & 0xFFFF);
}

int32_t integer_square_root(int64_t value) {
  if (value <= 0) return 0;
  int64_t root = int64_t(std::sqrt(double(value)));
  while (root * root > value) --root;
  while ((root + 1) * (root + 1) <= value) ++root;
  return int32_t(root);
}

// Rings of constant elevation from the zenith down, each with about as many points as its
// circumference allows, until 256 points exist.
struct normal_table {
  std::array<mesh_normal, NUMBER_OF_NORMALS> entries{};
  normal_table() {
    const trig_tables trig;
    int count = 0;
    for (int32_t elevation = 16416; count < NUMBER_OF_NORMALS; elevation -= 1092) {
      uint16_t e = uint16_t(elevation);
      int32_t cos_e = trig.cos(e);
      int32_t points = (4 * cos_e) / 1092 + 1;
      int32_t step = 65536 / points;
      for (int32_t k = 0; k < points && count < NUMBER_OF_NORMALS; ++k) {
        uint16_t azimuth = uint16_t(32 + k * step);
        mesh_normal& n = entries[size_t(count++)];
        n.x = int16_t((trig.cos(azimuth) * cos_e) >> 14);
        n.y = int16_t((trig.sin(azimuth) * cos_e) >> 14);
        n.z = int16_t(trig.sin(e));
        n.azimuth = angle_of(n.x, n.y);
        // Elevation above the horizontal plane, as the rings count it.
        n.elevation = angle_of(integer_square_root(int64_t(n.x) * n.x + int64_t(n.y) * n.y), n.z);
      }
    }
  }
};

const normal_table& normals() {
  static const normal_table table;
  return table;
}

// The nearest table entry to a 2.14 vector by trying all of them (lowest index on ties).
uint8_t nearest_by_search(int32_t x, int32_t y, int32_t z) {
  const auto& entries = normals().entries;
  int64_t best_distance = INT64_MAX;
  uint8_t best = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    int64_t dx = x - entries[i].x, dy = y - entries[i].y, dz = z - entries[i].z;
    int64_t distance = dx * dx + dy * dy + dz * dz;
    if (distance < best_distance) {
      best_distance = distance;
      best = uint8_t(i);
    }
  }
  return best;
}

// Candidates for the nearest entry, per square of a grid over (x, y). Each square is taken with the
// z range that unit vectors (length 16384, give or take rounding) can have over it, and keeps every
// entry whose least distance to that box is within the smallest greatest distance of any entry: no
// other entry can be nearest to a point in the box, ties included. A vector outside its square's
// box (not unit length, or pointing down) is answered by the full search, so the answer never
// differs from it.
struct normal_candidates {
  static constexpr int32_t kSquares = 128, kSquareSize = 32768 / kSquares;
  static constexpr int64_t kShortest = 16380, kLongest = 16388;
  struct square {
    int32_t z_low, z_high;
    uint32_t first, count;
  };
  std::array<square, kSquares * kSquares> squares{};
  std::vector<uint8_t> indices;

  normal_candidates() {
    const auto& entries = normals().entries;
    for (int32_t sy = 0; sy < kSquares; ++sy) {
      for (int32_t sx = 0; sx < kSquares; ++sx) {
        square& q = squares[size_t(sx + sy * kSquares)];
        const int64_t x0 = -16384 + int64_t(sx) * kSquareSize, x1 = x0 + kSquareSize - 1;
        const int64_t y0 = -16384 + int64_t(sy) * kSquareSize, y1 = y0 + kSquareSize - 1;
        auto nearest_to_zero = [](int64_t lo, int64_t hi) { return lo > 0 ? lo : (hi < 0 ? -hi : 0); };
        const int64_t nx = nearest_to_zero(x0, x1), ny = nearest_to_zero(y0, y1);
        const int64_t fx = std::max(-x0, x1), fy = std::max(-y0, y1);
        const int64_t least_xy = nx * nx + ny * ny, most_xy = fx * fx + fy * fy;
        if (least_xy > kLongest * kLongest) {
          q = {1, 0, 0, 0};  // no unit vector reaches this square
          continue;
        }
        const int64_t z0 = integer_square_root(std::max<int64_t>(0, kShortest * kShortest - most_xy));
        const int64_t z1 = integer_square_root(kLongest * kLongest - least_xy) + 1;
        q.z_low = int32_t(z0);
        q.z_high = int32_t(z1);
        const int64_t low[3] = {x0, y0, z0}, high[3] = {x1, y1, z1};
        auto box_distance = [&](const mesh_normal& n, bool farthest) {
          const int64_t v[3] = {n.x, n.y, n.z};
          int64_t sum = 0;
          for (int k = 0; k < 3; ++k) {
            int64_t d = farthest ? std::max(std::abs(v[k] - low[k]), std::abs(v[k] - high[k]))
                                 : (v[k] < low[k] ? low[k] - v[k] : (v[k] > high[k] ? v[k] - high[k] : 0));
            sum += d * d;
          }
          return sum;
        };
        int64_t bound = INT64_MAX;
        for (const mesh_normal& n : entries) bound = std::min(bound, box_distance(n, true));
        q.first = uint32_t(indices.size());
        for (size_t i = 0; i < entries.size(); ++i) {
          if (box_distance(entries[i], false) <= bound) indices.push_back(uint8_t(i));
        }
        q.count = uint32_t(indices.size() - q.first);
      }
    }
  }
};

const normal_candidates& candidates() {
  static const normal_candidates table;
  return table;
}

uint8_t nearest_normal_index(int32_t x, int32_t y, int32_t z) {
  if (x < -16384 || x >= 16384 || y < -16384 || y >= 16384) return nearest_by_search(x, y, z);
  const normal_candidates& grid = candidates();
  const auto& q = grid.squares[size_t((x + 16384) / normal_candidates::kSquareSize +
                                      (y + 16384) / normal_candidates::kSquareSize * normal_candidates::kSquares)];
  if (z < q.z_low || z > q.z_high) return nearest_by_search(x, y, z);
  const auto& entries = normals().entries;
  // Here every coordinate lies within -16384..16389, so each squared difference is at most 2^30
  // and their sum fits 32 unsigned bits exactly.
  uint32_t best_distance = UINT32_MAX;
  uint8_t best = 0;
  for (uint32_t k = q.first; k < q.first + q.count; ++k) {
    const uint8_t i = grid.indices[k];
    const int32_t dx = x - entries[i].x, dy = y - entries[i].y, dz = z - entries[i].z;
    const uint32_t distance = uint32_t(dx * dx) + uint32_t(dy * dy) + uint32_t(dz * dz);
    if (distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  return best;
}

// ---- cells ----

bool cell_has_media(const mesh_cell& cell) { return (cell.terrain_and_flags & _cell_media_flags) != 0; }

// The height of a triangle's corner by mode. Past the last row or column the edge vertex repeats,
// so the last cells lie flat across the map's edge instead of sloping toward another row or zero.
int32_t vertex_height(int32_t cell_x, int32_t cell_y, int16_t triangle, int corner, mesh_height_mode mode) {
  const int32_t x = cell_x + mesh_triangle_corner_steps[triangle][corner][0];
  const int32_t y = cell_y + mesh_triangle_corner_steps[triangle][corner][1];
  const mesh_cell& cell = uint32_t(x) < uint32_t(mesh_globals.cells_across) && uint32_t(y) < uint32_t(mesh_globals.cells_down)
                              ? mesh_globals.cells[x + y * mesh_globals.cells_across]
                              : *mesh_vertex_clamped(x, y);
  switch (mode) {
    case _mesh_height_ground:
      return cell.ground_height;
    case _mesh_height_media:
      return cell.media_height;
    case _mesh_height_surface:
    default:
      return cell_has_media(cell) ? cell.media_height : cell.ground_height;
  }
}

bool triangle_is_odd(int16_t triangle) { return (triangle & 1) != 0; }

// Clamps a world point into the map; false when no grid exists.
bool clamp_to_map(int32_t& x, int32_t& y) {
  if (!mesh_is_open()) return false;
  x = std::clamp(x, 0, mesh_globals.cells_across * WORLD_ONE - 1);
  y = std::clamp(y, 0, mesh_globals.cells_down * WORLD_ONE - 1);
  return true;
}

int16_t triangle_of(int32_t x, int32_t y) {
  int32_t fx = x & (WORLD_ONE - 1), fy = y & (WORLD_ONE - 1);
  if ((((x ^ y) >> WORLD_FRACTIONAL_BITS) & 1) == 0) return fx >= fy ? 1 : 0;
  return fy >= WORLD_ONE - fx ? 3 : 2;
}

const mesh_cell& cell_under(int32_t x, int32_t y) {
  return *mesh_get_cell(x >> WORLD_FRACTIONAL_BITS, y >> WORLD_FRACTIONAL_BITS);
}

// A triangle's legs run along the grid's axes from its first corner, so its upward normal is
// (-rise along x, -rise along y, 512) per cell edge: two height differences decide it.
void triangle_slopes(int32_t cell_x, int32_t cell_y, int16_t triangle, int32_t* gx, int32_t* gy) {
  const int8_t(&steps)[3][2] = mesh_triangle_corner_steps[triangle];
  const int32_t h0 = vertex_height(cell_x, cell_y, triangle, 0, _mesh_height_surface);
  const int32_t h1 = vertex_height(cell_x, cell_y, triangle, 1, _mesh_height_surface);
  const int32_t h2 = vertex_height(cell_x, cell_y, triangle, 2, _mesh_height_surface);
  // Corner 1 differs from corner 0 along x only, corner 2 along y only.
  *gx = -(steps[1][0] - steps[0][0]) * (h1 - h0);
  *gy = -(steps[2][1] - steps[0][1]) * (h2 - h0);
}

void slope_normal_vector(int32_t gx, int32_t gy, int32_t vector[3]) {
  const double scale = 16384.0 / std::sqrt(double(gx) * gx + double(gy) * gy + double(WORLD_ONE) * double(WORLD_ONE));
  vector[0] = int32_t(gx * scale);
  vector[1] = int32_t(gy * scale);
  vector[2] = int32_t(double(WORLD_ONE) * scale);
}

void triangle_normal_vector(int32_t cell_x, int32_t cell_y, int16_t triangle, int32_t vector[3]) {
  int32_t gx, gy;
  triangle_slopes(cell_x, cell_y, triangle, &gx, &gy);
  slope_normal_vector(gx, gy, vector);
}

// ---- LOD ----

int32_t lod_ground(int32_t x, int32_t y) {
  x = std::min(x, mesh_globals.cells_across - 1);
  y = std::min(y, mesh_globals.cells_down - 1);
  return mesh_get_cell(x, y)->ground_height;
}

bool edge_is_bent(int32_t ax, int32_t ay, int32_t bx, int32_t by, int32_t mx, int32_t my) {
  return std::abs(lod_ground(ax, ay) + lod_ground(bx, by) - 2 * lod_ground(mx, my)) > LOD_BEND_THRESHOLD;
}

bool lod_allocated() {
  return mesh_globals.lod != nullptr && mesh_globals.header != nullptr &&
         mesh_globals.header->lod_size == 2 * mesh_lod_entry_count() && mesh_lod_entry_count() > 0;
}

}  // namespace

const mesh_normal* mesh_normal_table() { return normals().entries.data(); }

uint8_t mesh_nearest_normal(int32_t x, int32_t y, int32_t z) { return nearest_normal_index(x, y, z); }
uint8_t mesh_nearest_normal_by_search(int32_t x, int32_t y, int32_t z) { return nearest_by_search(x, y, z); }

void mesh_triangle_normal_vector(int32_t cell_x, int32_t cell_y, int16_t triangle, int32_t vector[3]) {
  triangle_normal_vector(cell_x, cell_y, triangle, vector);
}

int16_t mesh_triangle_at(int32_t world_x, int32_t world_y) {
  if (!clamp_to_map(world_x, world_y)) return 0;
  return triangle_of(world_x, world_y);
}

int16_t mesh_terrain_at(int32_t world_x, int32_t world_y) {
  if (!clamp_to_map(world_x, world_y)) return 0;
  uint16_t bits = cell_under(world_x, world_y).terrain_and_flags;
  return triangle_is_odd(triangle_of(world_x, world_y)) ? int16_t(bits & 0x0F) : int16_t((bits >> 4) & 0x0F);
}

bool mesh_media_at(int32_t world_x, int32_t world_y) {
  if (!clamp_to_map(world_x, world_y)) return false;
  uint16_t flag = triangle_is_odd(triangle_of(world_x, world_y)) ? _cell_media_on_odd_triangle
                                                                  : _cell_media_on_even_triangle;
  return (cell_under(world_x, world_y).terrain_and_flags & flag) != 0;
}

int32_t mesh_plane_height(int16_t triangle, const int32_t h[3], int32_t fx, int32_t fy) {
  int32_t u, v;
  switch (triangle) {
    case 0: u = WORLD_ONE - fy, v = fx; break;
    case 1: u = fy, v = WORLD_ONE - fx; break;
    case 2: u = fy, v = fx; break;
    default: u = WORLD_ONE - fy, v = WORLD_ONE - fx; break;
  }
  return h[0] + ((u * (h[2] - h[0]) + v * (h[1] - h[0])) >> WORLD_FRACTIONAL_BITS);
}

void mesh_cell_heights(int32_t cell_x, int32_t cell_y, mesh_height_mode mode, int32_t step,
                       int32_t* heights) {
  const int32_t samples = WORLD_ONE / step;
  if (mesh_get_cell(cell_x, cell_y)->terrain_and_flags & _cell_no_ground) {
    for (int32_t k = 0; k < samples * samples; ++k) heights[k] = NO_GROUND_HEIGHT;
    return;
  }
  // Within a triangle the height query is h0 + (N >> 9) with N linear in the offsets: N = n0 +
  // ax * fx + ay * fy, exactly the integer the query computes, so the answers are the same.
  const bool odd_parity = ((cell_x + cell_y) & 1) != 0;
  const int16_t first = odd_parity ? 2 : 0;
  struct plane {
    int32_t h0, n0, ax, ay;
  } planes[2] = {};
  for (int16_t t = 0; t < 2; ++t) {
    const int16_t triangle = int16_t(first + t);
    const int32_t h0 = vertex_height(cell_x, cell_y, triangle, 0, mode);
    const int32_t d1 = vertex_height(cell_x, cell_y, triangle, 1, mode) - h0;
    const int32_t d2 = vertex_height(cell_x, cell_y, triangle, 2, mode) - h0;
    switch (triangle) {
      case 0: planes[t] = {h0, WORLD_ONE * d2, d1, -d2}; break;
      case 1: planes[t] = {h0, WORLD_ONE * d1, -d1, d2}; break;
      case 2: planes[t] = {h0, 0, d1, d2}; break;
      default: planes[t] = {h0, WORLD_ONE * (d1 + d2), -d1, -d2}; break;
    }
  }
  // The second triangle of the cell (1 or 3), as triangle_of decides it, takes the samples from
  // the diagonal on: fx >= fy in an even cell, fy >= 512 - fx in an odd one. Both planes are
  // evaluated across each row and the diagonal chooses, with no branch a sample, so the compiler
  // works several samples at once.
  for (int32_t j = 0; j < samples; ++j) {
    const int32_t fy = j * step;
    const int32_t split = odd_parity ? samples - j : j;
    const int32_t n_first = planes[0].n0 + planes[0].ay * fy, n_second = planes[1].n0 + planes[1].ay * fy;
    const int32_t stride_first = planes[0].ax * step, stride_second = planes[1].ax * step;
    int32_t* row = heights + j * samples;
    for (int32_t i = 0; i < samples; ++i) {
      const int32_t first_height = planes[0].h0 + ((n_first + stride_first * i) >> WORLD_FRACTIONAL_BITS);
      const int32_t second_height = planes[1].h0 + ((n_second + stride_second * i) >> WORLD_FRACTIONAL_BITS);
      row[i] = i >= split ? second_height : first_height;
    }
  }
}

int32_t mesh_height_at(int32_t world_x, int32_t world_y, mesh_height_mode mode) {
  if (!clamp_to_map(world_x, world_y)) return NO_GROUND_HEIGHT;
  int32_t cell_x = world_x >> WORLD_FRACTIONAL_BITS, cell_y = world_y >> WORLD_FRACTIONAL_BITS;
  int32_t index = cell_x + cell_y * mesh_globals.cells_across;
  if (mesh_globals.cells[index].terrain_and_flags & _cell_no_ground) return NO_GROUND_HEIGHT;
  int16_t triangle = triangle_of(world_x, world_y);
  const int32_t h[3] = {vertex_height(cell_x, cell_y, triangle, 0, mode), vertex_height(cell_x, cell_y, triangle, 1, mode),
                        vertex_height(cell_x, cell_y, triangle, 2, mode)};
  return mesh_plane_height(triangle, h, world_x & (WORLD_ONE - 1), world_y & (WORLD_ONE - 1));
}

const mesh_normal* mesh_normal_at(int32_t world_x, int32_t world_y) {
  if (!clamp_to_map(world_x, world_y)) return &normals().entries[0];
  uint16_t bits = mesh_cell_normals(world_x >> WORLD_FRACTIONAL_BITS, world_y >> WORLD_FRACTIONAL_BITS);
  uint8_t index = triangle_is_odd(triangle_of(world_x, world_y)) ? uint8_t(bits & 0xFF) : uint8_t(bits >> 8);
  return &normals().entries[index];
}

namespace {

// The normal index of each slope pair met while preparing one rectangle. Hills repeat their slopes
// (quantised heights, flat ground), so many triangles are answered here; a hit is checked against
// the whole key. One per preparation, so concurrent preparations share nothing.
struct slope_memory {
  // A slot holds the slope pair above its index, eight bytes so more slots stay in cache. Slopes
  // are differences of 16-bit heights (-65535..65535), offset to 17 bits each; zero is empty, as no
  // pair packs to zero.
  static constexpr uint32_t kBits = 15;
  std::vector<uint64_t> slots = std::vector<uint64_t>(size_t(1) << kBits, 0);
  uint8_t index_of(int32_t gx, int32_t gy) {
    const uint64_t key = uint64_t(uint32_t(gx + 65536)) << 17 | uint32_t(gy + 65536);
    uint64_t& slot = slots[(uint32_t(gx) * 2654435761u ^ uint32_t(gy) * 40503u) >> (32 - kBits)];
    if ((slot >> 8) == key) return uint8_t(slot);
    int32_t v[3];
    slope_normal_vector(gx, gy, v);
    const uint8_t index = nearest_normal_index(v[0], v[1], v[2]);
    slot = key << 8 | index;
    return index;
  }
};

int32_t surface_height(const mesh_cell& cell) { return cell_has_media(cell) ? cell.media_height : cell.ground_height; }

// Surface heights of one vertex row from x0 to x1 + 1, the edge vertex repeating past the grid.
void vertex_row(const mesh_cell* row, int32_t x0, int32_t x1, int32_t across, int32_t* heights) {
  for (int32_t x = x0; x <= x1 + 1; ++x) heights[x - x0] = surface_height(row[std::min(x, across - 1)]);
}

}  // namespace

namespace {

// The slope memory of the calling thread, kept between calls: one submesh at a time would
// otherwise clear a fresh table for each. The answers depend on the slopes alone, never on the map.
slope_memory& thread_slope_memory() {
  thread_local slope_memory memory;
  return memory;
}

// Normals of rows y0..y1 (columns x0..x1), one pass per row with each vertex's surface height
// taken once. Writes only the rows' normals and reads only heights and media bits, so two row
// bands (or two submeshes) can be computed at once.
void normals_of_rows_quickly(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  const int32_t across = mesh_globals.cells_across, down = mesh_globals.cells_down;
  mesh_cell* const cells = mesh_globals.cells;
  const int32_t width = x1 - x0 + 1;
  std::vector<int32_t> upper(size_t(width) + 1), lower(size_t(width) + 1);
  slope_memory& memory = thread_slope_memory();
  vertex_row(cells + y0 * across, x0, x1, across, upper.data());
  for (int32_t y = y0; y <= y1; ++y) {
    mesh_cell* const row = cells + y * across;
    vertex_row(cells + std::min(y + 1, down - 1) * across, x0, x1, across, lower.data());
    for (int32_t x = x0; x <= x1; ++x) {
      // Corner heights by step from the cell's top-left vertex.
      const int32_t k = x - x0;
      const int32_t h[2][2] = {{upper[size_t(k)], lower[size_t(k)]}, {upper[size_t(k) + 1], lower[size_t(k) + 1]}};
      const int16_t even = ((x + y) & 1) != 0 ? 2 : 0;
      uint8_t indices[2];
      for (int16_t t = 0; t < 2; ++t) {
        const int8_t(&steps)[3][2] = mesh_triangle_corner_steps[even + t];
        const int32_t h0 = h[steps[0][0]][steps[0][1]];
        const int32_t gx = -(steps[1][0] - steps[0][0]) * (h[steps[1][0]][steps[1][1]] - h0);
        const int32_t gy = -(steps[2][1] - steps[0][1]) * (h[steps[2][0]][steps[2][1]] - h0);
        indices[t] = memory.index_of(gx, gy);
      }
      row[x].normals = uint16_t((indices[0] << 8) | indices[1]);
    }
    upper.swap(lower);
  }
}

// Without memory for the row buffers, cell by cell through the height look-ups: slower, same answers.
void normals_of_rows(int32_t x0, int32_t y0, int32_t x1, int32_t y1) noexcept {
  try {
    normals_of_rows_quickly(x0, y0, x1, y1);
    return;
  } catch (const std::bad_alloc&) {
  }
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x) {
      const int16_t even = ((x + y) & 1) != 0 ? 2 : 0;
      uint8_t indices[2];
      for (int16_t t = 0; t < 2; ++t) {
        int32_t v[3];
        triangle_normal_vector(x, y, int16_t(even + t), v);
        indices[t] = nearest_normal_index(v[0], v[1], v[2]);
      }
      mesh_globals.cells[x + y * mesh_globals.cells_across].normals = uint16_t((indices[0] << 8) | indices[1]);
    }
  }
}

// ---- normals computed on first use ----
// Opening a map and every preparation leave the triangle normals of the submeshes they touch to be
// computed when first read: an open does not pay for 2 x cells normals nobody may look at. Each
// submesh is either settled (its cells' normals are what a full preparation gives now) or not;
// readers settle what they read through mesh_cell_normals and mesh_settle_normals. Settling may
// run on any thread: the flag is published with release after the normals are written, and
// settling itself is serialised by one lock.
struct lazy_normals {
  std::atomic<uint8_t> settled[MAXIMUM_MESH_SUBMESHES * MAXIMUM_MESH_SUBMESHES] = {};
  std::mutex lock;
};
lazy_normals lazy;

std::atomic<uint8_t>& settled_flag(int32_t submesh_x, int32_t submesh_y) {
  return lazy.settled[submesh_x + submesh_y * MAXIMUM_MESH_SUBMESHES];
}

void compute_submesh_normals(int32_t submesh_x, int32_t submesh_y) {
  const int32_t x0 = submesh_x * CELLS_PER_SUBMESH, y0 = submesh_y * CELLS_PER_SUBMESH;
  normals_of_rows(x0, y0, x0 + CELLS_PER_SUBMESH - 1, y0 + CELLS_PER_SUBMESH - 1);
}

// The submeshes of a list from first by stride, each computed and published.
void settle_submeshes(const std::vector<int32_t>* submeshes, size_t first, size_t stride) noexcept {
  for (size_t k = first; k < submeshes->size(); k += stride) {
    const int32_t sx = (*submeshes)[k] % MAXIMUM_MESH_SUBMESHES, sy = (*submeshes)[k] / MAXIMUM_MESH_SUBMESHES;
    compute_submesh_normals(sx, sy);
    settled_flag(sx, sy).store(1, std::memory_order_release);
  }
}

// Below this many unsettled submeshes a second thread costs more than it saves.
constexpr size_t kSubmeshesWorthASecondThread = 8;

// Submesh range of a cell rectangle, clipped; false when nothing of it lies in the grid.
bool submesh_range(int32_t& x0, int32_t& y0, int32_t& x1, int32_t& y1) {
  if (!mesh_clip_cell_rectangle(x0, y0, x1, y1)) return false;
  x0 /= CELLS_PER_SUBMESH;
  y0 /= CELLS_PER_SUBMESH;
  x1 /= CELLS_PER_SUBMESH;
  y1 /= CELLS_PER_SUBMESH;
  return true;
}

}  // namespace

void mesh_forget_normals() {
  for (auto& flag : lazy.settled) flag.store(0, std::memory_order_relaxed);
}

void mesh_settle_normals(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (!mesh_is_open() || !submesh_range(x0, y0, x1, y1)) return;
  auto unsettled = [&](std::vector<int32_t>& list) {
    for (int32_t sy = y0; sy <= y1; ++sy) {
      for (int32_t sx = x0; sx <= x1; ++sx) {
        if (!settled_flag(sx, sy).load(std::memory_order_acquire)) list.push_back(sx + sy * MAXIMUM_MESH_SUBMESHES);
      }
    }
  };
  // The common case, everything settled, takes no lock and allocates nothing.
  bool all_settled = true;
  for (int32_t sy = y0; sy <= y1 && all_settled; ++sy) {
    for (int32_t sx = x0; sx <= x1 && all_settled; ++sx) all_settled = settled_flag(sx, sy).load(std::memory_order_acquire) != 0;
  }
  if (all_settled) return;
  std::lock_guard<std::mutex> guard(lazy.lock);
  std::vector<int32_t> submeshes;
  try {
    submeshes.reserve(size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1));
    unsettled(submeshes);
  } catch (const std::bad_alloc&) {
    // No list to be had: one submesh at a time, in place.
    for (int32_t sy = y0; sy <= y1; ++sy) {
      for (int32_t sx = x0; sx <= x1; ++sx) {
        if (settled_flag(sx, sy).load(std::memory_order_acquire)) continue;
        compute_submesh_normals(sx, sy);
        settled_flag(sx, sy).store(1, std::memory_order_release);
      }
    }
    return;
  }
  std::thread second;
  if (submeshes.size() >= kSubmeshesWorthASecondThread && std::thread::hardware_concurrency() >= 2) {
    try {
      second = std::thread(settle_submeshes, &submeshes, 1, 2);
    } catch (const std::system_error&) {
    }
  }
  settle_submeshes(&submeshes, 0, second.joinable() ? 2 : 1);
  if (second.joinable()) second.join();
}

uint16_t mesh_cell_normals(int32_t cell_x, int32_t cell_y) {
  if (!mesh_is_open()) return 0;
  cell_x = std::clamp(cell_x, 0, mesh_globals.cells_across - 1);
  cell_y = std::clamp(cell_y, 0, mesh_globals.cells_down - 1);
  if (!settled_flag(cell_x / CELLS_PER_SUBMESH, cell_y / CELLS_PER_SUBMESH).load(std::memory_order_acquire)) {
    mesh_settle_normals(cell_x, cell_y, cell_x, cell_y);
  }
  return mesh_globals.cells[cell_x + cell_y * mesh_globals.cells_across].normals;
}

int32_t mesh_unsettled_normal_submeshes() {
  int32_t count = 0;
  for (int32_t sy = 0; sy < mesh_globals.height; ++sy) {
    for (int32_t sx = 0; sx < mesh_globals.width; ++sx) count += settled_flag(sx, sy).load(std::memory_order_acquire) ? 0 : 1;
  }
  return count;
}

void mesh_refresh_normals(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  // A cell's normals read its right and lower neighbours: the row and column before the
  // rectangle follow its heights too.
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  --x0;
  --y0;
  if (!submesh_range(x0, y0, x1, y1)) return;
  for (int32_t sy = y0; sy <= y1; ++sy) {
    for (int32_t sx = x0; sx <= x1; ++sx) settled_flag(sx, sy).store(0, std::memory_order_release);
  }
}

uint16_t mesh_compute_lod_entry(int32_t block_x, int32_t block_y) {
  const int32_t x = 2 * block_x, y = 2 * block_y;
  uint16_t entry = 0;
  if (edge_is_bent(x, y, x + 2, y, x + 1, y)) entry |= _lod_split_top;
  if (edge_is_bent(x + 2, y, x + 2, y + 2, x + 2, y + 1)) entry |= _lod_split_right;
  if (edge_is_bent(x, y + 2, x + 2, y + 2, x + 1, y + 2)) entry |= _lod_split_bottom;
  if (edge_is_bent(x, y, x, y + 2, x, y + 1)) entry |= _lod_split_left;
  if (edge_is_bent(x + 1, y + 2, x + 1, y, x + 1, y + 1) || edge_is_bent(x, y + 1, x + 2, y + 1, x + 1, y + 1)) {
    entry |= _lod_split_edges;
  }

  struct block_cell {
    int32_t dx, dy;
    uint16_t outer_edges;
    uint16_t ground_bit;
    uint16_t odd_media_bit, even_media_bit;
  };
  static constexpr block_cell cells[4] = {
      {0, 0, _lod_split_top | _lod_split_left, _lod_top_left_ground, _lod_top_left_media_odd,
       _lod_top_left_media_even},
      {1, 0, _lod_split_top | _lod_split_right, _lod_top_right_ground, _lod_top_right_media_odd,
       _lod_top_right_media_even},
      {1, 1, _lod_split_right | _lod_split_bottom, _lod_bottom_right_ground, _lod_bottom_right_media_odd,
       _lod_bottom_right_media_even},
      {0, 1, _lod_split_bottom | _lod_split_left, _lod_bottom_left_ground, _lod_bottom_left_media_odd,
       _lod_bottom_left_media_even},
  };
  for (const block_cell& c : cells) {
    const mesh_cell* cell = mesh_get_cell(x + c.dx, y + c.dy);
    if (cell->model_list != NONE) entry |= c.outer_edges;
    if (cell->terrain_and_flags & _cell_no_ground) {
      entry |= c.outer_edges;
    } else {
      entry |= c.ground_bit;
    }
    if (cell->terrain_and_flags & _cell_media_on_odd_triangle) entry |= c.odd_media_bit;
    if (cell->terrain_and_flags & _cell_media_on_even_triangle) entry |= c.even_media_bit;
  }
  // Media along an edge splits it.
  if (entry & (_lod_top_left_media_odd | _lod_top_right_media_even)) entry |= _lod_split_top;
  if (entry & (_lod_top_right_media_odd | _lod_bottom_right_media_odd)) entry |= _lod_split_right;
  if (entry & (_lod_bottom_right_media_even | _lod_bottom_left_media_odd)) entry |= _lod_split_bottom;
  if (entry & (_lod_bottom_left_media_even | _lod_top_left_media_even)) entry |= _lod_split_left;
  // A block entirely in media with ground everywhere is drawn whole.
  if ((entry & 0xFFF0) == 0xFFF0) entry &= uint16_t(~_lod_split_edges);
  return entry;
}

void mesh_update_lod(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (!lod_allocated()) return;
  const int32_t blocks_across = mesh_globals.cells_across / 2, blocks_down = mesh_globals.cells_down / 2;
  auto range = [](int32_t a, int32_t b, int32_t blocks, int32_t& first, int32_t& last) {
    int32_t low = std::min(a, b), high = std::max(a, b);
    first = std::clamp(low <= 1 ? 0 : (low >> 1) - 1, 0, blocks - 1);
    last = std::clamp((high >> 1) + 1, 0, blocks - 1);
  };
  int32_t bx0, bx1, by0, by1;
  range(x0, x1, blocks_across, bx0, bx1);
  range(y0, y1, blocks_down, by0, by1);
  uint16_t* lod = mesh_globals.lod;
  for (int32_t j = by0; j <= by1; ++j) {
    for (int32_t i = bx0; i <= bx1; ++i) lod[i + j * blocks_across] = mesh_compute_lod_entry(i, j);
  }
  // Neighbouring blocks must agree on their shared edges, or the surface cracks.
  for (int32_t j = by0; j <= by1; ++j) {
    for (int32_t i = bx0; i <= bx1; ++i) {
      uint16_t& entry = lod[i + j * blocks_across];
      if (j > 0 && (lod[i + (j - 1) * blocks_across] & _lod_split_bottom)) entry |= _lod_split_top;
      if (i + 1 < blocks_across && (lod[i + 1 + j * blocks_across] & _lod_split_left)) entry |= _lod_split_right;
      if (j + 1 < blocks_down && (lod[i + (j + 1) * blocks_across] & _lod_split_top)) entry |= _lod_split_bottom;
      if (i > 0 && (lod[i - 1 + j * blocks_across] & _lod_split_right)) entry |= _lod_split_left;
    }
  }
}

bool mesh_recompute_lod() {
  if (!mesh_is_open() || mesh_globals.header == nullptr) return false;
  int32_t size = 2 * mesh_lod_entry_count();
  void* lod = resize_block(mesh_globals.lod, size_t(size));
  if (lod == nullptr && size > 0) {
    // Without a buffer the header must not promise LOD bytes.
    resize_block(mesh_globals.lod, 0);
    mesh_globals.lod = nullptr;
    mesh_globals.header->lod_size = 0;
    POST_ERROR(error_out_of_memory, "couldn't reallocate #%d bytes for mesh LOD data.", size);
    return false;
  }
  mesh_globals.lod = static_cast<uint16_t*>(lod);
  mesh_globals.header->lod_size = size;
  mesh_update_lod(0, 0, mesh_globals.cells_across - 1, mesh_globals.cells_down - 1);
  return true;
}

bool mesh_walk_line(int32_t from_x, int32_t from_y, int32_t to_x, int32_t to_y, mesh_cell_test test,
                    void* context) {
  if (!mesh_is_open() || test == nullptr) return false;
  auto visit = [&](int32_t cx, int32_t cy) {
    if (cx < 0 || cy < 0 || cx >= mesh_globals.cells_across || cy >= mesh_globals.cells_down) return false;
    return test(cx, cy, context);
  };
  int32_t cx = from_x >> WORLD_FRACTIONAL_BITS, cy = from_y >> WORLD_FRACTIONAL_BITS;
  const int32_t end_x = to_x >> WORLD_FRACTIONAL_BITS, end_y = to_y >> WORLD_FRACTIONAL_BITS;
  const int32_t step_x = end_x > cx ? 1 : -1, step_y = end_y > cy ? 1 : -1;
  const int64_t dx = std::abs(int64_t(to_x) - from_x), dy = std::abs(int64_t(to_y) - from_y);
  if (visit(cx, cy)) return true;
  // Walk the cells in the order the segment enters them: compare how far along the segment the
  // next column boundary and the next row boundary lie (cross-multiplied, so exact). Through a
  // corner the column is crossed first, so the cell beside the corner is tested too.
  while (cx != end_x || cy != end_y) {
    bool cross_column;
    if (cx == end_x) {
      cross_column = false;
    } else if (cy == end_y) {
      cross_column = true;
    } else {
      int64_t to_column = step_x > 0 ? int64_t(cx + 1) * WORLD_ONE - from_x : from_x - int64_t(cx) * WORLD_ONE;
      int64_t to_row = step_y > 0 ? int64_t(cy + 1) * WORLD_ONE - from_y : from_y - int64_t(cy) * WORLD_ONE;
      cross_column = to_column * dy <= to_row * dx;
    }
    if (cross_column) {
      cx += step_x;
    } else {
      cy += step_y;
    }
    if (visit(cx, cy)) return true;
  }
  return false;
}

const mesh_cell* mesh_vertex_clamped(int32_t x, int32_t y) {
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  x = x < 0 ? 0 : (x >= across ? across - 1 : x);
  y = y < 0 ? 0 : (y >= down ? down - 1 : y);
  return mesh_get_cell(x, y);
}

uint8_t mesh_triangle_normal_index_clamped(int32_t cell_x, int32_t cell_y, int16_t triangle) {
  double corner[3][3];
  for (int c = 0; c < 3; ++c) {
    const int32_t dx = mesh_triangle_corner_steps[triangle][c][0], dy = mesh_triangle_corner_steps[triangle][c][1];
    const mesh_cell& vertex = *mesh_vertex_clamped(cell_x + dx, cell_y + dy);
    corner[c][0] = dx * double(WORLD_ONE);
    corner[c][1] = dy * double(WORLD_ONE);
    corner[c][2] = cell_has_media(vertex) ? vertex.media_height : vertex.ground_height;
  }
  double e1[3], e2[3];
  for (int k = 0; k < 3; ++k) {
    e1[k] = corner[1][k] - corner[0][k];
    e2[k] = corner[2][k] - corner[0][k];
  }
  double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
  if (n[2] < 0) {
    for (double& v : n) v = -v;
  }
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  return nearest_normal_index(int32_t(n[0] / length * 16384.0), int32_t(n[1] / length * 16384.0),
                              int32_t(n[2] / length * 16384.0));
}

// Clips an inclusive rectangle to the grid; false when nothing is left.
bool mesh_clip_cell_rectangle(int32_t& x0, int32_t& y0, int32_t& x1, int32_t& y1) {
  if (!mesh_is_open()) return false;
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, mesh_globals.cells_across - 1);
  y1 = std::min(y1, mesh_globals.cells_down - 1);
  return x0 <= x1 && y0 <= y1;
}
