// The software renderer of the visual view: one frame of the open map into the screen's 640 x 416
// 5-5-5 buffer, seen from the observer's camera (or a camera given explicitly), and the pick query
// the tools ask what lies under the cursor. All per-frame memory comes from one fixed pool handed
// out by a bump allocator that starts again with every frame; a frame that would need more skips
// the rest of the pass it is in and says so once in the log.
//
// Passes, in order: sky and depth clear; the tool's overlay before the scene; terrain cells front to
// back; model boxes; sprites of scenery, units, projectiles and placeholders; connector bands;
// translucent media; the wireframe and the selected vertices; the tool's overlay after the scene;
// on-screen messages and the statistics line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cseries/value_types.h"

inline constexpr int32_t RENDER_MEMORY_POOL_SIZE = 0x200000;
inline constexpr int32_t RENDER_TERRAIN_WINDOW_CELLS = 64;  // the square of cells a frame considers
inline constexpr int32_t RENDER_TERRAIN_WINDOW_AHEAD = 31;  // cells from the camera to the window's centre
inline constexpr int32_t RENDER_MAXIMUM_CONNECTOR_BANDS = 1024;

enum render_wireframe_mode : int16_t {
  _wireframe_none = -1,
  _wireframe_triangles = 0,
  _wireframe_cells = 1,
  _wireframe_submeshes = 2,
  _wireframe_terrain = 3,     // terrain-filled triangles
  _wireframe_reflection = 7,  // reflection-filled triangles
};

// The view settings record the tools set and the renderer reads every frame.
struct render_view_settings {
  int16_t wireframe_mode;  // render_wireframe_mode
  int16_t unused;
  int32_t show_media;
  int32_t show_objects;
  int32_t show_models;
  int32_t reduced_lod;
};
static_assert(sizeof(render_view_settings) == 20);

// A camera: where it stands (world units), where it faces (65536 to a turn, 0 along +x, a quarter
// turn along +y) and its pitch (65536 to a turn, negative looks down).
struct render_camera {
  world_point3d position;
  int32_t facing;
  int32_t pitch;
};

// ---- life ----

// Allocates the render globals and the memory pool (engine initialisation; a failure is fatal,
// code 8). Idempotent.
bool render_initialize();
void render_dispose();

render_view_settings* render_get_view_settings();
// The settings every tool change starts from: no wireframe, media, objects, models and reduced LOD
// on.
void render_reset_view_settings();

// ---- frames ----

// The observer's camera.
render_camera render_observer_camera(float tick_fraction);

// Draws one frame of the open map (the sky only when none is open) into the screen's buffer, or
// into `pixels` (SCREEN_WIDTH x SCREEN_HEIGHT) when given. Answers false when the frame was not
// complete (no screen, pool overflow).
bool render_frame(const render_camera& camera, uint16_t* pixels = nullptr);

// A fingerprint of everything a frame shows: camera, settings, cells, markers, objects, models,
// the on-screen message, the overlay's own stamp. The shell draws a new frame only when it changes.
uint64_t render_scene_stamp(const render_camera& camera);
// Something the stamp cannot see changed (a command ran, a texture was imported): the next stamp
// differs.
void render_invalidate();

// The terrain window of a camera: first cell column and row and its size (at most 64 x 64, the map's
// own size when the map is smaller). False when no map is open.
struct render_cell_window {
  int32_t x0, y0, width, height;
};
bool render_terrain_window(const render_camera& camera, render_cell_window* window);

// Where a world point shows in a frame seen by the camera: buffer coordinates and depth; false
// behind the near plane.
bool render_camera_project(const render_camera& camera, const world_point3d& point, float* x, float* y,
                           float* depth);

// Tests: pretends the pool holds only this many bytes (RENDER_MEMORY_POOL_SIZE restores it).
void render_pool_set_limit(size_t bytes);

