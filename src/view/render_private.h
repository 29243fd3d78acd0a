// What the renderer's own files share: the render globals (kept from frame to frame: the depth
// buffer, the last frame's camera and what the pick query reads), the memory pool and the
// rasteriser. Only src/view includes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/screen.h"
#include "view/render.h"
#include "world/models.h"
#include "world/objects.h"

inline constexpr int32_t RENDER_WIDTH = SCREEN_WIDTH;
inline constexpr int32_t RENDER_HEIGHT = SCREEN_HEIGHT;
inline constexpr int32_t RENDER_PIXELS = RENDER_WIDTH * RENDER_HEIGHT;
inline constexpr int32_t RENDER_GRID = RENDER_TERRAIN_WINDOW_CELLS + 1;  // vertices along a side of the window
inline constexpr int32_t RENDER_MAXIMUM_PICK_MODELS = int32_t(MAXIMUM_MODELS_PER_MAP) + MAXIMUM_MODEL_ANIMATIONS_PER_MAP;
inline constexpr int32_t RENDER_PALETTE_CACHE_SIZE = 48;
inline constexpr int32_t RENDER_CELL = 512;  // world units to a cell edge
inline constexpr float RENDER_CELL_F = 512.0f;

inline constexpr float RENDER_FOCAL = 440.0f;       // pixels: about 72 degrees across
inline constexpr float RENDER_NEAR = 64.0f;         // world units
inline constexpr float RENDER_CENTRE_X = float(RENDER_WIDTH) * 0.5f;
inline constexpr float RENDER_CENTRE_Y = float(RENDER_HEIGHT) * 0.5f;

// The camera turned into a basis: camera space has x right, y up, z ahead.
struct render_basis {
  float position[3];
  float right[3], up[3], forward[3];
};

// A point in camera space with what is interpolated over a triangle.
struct render_point {
  float x, y, z;  // camera space
  float u, v;     // texture coordinates (texels of the submesh)
};

// A projected point.
struct render_screen_point {
  float x, y;   // buffer coordinates
  float iz;     // 1 / depth
  float u, v;   // texture coordinates
};

// A grid vertex of the terrain window, transformed once a frame.
struct render_grid_vertex {
  float x, y, z;   // camera space
  float sx, sy;    // screen, valid when z >= RENDER_NEAR
};

// What the pick query keeps of a drawn sprite.
struct render_pick_sprite {
  int32_t marker_index;
  int16_t x0, y0, x1, y1;  // buffer rectangle, inclusive
  float depth;
  world_point3d location;
};

struct render_pick_model {
  int32_t index;
  int16_t animation;  // 0 model, 1 model animation
  int16_t unused;
  world_box box;
};

struct render_palette_entry {
  int16_t collection;
  int16_t team;
  int16_t shading_mode;
  int16_t unused;
  uint64_t colors_stamp;  // of the colour table it was made from
  uint32_t checked_frame;  // the frame that last compared the stamp
  uint32_t last_used;
  uint16_t pixels[256];
};

struct render_globals {
  render_view_settings settings;
  float depth[RENDER_PIXELS];  // 1 / depth, 0 = nothing drawn
  // The last frame, for the pick query.
  bool frame_complete;
  render_camera camera;
  render_basis basis;
  render_cell_window window;
  render_grid_vertex grid[RENDER_GRID * RENDER_GRID];  // of the window, row-major
  int32_t sprite_count;
  render_pick_sprite sprites[MAXIMUM_OBJECTS_PER_MAP];
  int32_t model_count;
  render_pick_model models[RENDER_MAXIMUM_PICK_MODELS];
  render_frame_statistics statistics;
  bool statistics_shown;
  bool half_resolution;
  bool animated;  // the last frame showed a sprite with more than one frame
  uint32_t invalidations;
  // Sprite and landscape colours, made on first use.
  uint32_t palette_clock;
  uint32_t frame_number;
  render_palette_entry palettes[RENDER_PALETTE_CACHE_SIZE];
  int16_t landscape_collection;
  uint64_t landscape_stamp;
  uint16_t landscape_shades[64 * 256];
};

