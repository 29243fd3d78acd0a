#include "view/render.h"

#include "cseries/hash.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cseries/error_manager.h"
#include "input/observer.h"
#include "map/mesh.h"
#include "render/screen_messages.h"
#include "tools/map_session.h"
#include "view/render_private.h"
#include "world/world.h"

render_globals* render = nullptr;

namespace {

struct {
  uint8_t* base;
  size_t used;
  size_t limit = RENDER_MEMORY_POOL_SIZE;
  bool overflowed;  // this frame
} pool;

const render_overlay_procedures* overlay = nullptr;
const render_connector_procedures* connectors = nullptr;

constexpr float kAngleToRadians = 6.28318530718f / 65536.0f;

int16_t signed_angle(int32_t angle) { return int16_t(uint16_t(angle & 0xFFFF)); }

// Sky above the horizon, haze below it where no ground was drawn.
void clear_sky(uint16_t* pixels, const render_camera& camera) {
  const float pitch = float(signed_angle(camera.pitch)) * kAngleToRadians;
  const float horizon = RENDER_CENTRE_Y + RENDER_FOCAL * std::tan(std::clamp(pitch, -1.5f, 1.5f));
  for (int32_t y = 0; y < RENDER_HEIGHT; ++y) {
    uint16_t color;
    const float above = horizon - float(y);
    if (above > 0) {
      const float t = std::clamp(above / 260.0f, 0.0f, 1.0f);  // 0 at the horizon
      color = render_rgb(int(200 - 120 * t), int(222 - 90 * t), int(240 - 40 * t));
    } else {
      const float t = std::clamp(-above / 200.0f, 0.0f, 1.0f);
      color = render_rgb(int(150 - 70 * t), int(160 - 70 * t), int(165 - 65 * t));
    }
    uint16_t* row = pixels + y * RENDER_WIDTH;
    std::fill(row, row + RENDER_WIDTH, color);
  }
  std::fill(render->depth, render->depth + RENDER_PIXELS, 0.0f);
}

// A map opened or closed: the last frame showed another map, so the pick query has nothing to
// answer from until the next frame.
void forget_last_frame() {
  if (!render) return;
  render->frame_complete = false;
  render->window = {0, 0, 0, 0};
  render->sprite_count = render->model_count = 0;
}
const map_session_client render_session_client = {"render", forget_last_frame, nullptr, forget_last_frame};

}  // namespace

// ---- life ----

bool render_initialize() {
  if (render) return true;
  render = static_cast<render_globals*>(std::calloc(1, sizeof(render_globals)));
  if (!render) {
    POST_ERROR(error_out_of_memory, "unable to allocate %d bytes for render globals", int(sizeof(render_globals)));
    return false;
  }
  pool.base = static_cast<uint8_t*>(std::calloc(1, RENDER_MEMORY_POOL_SIZE));
  if (!pool.base) {
    std::free(render);
    render = nullptr;
    POST_ERROR(error_out_of_memory, "unable to allocate %d bytes for render_memory_pool", int(RENDER_MEMORY_POOL_SIZE));
    return false;
  }
  render->landscape_collection = NONE;
  for (render_palette_entry& entry : render->palettes) entry.collection = NONE;
  render_reset_view_settings();
  map_session_register(&render_session_client);
  return true;
}

void render_pool_set_limit(size_t bytes) { pool.limit = std::min<size_t>(bytes, RENDER_MEMORY_POOL_SIZE); }

bool render_camera_project(const render_camera& camera, const world_point3d& point, float* x, float* y,
                           float* depth) {
  const render_point p = render_to_camera(render_make_basis(camera), float(point.x), float(point.y), float(point.z));
  if (p.z < RENDER_NEAR) return false;
  const render_screen_point s = render_project(p);
  if (x) *x = s.x;
  if (y) *y = s.y;
  if (depth) *depth = p.z;
  return true;
}

void render_dispose() {
  map_session_unregister(&render_session_client);
  std::free(pool.base);
  pool = {};
  std::free(render);
  render = nullptr;
}

render_view_settings* render_get_view_settings() { return render ? &render->settings : nullptr; }

void render_reset_view_settings() {
  if (!render) return;
  render->settings = {_wireframe_none, 0, 1, 1, 1, 1};
}

// ---- the pool ----

void render_pool_reset() {
  pool.used = 0;
  pool.overflowed = false;
}

void* render_pool_allocate(size_t bytes) {
  const size_t start = (pool.used + 15) & ~size_t(15);
  if (!pool.base || start > pool.limit || bytes > pool.limit - start) {
    if (!pool.overflowed) log_note(SOURCE_MODULE_NAME, __LINE__, "Out of render memory!");
    pool.overflowed = true;
    return nullptr;
  }
  pool.used = start + bytes;
  if (render) render->statistics.pool_high_water = std::max(render->statistics.pool_high_water, pool.used);
  return pool.base + start;
}

// ---- geometry ----