// What the last frame did.
struct render_frame_statistics {
  int32_t triangles_drawn;
  int32_t triangles_considered;
  int32_t sprites_drawn;
  int32_t models_drawn;
  size_t pool_bytes_used;        // of this frame
  size_t pool_high_water;        // since initialisation
  bool pool_overflowed;          // this frame
};
const render_frame_statistics* render_get_statistics();
// Draw the statistics line under the on-screen messages.
void render_set_statistics_shown(bool shown);

// ---- hooks ----

// The current tool's overlay: `before_scene` runs after the sky is cleared (to mark what is drawn
// highlighted), `after_scene` after the wireframe (outlines, brushes, previews); `marker_state`
// tells which markers are selected (1) or hovered (2); `stamp` changes whenever the overlay would
// look different. Any procedure may be none.
struct render_view;
enum render_marker_state_bits : uint16_t { _render_marker_selected = 1, _render_marker_hovered = 2 };
struct render_overlay_procedures {
  void (*before_scene)(render_view* view);
  void (*after_scene)(render_view* view);
  uint16_t (*marker_state)(int32_t marker_index);
  uint64_t (*stamp)();
};
// None removes it. The table must outlive its registration.
void render_set_overlay_procedures(const render_overlay_procedures* procedures);

// Connector bands: one band between two points, drawn as a ribbon `thickness` world units high.
struct render_connector_band {
  world_point3d start, end;
  int32_t thickness;
  uint16_t color;  // 5-5-5
  uint16_t unused;
};
// `count` answers how many bands exist now; `get` fills one (false to skip it).
struct render_connector_procedures {
  int32_t (*count)();
  bool (*get)(int32_t index, render_connector_band* band);
  uint64_t (*stamp)();
};
void render_set_connector_procedures(const render_connector_procedures* procedures);

// ---- drawing for overlays (valid inside the overlay procedures only) ----

// The screen point of a world point; false behind the near plane or off the buffer by more than a
// screen.
bool render_view_project(const render_view* view, const world_point3d& point, int32_t* x, int32_t* y,
                         float* depth);
// A line between two world points, hidden where the scene is nearer (unless always_on_top).
void render_view_draw_line(render_view* view, const world_point3d& a, const world_point3d& b, uint16_t color,
                           bool always_on_top);
// A line in buffer coordinates, clipped.
void render_view_draw_screen_line(render_view* view, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t color,
                                  bool dashed);
void render_view_fill_rect(render_view* view, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t color);
// Text in the small built-in font (6 x 9 pixels to a character) with a dark shadow.
void render_view_draw_text(render_view* view, int32_t x, int32_t y, const char* text, uint16_t color);
const render_camera* render_view_camera(const render_view* view);

// ---- the pick query ----

enum render_pick_kind : uint16_t {
  _pick_vertex = 16,   // a = column, b = row
  _pick_ground = 32,   // a, b = world x, y
  _pick_model = 128,   // a = model index (b = 0) or model animation (b = 1); point = its position
  _pick_marker = 256,  // a = marker index
};

struct render_pick_hit {
  uint16_t kind;  // render_pick_kind
  int16_t unused;
  int32_t a, b;
  world_point3d point;  // in the world
  float depth;          // from the camera
};

// A point (x0, y0 with x1 = x0, y1 = y0 given) or a rectangle in view-buffer coordinates, with the
// kinds wanted. Answers the number of hits, nearest first, at most `capacity` written; from the last
// completed frame. A point outside the buffer gives no hit; a rectangle is clipped to the buffer and
// its corners ordered.
int32_t render_pick_point(int32_t x, int32_t y, uint16_t kinds, render_pick_hit* hits, int32_t capacity);
int32_t render_pick_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t kinds, render_pick_hit* hits,
                              int32_t capacity);

// Client coordinates to view-buffer coordinates (halved while the view renders at half resolution).
void render_set_half_resolution(bool half);
bool render_half_resolution();
void render_client_to_view(int32_t client_x, int32_t client_y, int32_t* x, int32_t* y);
