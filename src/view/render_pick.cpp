// The pick query: what lies under a point or inside a rectangle of the last completed frame. Vertices
// and sprites are found where the frame drew them; the ground by following the ray through the
// pixel over the terrain window; models by the ray against their boxes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "view/render_private.h"

namespace {

constexpr float kVertexRadius = 5.0f;  // pixels

bool frame_ready() { return render && render->frame_complete && mesh_is_open() && render->window.width > 0; }

// The ray through the centre of pixel (x, y): origin and a direction whose forward part is 1, so
// that the parameter along it is the depth.
void pixel_ray(float x, float y, float origin[3], float direction[3]) {
  const render_basis& b = render->basis;
  const float right = (x - RENDER_CENTRE_X) / RENDER_FOCAL, up = -(y - RENDER_CENTRE_Y) / RENDER_FOCAL;
  for (int32_t k = 0; k < 3; ++k) {
    origin[k] = b.position[k];
    direction[k] = b.forward[k] + b.right[k] * right + b.up[k] * up;
  }
}

// Whether a point at this depth shows at the pixel (nothing nearer was drawn there).
bool visible_at(int32_t x, int32_t y, float depth) {
  if (x < 0 || y < 0 || x >= RENDER_WIDTH || y >= RENDER_HEIGHT || depth < RENDER_NEAR) return false;
  return (1.0f / depth) * 1.02f >= render->depth[y * RENDER_WIDTH + x];
}

void add_vertices(float x0, float y0, float x1, float y1, std::vector<render_pick_hit>* hits) {
  const render_cell_window& w = render->window;
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  for (int32_t j = 0; j <= w.height; ++j)
    for (int32_t i = 0; i <= w.width; ++i) {
      const int32_t gx = w.x0 + i, gy = w.y0 + j;
      if (gx >= across || gy >= down) continue;
      const render_grid_vertex& g = render->grid[j * RENDER_GRID + i];
      if (g.z < RENDER_NEAR || g.sx < x0 || g.sx > x1 || g.sy < y0 || g.sy > y1) continue;
      if (!visible_at(int32_t(g.sx), int32_t(g.sy), g.z)) continue;
      render_pick_hit hit{};
      hit.kind = _pick_vertex;
      hit.a = gx;
      hit.b = gy;
      hit.point = {gx * RENDER_CELL, gy * RENDER_CELL, mesh_get_cell(gx, gy)->ground_height};
      hit.depth = g.z;
      hits->push_back(hit);
    }
}

// The first point where the ray meets the ground inside the terrain window.
bool ground_under(float x, float y, render_pick_hit* hit) {
  float origin[3], direction[3];
  pixel_ray(x, y, origin, direction);
  const render_cell_window& w = render->window;
  const float bounds[2][2] = {{float(w.x0 * RENDER_CELL), float((w.x0 + w.width) * RENDER_CELL) - 1.0f},
                              {float(w.y0 * RENDER_CELL), float((w.y0 + w.height) * RENDER_CELL) - 1.0f}};
  float t_enter = RENDER_NEAR, t_exit = 4.0f * RENDER_TERRAIN_WINDOW_CELLS * RENDER_CELL;
  for (int32_t k = 0; k < 2; ++k) {
    if (std::fabs(direction[k]) < 1e-6f) {
      if (origin[k] < bounds[k][0] || origin[k] > bounds[k][1]) return false;
      continue;
    }
    float t0 = (bounds[k][0] - origin[k]) / direction[k], t1 = (bounds[k][1] - origin[k]) / direction[k];
    if (t0 > t1) std::swap(t0, t1);
    t_enter = std::max(t_enter, t0);
    t_exit = std::min(t_exit, t1);
  }
  if (t_enter > t_exit) return false;
  auto above = [&](float t) {
    const float px = origin[0] + direction[0] * t, py = origin[1] + direction[1] * t, pz = origin[2] + direction[2] * t;
    return pz > float(mesh_height_at(int32_t(px), int32_t(py), _mesh_height_ground));
  };
  if (!above(t_enter)) return false;  // starts under the ground: the camera is inside a hill
  for (float t = t_enter; t <= t_exit;) {
    const float step = std::max(32.0f, t / 96.0f);
    const float next = std::min(t + step, t_exit);
    if (!above(next)) {
      float low = t, high = next;
      for (int32_t k = 0; k < 12; ++k) {
        const float middle = (low + high) * 0.5f;
        (above(middle) ? low : high) = middle;
      }
      const float px = origin[0] + direction[0] * high, py = origin[1] + direction[1] * high;
      hit->kind = _pick_ground;
      hit->a = int32_t(std::floor(px));
      hit->b = int32_t(std::floor(py));
      hit->point = {hit->a, hit->b, mesh_height_at(hit->a, hit->b, _mesh_height_ground)};
      hit->depth = high;
      return true;
    }
    if (next >= t_exit) break;
    t = next;
  }
  return false;
}

bool ray_box(const float origin[3], const float direction[3], const world_box& box, float* t_hit) {
  const float low[3] = {float(box.minimum.x), float(box.minimum.y), float(box.minimum.z)};
  const float high[3] = {float(box.maximum.x), float(box.maximum.y), float(box.maximum.z)};
  float t0 = RENDER_NEAR, t1 = 1e30f;
  for (int32_t k = 0; k < 3; ++k) {
    if (std::fabs(direction[k]) < 1e-9f) {
      if (origin[k] < low[k] || origin[k] > high[k]) return false;
      continue;
    }
    float a = (low[k] - origin[k]) / direction[k], b = (high[k] - origin[k]) / direction[k];
    if (a > b) std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
    if (t0 > t1) return false;
  }
  *t_hit = t0;
  return true;
}

world_point3d model_position(const render_pick_model& model) {
  if (model.animation) {
    if (const world_model_animation* animation = model_animation_get(model.index)) return animation->location;
  } else if (const world_model* m = model_get(model.index)) {
    return m->location;
  }
  return model.box.minimum;
}

render_pick_hit model_hit(const render_pick_model& model, float depth) {
  render_pick_hit hit{};
  hit.kind = _pick_model;
  hit.a = model.index;
  hit.b = model.animation;
  hit.point = model_position(model);
  hit.depth = depth;
  return hit;
}

render_pick_hit marker_hit(const render_pick_sprite& sprite) {
  render_pick_hit hit{};
  hit.kind = _pick_marker;
  hit.a = sprite.marker_index;
  hit.point = sprite.location;
  hit.depth = sprite.depth;
  return hit;
}

int32_t deliver(std::vector<render_pick_hit>& hits, render_pick_hit* out, int32_t capacity) {
  std::stable_sort(hits.begin(), hits.end(),
                   [](const render_pick_hit& a, const render_pick_hit& b) { return a.depth < b.depth; });
  const int32_t count = std::min<int32_t>(int32_t(hits.size()), std::max(capacity, 0));
  if (out) std::copy(hits.begin(), hits.begin() + count, out);
  return out ? count : 0;
}

bool project_point(const world_point3d& point, float* x, float* y, float* depth) {
  const render_point p = render_to_camera(render->basis, float(point.x), float(point.y), float(point.z));
  if (p.z < RENDER_NEAR) return false;
  const render_screen_point s = render_project(p);
  *x = s.x;
  *y = s.y;
  *depth = p.z;
  return true;
}

}  // namespace