render_basis render_make_basis(const render_camera& camera) {
  const float facing = float(camera.facing & 0xFFFF) * kAngleToRadians;
  const float pitch = float(signed_angle(camera.pitch)) * kAngleToRadians;
  const float cf = std::cos(facing), sf = std::sin(facing), cp = std::cos(pitch), sp = std::sin(pitch);
  render_basis basis;
  basis.position[0] = float(camera.position.x);
  basis.position[1] = float(camera.position.y);
  basis.position[2] = float(camera.position.z);
  const float forward[3] = {cf * cp, sf * cp, sp};
  // Right of the facing with z up: world x grows to the left of a camera facing +y, as the
  // overhead view shows it.
  const float right[3] = {sf, -cf, 0.0f};
  const float up[3] = {-cf * sp, -sf * sp, cp};
  std::memcpy(basis.forward, forward, sizeof(forward));
  std::memcpy(basis.right, right, sizeof(right));
  std::memcpy(basis.up, up, sizeof(up));
  return basis;
}

render_point render_to_camera(const render_basis& basis, float x, float y, float z) {
  const float dx = x - basis.position[0], dy = y - basis.position[1], dz = z - basis.position[2];
  return {dx * basis.right[0] + dy * basis.right[1] + dz * basis.right[2],
          dx * basis.up[0] + dy * basis.up[1] + dz * basis.up[2],
          dx * basis.forward[0] + dy * basis.forward[1] + dz * basis.forward[2], 0.0f, 0.0f};
}

render_screen_point render_project(const render_point& point) {
  const float iz = 1.0f / point.z;
  return {RENDER_CENTRE_X + RENDER_FOCAL * point.x * iz, RENDER_CENTRE_Y - RENDER_FOCAL * point.y * iz, iz, point.u,
          point.v};
}

// ---- frames ----

render_camera render_observer_camera(float tick_fraction) {
  observer_camera camera{};
  observer_get_camera(&camera, tick_fraction);
  return {camera.position, camera.facing, camera.pitch};
}

bool render_terrain_window(const render_camera& camera, render_cell_window* window) {
  if (!mesh_is_open() || !window) return false;
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const float facing = float(camera.facing & 0xFFFF) * kAngleToRadians;
  const float ahead = float(RENDER_TERRAIN_WINDOW_AHEAD * RENDER_CELL);
  const int32_t centre_x = int32_t(std::floor((float(camera.position.x) + ahead * std::cos(facing)) / RENDER_CELL));
  const int32_t centre_y = int32_t(std::floor((float(camera.position.y) + ahead * std::sin(facing)) / RENDER_CELL));
  auto place = [](int32_t centre, int32_t cells, int32_t* first, int32_t* size) {
    *size = std::min<int32_t>(RENDER_TERRAIN_WINDOW_CELLS, cells);
    int32_t start = (centre - RENDER_TERRAIN_WINDOW_CELLS / 2) & ~1;
    start = std::clamp(start, 0, std::max(0, cells - *size) & ~1);
    *first = start;
    if (*first + *size > cells) *size = cells - *first;
  };
  place(centre_x, across, &window->x0, &window->width);
  place(centre_y, down, &window->y0, &window->height);
  return window->width > 0 && window->height > 0;
}

bool render_frame(const render_camera& camera, uint16_t* pixels) {
  if (!render || !render_initialize()) return false;
  if (!pixels) pixels = screen_get_pixels();
  if (!pixels) return false;
  render_pool_reset();
  render_frame_statistics& statistics = render->statistics;
  const size_t high_water = statistics.pool_high_water;
  statistics = {};
  statistics.pool_high_water = high_water;
  render->frame_complete = false;
  ++render->frame_number;
  render->camera = camera;
  render->basis = render_make_basis(camera);
  render->sprite_count = 0;
  render->model_count = 0;
  render->animated = false;
  render_view view{pixels, &render->camera, &render->basis};

  clear_sky(pixels, camera);
  if (overlay && overlay->before_scene) overlay->before_scene(&view);
  if (mesh_is_open() && render_terrain_window(camera, &render->window)) {
    render_pass_terrain(&view);
    if (render->settings.show_models) render_pass_models(&view);
    if (render->settings.show_objects) render_pass_sprites(&view);
    if (connectors) render_pass_connectors(&view, connectors);
    if (render->settings.show_media) render_pass_media(&view);
    render_pass_wireframe(&view);
  } else {
    render->window = {0, 0, 0, 0};
  }
  if (overlay && overlay->after_scene) overlay->after_scene(&view);
  statistics.pool_bytes_used = pool.used;
  statistics.pool_overflowed = pool.overflowed;
  render_pass_text(&view);
  render->frame_complete = !pool.overflowed;
  return render->frame_complete;
}

const render_frame_statistics* render_get_statistics() { return render ? &render->statistics : nullptr; }
void render_set_statistics_shown(bool shown) {
  if (render) render->statistics_shown = shown;
}