extern render_globals* render;

// ---- the pool ----

inline constexpr size_t RENDER_SPRITE_ITEM_BOUND = 80;  // bytes of one sprite of the draw list, at most

// Size and alignment of everything one frame takes from the pool at worst: the checked sum below
// keeps the pool's fixed size honest.
inline constexpr size_t render_pool_worst_frame() {
  return sizeof(int16_t) * MAXIMUM_OBJECTS_PER_MAP             // object -> marker
         + RENDER_SPRITE_ITEM_BOUND * (MAXIMUM_OBJECTS_PER_MAP + 1)  // sprite draw list
         + sizeof(int32_t) * RENDER_TERRAIN_WINDOW_CELLS * RENDER_TERRAIN_WINDOW_CELLS  // cell order
         + sizeof(render_connector_band) * RENDER_MAXIMUM_CONNECTOR_BANDS
         + 64 * 16;                                             // alignment slack
}
static_assert(render_pool_worst_frame() <= RENDER_MEMORY_POOL_SIZE, "the worst frame must fit the render pool");

void render_pool_reset();
// Aligned bytes from the pool, none (and "Out of render memory!" logged once per frame) when full.
void* render_pool_allocate(size_t bytes);
template <class T>
T* render_pool_array(size_t count) {
  return static_cast<T*>(render_pool_allocate(sizeof(T) * count));
}

// ---- geometry ----

render_basis render_make_basis(const render_camera& camera);
render_point render_to_camera(const render_basis& basis, float x, float y, float z);
render_screen_point render_project(const render_point& point);

// ---- the frame being drawn ----

struct render_view {
  uint16_t* pixels;
  const render_camera* camera;
  const render_basis* basis;
};

// ---- the rasteriser (buffer coordinates, clipped to the buffer) ----

struct render_texture {
  const uint8_t* colors;   // 256 x 256 indexes
  const uint8_t* shadows;  // 256 x 256 light levels (0xFF fully lit)
  const uint16_t* shades;  // 64 levels x 256 pixels
};

// Each takes a triangle in camera space, clips it at the near plane and fills it.
void render_triangle_textured(uint16_t* pixels, const render_point& a, const render_point& b, const render_point& c,
                              const render_texture& texture, int32_t* drawn);
void render_triangle_flat(uint16_t* pixels, const render_point& a, const render_point& b, const render_point& c,
                          uint16_t color, bool write_depth);
// Half the colour over the scene where the triangle is not hidden; depth left alone.
void render_triangle_blend(uint16_t* pixels, const render_point& a, const render_point& b, const render_point& c,
                           uint16_t color);

// A line between camera-space points, depth-tested with a small lift toward the camera unless
// always_on_top.
void render_line_3d(uint16_t* pixels, const render_point& a, const render_point& b, uint16_t color,
                    bool always_on_top, bool blend = false);
void render_line_2d(uint16_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t color, bool dashed);
void render_fill_rect(uint16_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t color);
void render_text(uint16_t* pixels, int32_t x, int32_t y, const char* text, uint16_t color);

inline uint16_t render_blend_half(uint16_t a, uint16_t b) {
  return uint16_t(((a & 0x7BDE) >> 1) + ((b & 0x7BDE) >> 1));
}
constexpr uint16_t render_rgb(int r, int g, int b) {  // 0..255 each
  return uint16_t(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
}

// ---- the passes ----

void render_pass_terrain(render_view* view);
void render_pass_models(render_view* view);
void render_pass_sprites(render_view* view);
void render_pass_connectors(render_view* view, const render_connector_procedures* procedures);
void render_pass_media(render_view* view);
void render_pass_wireframe(render_view* view);
void render_pass_text(render_view* view);

// The 5-5-5 colours of a sprite collection for a team (NONE for none) and shading mode.
const uint16_t* render_sprite_palette(int16_t collection, int16_t team, int16_t shading_mode);
// The landscape shading table of the open map's collection; none without one.
const uint16_t* render_landscape_shades();
const render_overlay_procedures* render_overlay();
uint64_t render_hash_bytes(uint64_t hash, const void* bytes, size_t size);