int32_t render_pick_point(int32_t x, int32_t y, uint16_t kinds, render_pick_hit* out, int32_t capacity) {
  if (!frame_ready() || x < 0 || y < 0 || x >= RENDER_WIDTH || y >= RENDER_HEIGHT) return 0;
  std::vector<render_pick_hit> hits;
  const float cx = float(x) + 0.5f, cy = float(y) + 0.5f;
  if (kinds & _pick_vertex) add_vertices(cx - kVertexRadius, cy - kVertexRadius, cx + kVertexRadius, cy + kVertexRadius, &hits);
  if (kinds & _pick_ground) {
    render_pick_hit hit{};
    if (ground_under(cx, cy, &hit)) hits.push_back(hit);
  }
  if (kinds & _pick_model) {
    float origin[3], direction[3];
    pixel_ray(cx, cy, origin, direction);
    for (int32_t i = 0; i < render->model_count; ++i) {
      float t;
      if (ray_box(origin, direction, render->models[i].box, &t)) hits.push_back(model_hit(render->models[i], t));
    }
  }
  if (kinds & _pick_marker) {
    for (int32_t i = 0; i < render->sprite_count; ++i) {
      const render_pick_sprite& s = render->sprites[i];
      if (x >= s.x0 - 1 && x <= s.x1 + 1 && y >= s.y0 - 1 && y <= s.y1 + 1) hits.push_back(marker_hit(s));
    }
  }
  return deliver(hits, out, capacity);
}

int32_t render_pick_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t kinds, render_pick_hit* out,
                              int32_t capacity) {
  if (!frame_ready()) return 0;
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, RENDER_WIDTH - 1);
  y1 = std::min(y1, RENDER_HEIGHT - 1);
  if (x0 > x1 || y0 > y1) return 0;
  std::vector<render_pick_hit> hits;
  const float fx0 = float(x0), fy0 = float(y0), fx1 = float(x1) + 1.0f, fy1 = float(y1) + 1.0f;
  if (kinds & _pick_vertex) add_vertices(fx0, fy0, fx1, fy1, &hits);
  if (kinds & _pick_ground) {
    render_pick_hit hit{};
    if (ground_under((fx0 + fx1) * 0.5f, (fy0 + fy1) * 0.5f, &hit)) hits.push_back(hit);
  }
  if (kinds & _pick_model) {
    for (int32_t i = 0; i < render->model_count; ++i) {
      float sx, sy, depth;
      const render_pick_model& model = render->models[i];
      if (project_point(model_position(model), &sx, &sy, &depth) && sx >= fx0 && sx < fx1 && sy >= fy0 && sy < fy1)
        hits.push_back(model_hit(model, depth));
    }
  }
  if (kinds & _pick_marker) {
    for (int32_t i = 0; i < render->sprite_count; ++i) {
      float sx, sy, depth;
      const render_pick_sprite& s = render->sprites[i];
      if (project_point(s.location, &sx, &sy, &depth) && sx >= fx0 && sx < fx1 && sy >= fy0 && sy < fy1)
        hits.push_back(marker_hit(s));
    }
  }
  return deliver(hits, out, capacity);
}