void render_set_overlay_procedures(const render_overlay_procedures* procedures) { overlay = procedures; }
void render_set_connector_procedures(const render_connector_procedures* procedures) { connectors = procedures; }
const render_overlay_procedures* render_overlay() { return overlay; }

uint64_t render_hash_bytes(uint64_t hash, const void* bytes, size_t size) { return hash_bytes_64(hash, bytes, size); }

void render_invalidate() {
  if (render) ++render->invalidations;
}

uint64_t render_scene_stamp(const render_camera& camera) {
  uint64_t hash = 0xCBF29CE484222325ull;
  hash = render_hash_bytes(hash, &camera, sizeof(camera));
  if (!render) return hash;
  hash = render_hash_bytes(hash, &render->settings, sizeof(render->settings));
  hash = render_hash_bytes(hash, &render->invalidations, sizeof(render->invalidations));
  const bool open = mesh_is_open();
  hash = render_hash_bytes(hash, &open, sizeof(open));
  if (open) {
    const uint32_t generation = mesh_cells_generation();
    hash = render_hash_bytes(hash, &generation, sizeof(generation));
    hash = render_hash_bytes(hash, mesh_markers(), sizeof(marker_data) * size_t(std::max(0, mesh_marker_count())));
    for (int32_t i = 0; i < MAXIMUM_OBJECTS_PER_MAP; ++i)
      if (const world_object* object = object_get(i)) hash = render_hash_bytes(hash, object, sizeof(*object));
    for (int32_t i = 0; i < MAXIMUM_MODELS_PER_MAP; ++i)
      if (const world_model* model = model_get(i)) hash = render_hash_bytes(hash, model, sizeof(*model));
    for (int32_t i = 0; i < MAXIMUM_MODEL_ANIMATIONS_PER_MAP; ++i)
      if (const world_model_animation* animation = model_animation_get(i))
        hash = render_hash_bytes(hash, animation, sizeof(*animation));
    if (render->animated) {
      const int32_t time = world_time();
      hash = render_hash_bytes(hash, &time, sizeof(time));
    }
  }
  uint32_t message = 0;
  screen_message_current(screen_message_clock(), &message);
  hash = render_hash_bytes(hash, &message, sizeof(message));
  if (overlay && overlay->stamp) {
    const uint64_t stamp = overlay->stamp();
    hash = render_hash_bytes(hash, &stamp, sizeof(stamp));
  }
  if (connectors && connectors->stamp) {
    const uint64_t stamp = connectors->stamp();
    hash = render_hash_bytes(hash, &stamp, sizeof(stamp));
  }
  hash = render_hash_bytes(hash, &render->statistics_shown, sizeof(render->statistics_shown));
  return hash;
}

// ---- overlays' drawing ----

const render_camera* render_view_camera(const render_view* view) { return view ? view->camera : nullptr; }

bool render_view_project(const render_view* view, const world_point3d& point, int32_t* x, int32_t* y, float* depth) {
  if (!view) return false;
  const render_point p = render_to_camera(*view->basis, float(point.x), float(point.y), float(point.z));
  if (p.z < RENDER_NEAR) return false;
  const render_screen_point s = render_project(p);
  if (s.x < -RENDER_WIDTH || s.x > 2 * RENDER_WIDTH || s.y < -RENDER_HEIGHT || s.y > 2 * RENDER_HEIGHT) return false;
  if (x) *x = int32_t(std::floor(s.x));
  if (y) *y = int32_t(std::floor(s.y));
  if (depth) *depth = p.z;
  return true;
}

void render_view_draw_line(render_view* view, const world_point3d& a, const world_point3d& b, uint16_t color,
                           bool always_on_top) {
  if (!view) return;
  render_line_3d(view->pixels, render_to_camera(*view->basis, float(a.x), float(a.y), float(a.z)),
                 render_to_camera(*view->basis, float(b.x), float(b.y), float(b.z)), color, always_on_top);
}

void render_view_draw_screen_line(render_view* view, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t color,
                                  bool dashed) {
  if (view) render_line_2d(view->pixels, x0, y0, x1, y1, color, dashed);
}

void render_view_fill_rect(render_view* view, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t color) {
  if (view) render_fill_rect(view->pixels, x0, y0, x1, y1, color);
}

void render_view_draw_text(render_view* view, int32_t x, int32_t y, const char* text, uint16_t color) {
  if (view && text) render_text(view->pixels, x, y, text, color);
}

// ---- half resolution ----

void render_set_half_resolution(bool half) {
  if (render) render->half_resolution = half;
}
bool render_half_resolution() { return render && render->half_resolution; }
void render_client_to_view(int32_t client_x, int32_t client_y, int32_t* x, int32_t* y) {
  const bool half = render_half_resolution();
  if (x) *x = half ? client_x / 2 : client_x;
  if (y) *y = half ? client_y / 2 : client_y;
}
