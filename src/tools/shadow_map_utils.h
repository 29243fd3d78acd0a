// The arithmetic of the shadow maps: the map's `meli` lighting checked and normalised, the
// directional term, the sample window of a submesh with its cached heights and normals, the four
// modes (None, Basic Lighting, Add Mesh Shading, Add Model Shading) and the Gaussian blur. All of
// it is integer arithmetic with 16 fractional bits ("/" truncates, ">>" floors) in 64 bits where a
// product can leave 32, apart from the blur weights, computed once in floating point.
//
// Nothing here changes the map: results go into buffers the caller owns (the shadow editor copies
// them into the collection inside one journal step).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "map/mesh_geometry.h"
#include "world/models.h"

enum shadow_mode : int16_t {
  _shadow_mode_none = 0,        // ambient only
  _shadow_mode_basic_lighting,  // the directional term
  _shadow_mode_mesh_shading,    // and terrain that hides the light
  _shadow_mode_model_shading,   // and the models standing on the map
  NUMBER_OF_SHADOW_MODES
};

enum {
  SHADOW_MAP_SIZE = 256,  // pixels a side of a submesh's shadow map
  // Bounds a lighting record must keep; past them the window and the kernel grow without use.
  SHADOW_MAXIMUM_RAY_STEPS = 4096,
  SHADOW_MAXIMUM_BLUR_RADIUS = 64,
  SHADOW_UNSHADOWED = 255,
};

// The `mesh lighting` record in native order (stored big-endian, 64 bytes).
struct mesh_lighting {
  int32_t light_x, light_y, light_z;  // 16.16, the direction in which the light travels
  int32_t ambient;                    // 16.16, added to every pixel
  int32_t intensity;                  // 16.16, scales the directional term
  int32_t shadow_value;               // 16.16, a model's shadow and cells without ground
  int32_t maximum;                    // 16.16, upper clamp of a pixel's value
  int16_t ray_steps;
  int16_t blur_radius;
  float blur_sigma;
  uint8_t reserved[28];
};
static_assert(sizeof(mesh_lighting) == 64);
static_assert(offsetof(mesh_lighting, ray_steps) == 28);
static_assert(offsetof(mesh_lighting, blur_sigma) == 32);

// The integer square root rounded to the nearest integer.
int64_t shadow_rounded_square_root(int64_t value);

// Checks a record and normalises its light into `lighting`. False (nothing reported) for a light
// vector too short to normalise, ray steps or blur radius outside 0..their maximum, or a blur sigma
// that is not a positive finite number.
bool shadow_lighting_prepare(const mesh_lighting& stored, mesh_lighting* lighting);
// The open map's lighting definition, checked and normalised. False after reporting "mesh
// lighting missing." (Data Missing) when it can't be loaded or is refused by the check.
bool shadow_lighting_load(mesh_lighting* lighting);

// The (2h + 1)^2 blur factors, row by row, each trunc(w / sum x 65536). Empty when they can't be
// allocated (the caller reports).
std::vector<int32_t> shadow_gaussian_factors(int32_t radius, float sigma);

// The directional term of a normal: 65536 facing straight against the light, 0 along it.
int32_t shadow_directional_term(const mesh_lighting& lighting, const mesh_normal& normal);
// ambient + e clamped to 0..maximum, then to a pixel 0..255.
uint8_t shadow_pixel_value(const mesh_lighting& lighting, int64_t e);

// The samples a submesh's computation reads: the submesh's 256 x 256 and, before and after it on
// each axis, what the ray march can reach and the blur radius. Every probe of the march lies inside.
struct shadow_window {
  int32_t before_x, after_x, before_y, after_y;
  int32_t width, height;
};
shadow_window shadow_window_of(const mesh_lighting& lighting);

// The map's terrain as the computation reads it, taken once per command: vertex surface heights
// (the media height where the vertex's cell has media), the two triangles' normal indices (the
// last row and column through the repeated edge vertex) and which cells have no ground.
struct shadow_terrain {
  int32_t cells_across = 0, cells_down = 0;
  std::vector<int16_t> vertex_heights;
  std::vector<uint16_t> normals;  // even triangle's index << 8 | odd's
  std::vector<uint8_t> no_ground;
};
// False when the arrays can't be allocated (the caller reports); needs an open map.
bool shadow_terrain_take(shadow_terrain* terrain);
// The interpolated height and the normal index at a map pixel (clamped into the map).
int32_t shadow_terrain_height(const shadow_terrain& terrain, int32_t pixel_x, int32_t pixel_y);
uint8_t shadow_terrain_normal(const shadow_terrain& terrain, int32_t pixel_x, int32_t pixel_y);

// One thread's working buffers for one submesh at a time.
struct shadow_buffers {
  std::vector<int16_t> heights;
  std::vector<uint8_t> normals;
  std::vector<model_segment_shape> models;  // the model candidates of the submesh
  std::vector<int32_t> columns;  // each window column's cell and position in it
};
// Sized for the window; false when they can't be allocated.
bool shadow_buffers_allocate(shadow_buffers* buffers, const shadow_window& window);

// Computes submesh (column, row) in a mode into out (256 x 256, rows one after the other).
void shadow_compute_submesh(const mesh_lighting& lighting, const shadow_terrain& terrain, const shadow_window& window,
                            int16_t mode, int32_t column, int32_t row, shadow_buffers& buffers, uint8_t* out);

// Blurs the rectangle (x, y, width, height) of an image (image_width x image_height, rows
// image_width apart) into out (rows out_stride apart); sources outside the image are clamped to
// its edge rows and columns. factors holds (2 radius + 1)^2 values.
void shadow_blur_region(const uint8_t* image, int32_t image_width, int32_t image_height, int32_t x, int32_t y,
                        int32_t width, int32_t height, std::span<const int32_t> factors, int32_t radius,
                        uint8_t* out, int32_t out_stride);

// ---- work over many submeshes ----

// Threads that share long work (default: both cores). Results do not depend on it.
void shadow_set_thread_count(int32_t count);
int32_t shadow_thread_count();

// Runs work(item, thread slot) for items 0..count-1 over the threads; the calling thread reports
// progress (done + items so far) between its items. False when the user cancelled: items not
// begun are then not run.
typedef void (*shadow_work_procedure)(int32_t item, int32_t slot, void* context);
bool shadow_run_parallel(int32_t count, shadow_work_procedure work, void* context, int64_t done_before);
