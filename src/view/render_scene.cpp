// The passes that draw the map: terrain, model boxes, sprites, connector bands, media, wireframes
// and the texts on top; and the colours they draw with.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "render/collection_references.h"
#include "render/screen_messages.h"
#include "render/shapes.h"
#include "view/render_private.h"
#include "world/placeholders.h"
#include "world/world.h"

namespace {

// Terrain types 0..15 as the terrain-filled wireframe shows them.
constexpr uint16_t terrain_colors[NUMBER_OF_TERRAIN_TYPES] = {
    render_rgb(120, 200, 255), render_rgb(60, 150, 255), render_rgb(30, 90, 230),  render_rgb(10, 30, 160),
    render_rgb(200, 150, 80),  render_rgb(150, 90, 50),  render_rgb(60, 200, 60),  render_rgb(240, 220, 120),
    render_rgb(140, 140, 140), render_rgb(90, 120, 60),  render_rgb(250, 250, 250), render_rgb(20, 110, 30),
    render_rgb(255, 0, 255),   render_rgb(255, 0, 255),  render_rgb(230, 30, 30),   render_rgb(120, 0, 160),
};

constexpr uint16_t kSelectedColor = render_rgb(255, 230, 40);
constexpr uint16_t kHoveredColor = render_rgb(255, 255, 255);

const render_grid_vertex& grid_at(int32_t i, int32_t j) { return render->grid[j * RENDER_GRID + i]; }

render_point grid_point(int32_t i, int32_t j, float u, float v) {
  const render_grid_vertex& g = grid_at(i, j);
  return {g.x, g.y, g.z, u, v};
}

// The cell's two triangles as window-local corners, even triangle first; each corner (di, dj).
struct cell_triangles {
  int8_t corners[2][3][2];
};
constexpr cell_triangles kTriangles[2] = {
    // parity 0: diagonal top-left to bottom-right; triangle 0 (even) below it, 1 (odd) above
    {{{{0, 0}, {1, 1}, {0, 1}}, {{0, 0}, {1, 0}, {1, 1}}}},
    // parity 1: diagonal top-right to bottom-left; triangle 2 (even) above it, 3 (odd) below
    {{{{0, 0}, {1, 0}, {0, 1}}, {{1, 0}, {1, 1}, {0, 1}}}},
};

uint16_t even_terrain(uint16_t flags) { return (flags & _cell_even_terrain_mask) >> 4; }
uint16_t odd_terrain(uint16_t flags) { return flags & _cell_odd_terrain_mask; }

struct terrain_context {
  render_view* view;
  int16_t collection;
  const uint16_t* shades;
  render_frame_statistics* statistics;
  // The window touches at most 3 x 3 submeshes: their textures are looked up once a frame.
  int32_t cached_submesh[9];
  render_texture cached[9];
  int32_t cached_count;
};

// The texture of a cell's submesh; false when the map's collection lacks it.
bool cell_texture(terrain_context& context, int32_t cell_x, int32_t cell_y, render_texture* texture) {
  if (!context.shades) return false;
  const int32_t submesh = (cell_y / CELLS_PER_SUBMESH) * mesh_width() + cell_x / CELLS_PER_SUBMESH;
  for (int32_t k = 0; k < context.cached_count; ++k)
    if (context.cached_submesh[k] == submesh) {
      *texture = context.cached[k];
      return texture->colors && texture->shadows;
    }
  texture->colors = collection_get_submesh_texture(context.collection, 2 * submesh, false);
  texture->shadows = collection_get_submesh_texture(context.collection, 2 * submesh + 1, false);
  texture->shades = context.shades;
  if (context.cached_count < 9) {
    context.cached_submesh[context.cached_count] = submesh;
    context.cached[context.cached_count++] = *texture;
  }
  return texture->colors && texture->shadows;
}

// Texture coordinates of a window vertex inside the submesh of cell (cell_x, cell_y).
void texel_of(int32_t gx, int32_t gy, int32_t cell_x, int32_t cell_y, float* u, float* v) {
  *u = float((gx - (cell_x & ~(CELLS_PER_SUBMESH - 1))) * TEXELS_PER_CELL);
  *v = float((gy - (cell_y & ~(CELLS_PER_SUBMESH - 1))) * TEXELS_PER_CELL);
}

void draw_triangle(const terrain_context& context, const render_texture* texture, int32_t cell_x, int32_t cell_y,
                   const int8_t (*corners)[2], int32_t base_i, int32_t base_j, uint16_t terrain) {
  const render_cell_window& w = render->window;
  render_point p[3];
  for (int32_t k = 0; k < 3; ++k) {
    const int32_t i = base_i + corners[k][0], j = base_j + corners[k][1];
    float u, v;
    texel_of(w.x0 + i, w.y0 + j, cell_x, cell_y, &u, &v);
    p[k] = grid_point(i, j, u, v);
  }
  ++context.statistics->triangles_considered;
  if (p[0].z < RENDER_NEAR && p[1].z < RENDER_NEAR && p[2].z < RENDER_NEAR) return;
  if (texture) {
    int32_t drawn = 0;
    render_triangle_textured(context.view->pixels, p[0], p[1], p[2], *texture, &drawn);
    if (drawn > 0) ++context.statistics->triangles_drawn;
  } else {
    render_triangle_flat(context.view->pixels, p[0], p[1], p[2], terrain_colors[terrain & 15], true);
    ++context.statistics->triangles_drawn;
  }
}

void draw_full_cell(terrain_context& context, int32_t i, int32_t j) {
  const render_cell_window& w = render->window;
  const int32_t cx = w.x0 + i, cy = w.y0 + j;
  const uint16_t flags = mesh_get_cell(cx, cy)->terrain_and_flags;
  if (flags & _cell_no_ground) return;
  render_texture texture;
  const bool textured = cell_texture(context, cx, cy, &texture);
  const cell_triangles& t = kTriangles[(cx + cy) & 1];
  draw_triangle(context, textured ? &texture : nullptr, cx, cy, t.corners[0], i, j, even_terrain(flags));
  draw_triangle(context, textured ? &texture : nullptr, cx, cy, t.corners[1], i, j, odd_terrain(flags));
}

// A 2 x 2 block as its LOD entry allows: two triangles when no edge bends, else a fan round the
// centre with the bent edges split. False when the block needs its full triangles.
bool draw_reduced_block(terrain_context& context, int32_t i, int32_t j, uint16_t entry) {
  if ((entry & 0x00F0) != 0x00F0) return false;  // a cell without ground
  const render_cell_window& w = render->window;
  const int32_t cx = w.x0 + i, cy = w.y0 + j;
  render_texture texture;
  const bool textured = cell_texture(context, cx, cy, &texture);
  const uint16_t terrain = even_terrain(mesh_get_cell(cx, cy)->terrain_and_flags);
  const render_texture* t = textured ? &texture : nullptr;
  if ((entry & _lod_split_edges) == 0) {
    static constexpr int8_t upper[3][2] = {{0, 0}, {2, 0}, {2, 2}};
    static constexpr int8_t lower[3][2] = {{0, 0}, {2, 2}, {0, 2}};
    draw_triangle(context, t, cx, cy, upper, i, j, terrain);
    draw_triangle(context, t, cx, cy, lower, i, j, terrain);
    return true;
  }
  // Corners clockwise from the top left, with each edge's middle and its split bit.
  static constexpr int8_t corner[4][2] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
  static constexpr int8_t middle[4][2] = {{1, 0}, {2, 1}, {1, 2}, {0, 1}};
  static constexpr uint16_t split[4] = {_lod_split_top, _lod_split_right, _lod_split_bottom, _lod_split_left};
  for (int32_t e = 0; e < 4; ++e) {
    const int8_t* a = corner[e];
    const int8_t* b = corner[(e + 1) & 3];
    if (entry & split[e]) {
      const int8_t first[3][2] = {{1, 1}, {a[0], a[1]}, {middle[e][0], middle[e][1]}};
      const int8_t second[3][2] = {{1, 1}, {middle[e][0], middle[e][1]}, {b[0], b[1]}};
      draw_triangle(context, t, cx, cy, first, i, j, terrain);
      draw_triangle(context, t, cx, cy, second, i, j, terrain);
    } else {
      const int8_t whole[3][2] = {{1, 1}, {a[0], a[1]}, {b[0], b[1]}};
      draw_triangle(context, t, cx, cy, whole, i, j, terrain);
    }
  }
  return true;
}

// ---- sprites ----

struct sprite_item {
  float depth;
  float x0, y0, x1, y1;  // buffer rectangle
  const bitmap_data* bitmap;
  const uint16_t* palette;
  int32_t marker_index;
  world_point3d location;
  float surface_y;  // where the water it stands in shows, for its reflection
  bool reflected;   // it stands in reflective media
  bool mirrored;
  bool translucent;
  uint16_t outline;  // 0 none
};
static_assert(sizeof(sprite_item) <= RENDER_SPRITE_ITEM_BOUND, "the pool's worst frame counts sprites at this size");

struct sprite_look {
  int16_t collection = NONE;
  int16_t sequence = NONE;
};

int16_t reference_collection(int16_t reference) {
  const auto* definition = static_cast<const collection_reference_definition*>(
      definition_get(&collection_reference_definitions, reference));
  return definition ? definition->collection_index : int16_t(NONE);
}

sprite_look look_of(const world_object& object) {
  sprite_look look;
  switch (object.kind) {
    case _object_scenery:
      if (const auto* scenery = static_cast<const scenery_definition*>(
              definition_get(&scenery_definitions, object.definition_index))) {
        look = {reference_collection(scenery->collection_reference_index), scenery->sequence};
      }
      break;
    case _object_unit:
      if (const auto* unit = static_cast<const unit_definition*>(definition_get(&unit_definitions, object.definition_index))) {
        if (const auto* monster = static_cast<const monster_definition*>(
                definition_get(&monster_definitions, unit->monster_index))) {
          look = {reference_collection(monster->collection_reference_index), monster->standing_sequence};
        }
      }
      break;
    case _object_projectile:
      if (const auto* projectile = static_cast<const projectile_definition*>(
              definition_get(&projectile_definitions, object.definition_index))) {
        look = {reference_collection(projectile->collection_reference_index), 0};
      }
      break;
    default:
      look = {object.collection_index != NONE ? object.collection_index : placeholder_collection(), object.look};
      break;
  }
  return look;
}

// The bitmap of the look's sequence at this time, as seen from the camera's facing.
const bitmap_data* sprite_bitmap(const sprite_look& look, const world_object& object, uint16_t camera_facing,
                                 const bitmap_instance** instance_out) {
  collection_header* header = collection_get_header(look.collection);
  if (!header || look.sequence < 0) return nullptr;
  std::span<uint8_t> data = collection_get_data(look.collection);
  const sequence_data* sequence = collection_block_get_sequence(*header, data, look.sequence);
  if (!sequence || sequence->frame_count <= 0 || sequence->view_count <= 0) return nullptr;
  if (sequence->frame_count > 1) render->animated = true;
  const int32_t ticks = std::max<int32_t>(1, sequence->ticks_per_frame);
  const int32_t frame = (std::max(0, world_time()) / ticks) % sequence->frame_count;
  int32_t view = 0;
  if (!(sequence->flags & SEQUENCE_NO_ROTATION) && sequence->view_count > 1) {
    // The facing relative to the camera's, each view centred on its share of the turn.
    const uint32_t relative = uint16_t(object.facing - camera_facing + 32768);
    view = int32_t(((relative + 32768u / uint32_t(sequence->view_count)) & 0xFFFF) * uint32_t(sequence->view_count) >> 16);
  }
  const int16_t instance_index = sequence_get_instance_index(sequence, frame, view);
  const bitmap_instance* instance = collection_block_get_bitmap_instance(*header, data, instance_index);
  if (!instance) return nullptr;
  const bitmap_data* bitmap = collection_get_bitmap(look.collection, instance->bitmap_index);
  if (!bitmap || bitmap->bits_per_pixel != 8 || (bitmap->flags & BITMAP_IS_ENCODED) || bitmap->width <= 0 ||
      bitmap->height <= 0)
    return nullptr;
  *instance_out = instance;
  return bitmap;
}

void draw_sprite(uint16_t* pixels, const sprite_item& item) {
  const float iz = 1.0f / item.depth;
  const int32_t x_start = std::max(0, int32_t(std::ceil(item.x0 - 0.5f)));
  const int32_t x_end = std::min(RENDER_WIDTH, int32_t(std::ceil(item.x1 - 0.5f)));
  const int32_t y_start = std::max(0, int32_t(std::ceil(item.y0 - 0.5f)));
  const int32_t y_end = std::min(RENDER_HEIGHT, int32_t(std::ceil(item.y1 - 0.5f)));
  if (item.bitmap) {
    const float sx = float(item.bitmap->width) / std::max(item.x1 - item.x0, 1e-3f);
    const float sy = float(item.bitmap->height) / std::max(item.y1 - item.y0, 1e-3f);
    for (int32_t y = y_start; y < y_end; ++y) {
      const int32_t by = std::clamp(int32_t((float(y) + 0.5f - item.y0) * sy), 0, item.bitmap->height - 1);
      const uint8_t* row = bitmap_get_row(item.bitmap, by);
      if (!row) continue;
      float* depth = render->depth + y * RENDER_WIDTH;
      uint16_t* out = pixels + y * RENDER_WIDTH;
      for (int32_t x = x_start; x < x_end; ++x) {
        int32_t bx = std::clamp(int32_t((float(x) + 0.5f - item.x0) * sx), 0, item.bitmap->width - 1);
        if (item.mirrored) bx = item.bitmap->width - 1 - bx;
        const uint8_t index = row[bx];
        if (index == 0 || iz <= depth[x]) continue;
        if (item.translucent) {
          out[x] = render_blend_half(out[x], item.palette[index]);
        } else {
          out[x] = item.palette[index];
          depth[x] = iz;
        }
      }
    }
  } else {
    // No look: a small diamond so the marker can still be seen and picked.
    const float cx = (item.x0 + item.x1) * 0.5f, cy = (item.y0 + item.y1) * 0.5f;
    const float r = std::max(1.0f, (item.x1 - item.x0) * 0.5f);
    for (int32_t y = y_start; y < y_end; ++y)
      for (int32_t x = x_start; x < x_end; ++x) {
        if (std::fabs(float(x) + 0.5f - cx) + std::fabs(float(y) + 0.5f - cy) > r) continue;
        const int32_t index = y * RENDER_WIDTH + x;
        if (iz <= render->depth[index]) continue;
        pixels[index] = render_rgb(230, 60, 200);
        render->depth[index] = iz;
      }
  }
  if (item.outline) {
    const int32_t x0 = int32_t(item.x0) - 1, y0 = int32_t(item.y0) - 1, x1 = int32_t(item.x1) + 1, y1 = int32_t(item.y1) + 1;
    render_line_2d(pixels, x0, y0, x1, y0, item.outline, false);
    render_line_2d(pixels, x1, y0, x1, y1, item.outline, false);
    render_line_2d(pixels, x1, y1, x0, y1, item.outline, false);
    render_line_2d(pixels, x0, y1, x0, y0, item.outline, false);
  }
}

// The sprite upside down below the water line, half through, hidden by whatever is nearer; the
// media drawn afterwards lies over it.
void draw_reflection(uint16_t* pixels, const sprite_item& item) {
  if (!item.bitmap) return;
  const float y0 = 2.0f * item.surface_y - item.y1, y1 = 2.0f * item.surface_y - item.y0;
  const float iz = 1.0f / item.depth;
  const int32_t x_start = std::max(0, int32_t(std::ceil(item.x0 - 0.5f)));
  const int32_t x_end = std::min(RENDER_WIDTH, int32_t(std::ceil(item.x1 - 0.5f)));
  const int32_t y_start = std::max(0, int32_t(std::ceil(y0 - 0.5f)));
  const int32_t y_end = std::min(RENDER_HEIGHT, int32_t(std::ceil(y1 - 0.5f)));
  const float sx = float(item.bitmap->width) / std::max(item.x1 - item.x0, 1e-3f);
  const float sy = float(item.bitmap->height) / std::max(y1 - y0, 1e-3f);
  for (int32_t y = y_start; y < y_end; ++y) {
    const int32_t by = item.bitmap->height - 1 - std::clamp(int32_t((float(y) + 0.5f - y0) * sy), 0, item.bitmap->height - 1);
    const uint8_t* row = bitmap_get_row(item.bitmap, by);
    if (!row) continue;
    const float* depth = render->depth + y * RENDER_WIDTH;
    uint16_t* out = pixels + y * RENDER_WIDTH;
    for (int32_t x = x_start; x < x_end; ++x) {
      int32_t bx = std::clamp(int32_t((float(x) + 0.5f - item.x0) * sx), 0, item.bitmap->width - 1);
      if (item.mirrored) bx = item.bitmap->width - 1 - bx;
      const uint8_t index = row[bx];
      if (index != 0 && iz > depth[x]) out[x] = render_blend_half(out[x], item.palette[index]);
    }
  }
}

// ---- models ----

void draw_box(uint16_t* pixels, const world_box& box, bool highlighted, uint16_t base_r, uint16_t base_g,
              uint16_t base_b) {
  const render_basis& basis = render->basis;
  const float x[2] = {float(box.minimum.x), float(box.maximum.x)};
  const float y[2] = {float(box.minimum.y), float(box.maximum.y)};
  const float z[2] = {float(box.minimum.z), float(box.maximum.z)};
  render_point corner[8];
  for (int32_t k = 0; k < 8; ++k) corner[k] = render_to_camera(basis, x[k & 1], y[(k >> 1) & 1], z[(k >> 2) & 1]);
  // Faces as corner quads, each with its light: top, -x, +x, -y, +y.
  static constexpr int8_t faces[5][4] = {{4, 5, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 3, 7, 6}};
  static constexpr float light[5] = {1.0f, 0.55f, 0.8f, 0.65f, 0.9f};
  for (int32_t f = 0; f < 5; ++f) {
    const uint16_t color = render_rgb(int(base_r * light[f]), int(base_g * light[f]), int(base_b * light[f]));
    const render_point& a = corner[faces[f][0]];
    render_triangle_flat(pixels, a, corner[faces[f][1]], corner[faces[f][2]], color, true);
    render_triangle_flat(pixels, a, corner[faces[f][2]], corner[faces[f][3]], color, true);
  }
  static constexpr int8_t edges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 2}, {1, 3},
                                          {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
  const uint16_t edge_color = highlighted ? kSelectedColor : render_rgb(base_r / 3, base_g / 3, base_b / 3);
  for (const auto& e : edges) render_line_3d(pixels, corner[e[0]], corner[e[1]], edge_color, highlighted);
}

bool box_near_window(const world_box& box) {
  const render_cell_window& w = render->window;
  const int32_t margin = 8 * RENDER_CELL;
  return box.maximum.x >= w.x0 * RENDER_CELL - margin && box.minimum.x <= (w.x0 + w.width) * RENDER_CELL + margin &&
         box.maximum.y >= w.y0 * RENDER_CELL - margin && box.minimum.y <= (w.y0 + w.height) * RENDER_CELL + margin;
}

uint16_t media_color() {
  const mesh_definition* header = mesh_header();
  if (header) {
    if (const auto* media = static_cast<const media_definition*>(definition_get(&media_definitions, header->media_index)))
      return screen_pixel(media->color.red, media->color.green, media->color.blue);
  }
  return render_rgb(40, 90, 170);
}

int16_t reported_wireframe_mode = 0;

}  // namespace

// ---- terrain ----

void render_pass_terrain(render_view* view) {
  const render_cell_window& w = render->window;
  for (int32_t j = 0; j <= w.height; ++j)
    for (int32_t i = 0; i <= w.width; ++i) {
      const mesh_cell* cell = mesh_vertex_clamped(w.x0 + i, w.y0 + j);
      const render_point p = render_to_camera(*view->basis, float((w.x0 + i) * RENDER_CELL), float((w.y0 + j) * RENDER_CELL),
                                              float(cell->ground_height));
      render_grid_vertex& g = render->grid[j * RENDER_GRID + i];
      g = {p.x, p.y, p.z, 0.0f, 0.0f};
      if (p.z >= RENDER_NEAR) {
        const render_screen_point s = render_project(p);
        g.sx = s.x;
        g.sy = s.y;
      }
    }
  terrain_context context{view, mesh_landscape_collection(), render_landscape_shades(),
                          &render->statistics, {}, {}, 0};
  const uint16_t* lod = mesh_lod();
  const bool reduced = render->settings.reduced_lod && lod && mesh_lod_entry_count() > 0;
  const int32_t blocks_across = mesh_cells_across() / 2;
  // Nearest blocks first: rows and columns from the side the camera looks from.
  const bool x_forward = view->basis->forward[0] >= 0.0f, y_forward = view->basis->forward[1] >= 0.0f;
  const int32_t block_columns = (w.width + 1) / 2, block_rows = (w.height + 1) / 2;
  for (int32_t r = 0; r < block_rows; ++r) {
    const int32_t bj = y_forward ? r : block_rows - 1 - r;
    for (int32_t c = 0; c < block_columns; ++c) {
      const int32_t bi = x_forward ? c : block_columns - 1 - c;
      const int32_t i = bi * 2, j = bj * 2;
      const int32_t block = ((w.y0 + j) / 2) * blocks_across + (w.x0 + i) / 2;
      if (reduced && i + 2 <= w.width && j + 2 <= w.height && block < mesh_lod_entry_count() &&
          draw_reduced_block(context, i, j, lod[block]))
        continue;
      for (int32_t dj = 0; dj < 2 && j + dj < w.height; ++dj)
        for (int32_t di = 0; di < 2 && i + di < w.width; ++di) draw_full_cell(context, i + di, j + dj);
    }
  }
}

// ---- models ----

void render_pass_models(render_view* view) {
  for (int32_t i = 0; i < MAXIMUM_MODELS_PER_MAP; ++i) {
    const world_model* model = model_get(i);
    world_box box;
    if (!model || !model_get_bounding_box(i, &box) || !box_near_window(box)) continue;
    draw_box(view->pixels, box, (model->flags & _model_highlighted) != 0, 190, 165, 125);
    ++render->statistics.models_drawn;
    if (render->model_count < RENDER_MAXIMUM_PICK_MODELS) render->models[render->model_count++] = {i, 0, 0, box};
  }
  for (int32_t i = 0; i < MAXIMUM_MODEL_ANIMATIONS_PER_MAP; ++i) {
    const world_model_animation* animation = model_animation_get(i);
    world_box box;
    if (!animation || !model_animation_get_bounding_box(i, &box) || !box_near_window(box)) continue;
    draw_box(view->pixels, box, (animation->flags & _model_highlighted) != 0, 170, 140, 175);
    ++render->statistics.models_drawn;
    if (render->model_count < RENDER_MAXIMUM_PICK_MODELS) render->models[render->model_count++] = {i, 1, 0, box};
  }
}

// ---- sprites ----

void render_pass_sprites(render_view* view) {
  // Which marker each object shows, for picking and for the selection outlines.
  int16_t* marker_of = render_pool_array<int16_t>(MAXIMUM_OBJECTS_PER_MAP);
  sprite_item* items = render_pool_array<sprite_item>(MAXIMUM_OBJECTS_PER_MAP);
  if (!marker_of || !items) return;
  std::fill(marker_of, marker_of + MAXIMUM_OBJECTS_PER_MAP, int16_t(NONE));
  const marker_data* markers = mesh_markers();
  for (int32_t m = 0; m < mesh_marker_count(); ++m) {
    const marker_data& marker = markers[m];
    if (marker.type == _marker_model || marker.type == _marker_model_animation) continue;
    if (marker.object_index < 0 || marker.object_index >= MAXIMUM_OBJECTS_PER_MAP) continue;
    if (object_get_identifier(marker.object_index) != marker.object_identifier) continue;
    marker_of[marker.object_index] = int16_t(m);
  }
  const render_overlay_procedures* overlay = render_overlay();
  const render_cell_window& w = render->window;
  const int32_t margin = 2 * RENDER_CELL;
  int32_t count = 0;
  for (int32_t o = 0; o < MAXIMUM_OBJECTS_PER_MAP; ++o) {
    const world_object* object = object_get(o);
    if (!object) continue;
    const world_point3d& at = object->location;
    if (at.x < w.x0 * RENDER_CELL - margin || at.x > (w.x0 + w.width) * RENDER_CELL + margin ||
        at.y < w.y0 * RENDER_CELL - margin || at.y > (w.y0 + w.height) * RENDER_CELL + margin)
      continue;
    const render_point foot = render_to_camera(*view->basis, float(at.x), float(at.y), float(at.z));
    if (foot.z < RENDER_NEAR + RENDER_CELL / 2) continue;
    const render_screen_point s = render_project(foot);
    sprite_item item{};
    const sprite_look look = look_of(*object);
    const bitmap_instance* instance = nullptr;
    item.bitmap = sprite_bitmap(look, *object, uint16_t(view->camera->facing), &instance);
    const float scale = RENDER_FOCAL / foot.z;
    if (item.bitmap) {
      item.palette = render_sprite_palette(look.collection, object->kind == _object_unit ? object->team : int16_t(NONE),
                                           object->shading_mode);
      if (!item.palette) item.bitmap = nullptr;
    }
    if (item.bitmap) {
      item.x0 = s.x + scale * float(instance->left);
      item.x1 = s.x + scale * float(instance->right);
      item.y0 = s.y + scale * float(instance->top);
      item.y1 = s.y + scale * float(instance->bottom);
      item.mirrored = (instance->flags & BITMAP_INSTANCE_MIRRORED) != 0;
    } else {
      const float r = std::max(3.0f, scale * 96.0f);
      item.x0 = s.x - r;
      item.x1 = s.x + r;
      item.y0 = s.y - 2 * r;
      item.y1 = s.y;
    }
    if (item.x1 < 0 || item.x0 >= RENDER_WIDTH || item.y1 < 0 || item.y0 >= RENDER_HEIGHT) continue;
    // Half a cell nearer than the feet, so the ground they stand on does not cut them.
    item.depth = std::max(RENDER_NEAR, foot.z - RENDER_CELL / 2);
    item.marker_index = marker_of[o];
    item.location = at;
    item.translucent = (object->flags & _object_invisible) != 0;
    const int32_t cell_x = at.x / RENDER_CELL, cell_y = at.y / RENDER_CELL;
    if (item.bitmap && render->settings.show_media && at.x >= 0 && at.y >= 0 && cell_x < mesh_cells_across() &&
        cell_y < mesh_cells_down() && (mesh_get_cell(cell_x, cell_y)->terrain_and_flags & _cell_reflective_media) &&
        mesh_media_at(at.x, at.y)) {
      const render_point surface = render_to_camera(*view->basis, float(at.x), float(at.y),
                                                    float(mesh_height_at(at.x, at.y, _mesh_height_media)));
      if (surface.z >= RENDER_NEAR) {
        item.surface_y = render_project(surface).y;
        item.reflected = !item.translucent;
      }
    }
    if (item.marker_index != NONE && overlay && overlay->marker_state) {
      const uint16_t state = overlay->marker_state(item.marker_index);
      item.outline = (state & _render_marker_selected) ? kSelectedColor : (state & _render_marker_hovered) ? kHoveredColor : 0;
    }
    items[count++] = item;
  }
  // Farthest first, so nearer sprites cover farther ones.
  std::sort(items, items + count, [](const sprite_item& a, const sprite_item& b) { return a.depth > b.depth; });
  for (int32_t k = 0; k < count; ++k)
    if (items[k].reflected) draw_reflection(view->pixels, items[k]);
  for (int32_t k = 0; k < count; ++k) {
    const sprite_item& item = items[k];
    draw_sprite(view->pixels, item);
    ++render->statistics.sprites_drawn;
    if (item.marker_index == NONE || render->sprite_count >= MAXIMUM_OBJECTS_PER_MAP) continue;
    render->sprites[render->sprite_count++] = {
        item.marker_index,
        int16_t(std::clamp(int32_t(item.x0), 0, RENDER_WIDTH - 1)),
        int16_t(std::clamp(int32_t(item.y0), 0, RENDER_HEIGHT - 1)),
        int16_t(std::clamp(int32_t(item.x1), 0, RENDER_WIDTH - 1)),
        int16_t(std::clamp(int32_t(item.y1), 0, RENDER_HEIGHT - 1)),
        item.depth + RENDER_CELL / 2,
        item.location};
  }
}

// ---- connectors ----

void render_pass_connectors(render_view* view, const render_connector_procedures* procedures) {
  if (!procedures->count || !procedures->get) return;
  const int32_t count = std::clamp(procedures->count(), 0, int32_t(RENDER_MAXIMUM_CONNECTOR_BANDS));
  render_connector_band* bands = render_pool_array<render_connector_band>(size_t(std::max(count, 1)));
  if (!bands) return;
  for (int32_t i = 0; i < count; ++i) {
    render_connector_band& band = bands[i];
    if (!procedures->get(i, &band)) continue;
    const float t = float(std::clamp(band.thickness, 1, 64 * RENDER_CELL));
    const render_basis& b = *view->basis;
    const render_point a0 = render_to_camera(b, float(band.start.x), float(band.start.y), float(band.start.z));
    const render_point a1 = render_to_camera(b, float(band.start.x), float(band.start.y), float(band.start.z) + t);
    const render_point b0 = render_to_camera(b, float(band.end.x), float(band.end.y), float(band.end.z));
    const render_point b1 = render_to_camera(b, float(band.end.x), float(band.end.y), float(band.end.z) + t);
    render_triangle_flat(view->pixels, a0, b0, b1, band.color, true);
    render_triangle_flat(view->pixels, a0, b1, a1, band.color, true);
  }
}

// ---- media ----

void render_pass_media(render_view* view) {
  const render_cell_window& w = render->window;
  const uint16_t color = media_color();
  for (int32_t j = 0; j < w.height; ++j)
    for (int32_t i = 0; i < w.width; ++i) {
      const int32_t cx = w.x0 + i, cy = w.y0 + j;
      const uint16_t flags = mesh_get_cell(cx, cy)->terrain_and_flags;
      if (!(flags & _cell_media_flags)) continue;
      const cell_triangles& t = kTriangles[(cx + cy) & 1];
      for (int32_t k = 0; k < 2; ++k) {
        if (!(flags & (k == 0 ? _cell_media_on_even_triangle : _cell_media_on_odd_triangle))) continue;
        render_point p[3];
        for (int32_t c = 0; c < 3; ++c) {
          const int32_t gx = cx + t.corners[k][c][0], gy = cy + t.corners[k][c][1];
          p[c] = render_to_camera(*view->basis, float(gx * RENDER_CELL), float(gy * RENDER_CELL),
                                  float(mesh_vertex_clamped(gx, gy)->media_height));
        }
        render_triangle_blend(view->pixels, p[0], p[1], p[2], color);
      }
    }
}

// ---- wireframes ----

void render_pass_wireframe(render_view* view) {
  const int16_t mode = render->settings.wireframe_mode;
  if (mode == _wireframe_none) return;
  if (mode != _wireframe_triangles && mode != _wireframe_cells && mode != _wireframe_submeshes &&
      mode != _wireframe_terrain && mode != _wireframe_reflection) {
    if (reported_wireframe_mode != mode) {
      POST_ERROR(error_array_out_of_bounds, "What is wireframe_mode: %d", mode);
      reported_wireframe_mode = mode;
    }
    return;
  }
  const render_cell_window& w = render->window;
  uint16_t* pixels = view->pixels;
  if (mode == _wireframe_terrain || mode == _wireframe_reflection) {
    for (int32_t j = 0; j < w.height; ++j)
      for (int32_t i = 0; i < w.width; ++i) {
        const int32_t cx = w.x0 + i, cy = w.y0 + j;
        const uint16_t flags = mesh_get_cell(cx, cy)->terrain_and_flags;
        const cell_triangles& t = kTriangles[(cx + cy) & 1];
        for (int32_t k = 0; k < 2; ++k) {
          uint16_t color;
          if (mode == _wireframe_terrain) {
            color = terrain_colors[k == 0 ? even_terrain(flags) : odd_terrain(flags)];
          } else {
            if (!(flags & (k == 0 ? _cell_media_on_even_triangle : _cell_media_on_odd_triangle))) continue;
            color = (flags & _cell_reflective_media) ? render_rgb(120, 255, 255) : render_rgb(0, 200, 220);
          }
          render_triangle_blend(pixels, grid_point(i + t.corners[k][0][0], j + t.corners[k][0][1], 0, 0),
                                grid_point(i + t.corners[k][1][0], j + t.corners[k][1][1], 0, 0),
                                grid_point(i + t.corners[k][2][0], j + t.corners[k][2][1], 0, 0), color);
        }
      }
  }
  const uint16_t line_color = mode == _wireframe_submeshes ? render_rgb(255, 90, 60)
                              : mode == _wireframe_cells   ? render_rgb(255, 235, 150)
                                                           : render_rgb(235, 235, 235);
  const bool diagonals = mode == _wireframe_triangles || mode == _wireframe_terrain || mode == _wireframe_reflection;
  // Lines near the camera are solid; farther ones are drawn half through, and past where cells
  // shrink to a few pixels not at all, so the distance does not turn into a white sheet.
  const float solid = 10.0f * RENDER_CELL_F, farthest = (mode == _wireframe_submeshes ? 200.0f : 36.0f) * RENDER_CELL_F;
  const auto line = [&](const render_point& a, const render_point& b) {
    const float nearer = std::min(a.z, b.z);
    if (nearer > farthest) return;
    render_line_3d(pixels, a, b, line_color, false, nearer > solid);
  };
  for (int32_t j = 0; j <= w.height; ++j)
    for (int32_t i = 0; i <= w.width; ++i) {
      const int32_t gx = w.x0 + i, gy = w.y0 + j;
      const render_point p = grid_point(i, j, 0, 0);
      if (i < w.width && (mode != _wireframe_submeshes || gy % CELLS_PER_SUBMESH == 0)) line(p, grid_point(i + 1, j, 0, 0));
      if (j < w.height && (mode != _wireframe_submeshes || gx % CELLS_PER_SUBMESH == 0)) line(p, grid_point(i, j + 1, 0, 0));
      if (diagonals && i < w.width && j < w.height) {
        if (((gx + gy) & 1) == 0)
          line(p, grid_point(i + 1, j + 1, 0, 0));
        else
          line(grid_point(i + 1, j, 0, 0), grid_point(i, j + 1, 0, 0));
      }
    }
  // The selected vertices, as small squares.
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  for (int32_t j = 0; j <= w.height; ++j)
    for (int32_t i = 0; i <= w.width; ++i) {
      const int32_t gx = w.x0 + i, gy = w.y0 + j;
      if (gx >= across || gy >= down || !(mesh_get_cell(gx, gy)->terrain_and_flags & _cell_selected)) continue;
      const render_grid_vertex& g = grid_at(i, j);
      if (g.z < RENDER_NEAR) continue;
      const int32_t x = int32_t(g.sx), y = int32_t(g.sy);
      render_fill_rect(pixels, x - 2, y - 2, x + 2, y + 2, render_rgb(255, 40, 40));
      render_fill_rect(pixels, x - 1, y - 1, x + 1, y + 1, kSelectedColor);
    }
}

// ---- texts ----

void render_pass_text(render_view* view) {
  int32_t y = 4;
  if (const char* message = screen_message_current(screen_message_clock())) {
    render_text(view->pixels, 4, y, message, render_rgb(255, 255, 255));
    y += 10;
  }
  if (render->statistics_shown) {
    const render_frame_statistics& s = render->statistics;
    char line[160];
    std::snprintf(line, sizeof(line), "#%d/#%d (%3.2f%%) triangles for #%d/#%d (%3.2f%%) bytes", s.triangles_drawn,
                  s.triangles_considered,
                  s.triangles_considered ? 100.0 * s.triangles_drawn / s.triangles_considered : 0.0,
                  int(s.pool_bytes_used), int(RENDER_MEMORY_POOL_SIZE),
                  100.0 * double(s.pool_bytes_used) / RENDER_MEMORY_POOL_SIZE);
    render_text(view->pixels, 4, y, line, render_rgb(255, 255, 160));
  }
}

// ---- colours ----

const uint16_t* render_landscape_shades() {
  if (!mesh_header()) return nullptr;
  const int16_t collection = mesh_landscape_collection();
  const color_table* colors = collection_get_color_table(collection);
  if (!colors) return nullptr;
  const uint64_t stamp = render_hash_bytes(0x9E3779B97F4A7C15ull, colors, sizeof(*colors));
  if (render->landscape_collection != collection || render->landscape_stamp != stamp) {
    build_light_ramp(*colors, SHADING_TABLE_LEVELS, render->landscape_shades, nullptr);
    render->landscape_collection = collection;
    render->landscape_stamp = stamp;
  }
  return render->landscape_shades;
}

const uint16_t* render_sprite_palette(int16_t collection, int16_t team, int16_t shading_mode) {
  collection_header* header = collection_get_header(collection);
  const color_table* colors = collection_get_color_table(collection);
  if (!header || !colors) return nullptr;
  // A collection loaded again into the same slot may bring other colours: each palette compares
  // its colour table once a frame.
  ++render->palette_clock;
  uint64_t stamp = 0;
  bool stamped = false;
  const auto colors_stamp = [&] {
    if (!stamped) stamp = render_hash_bytes(0x84222325CBF29CE4ull, colors, sizeof(*colors));
    stamped = true;
    return stamp;
  };
  render_palette_entry* oldest = &render->palettes[0];
  for (render_palette_entry& entry : render->palettes) {
    if (entry.collection == collection && entry.team == team && entry.shading_mode == shading_mode &&
        (entry.checked_frame == render->frame_number || entry.colors_stamp == colors_stamp())) {
      entry.checked_frame = render->frame_number;
      entry.last_used = render->palette_clock;
      return entry.pixels;
    }
    if (entry.last_used < oldest->last_used) oldest = &entry;
  }
  color_table table = *colors;
  const game_description* game = world_get_game_description();
  if (team >= 0 && game && game->player_count > 0 && header->hue_changes.count > 0) {
    const hue_change* changes = collection_block_get_hue_change(*header, collection_get_data(collection), 0);
    const player_description& player = game->players[team % std::min<int32_t>(game->player_count, MAXIMUM_PLAYERS_PER_GAME)];
    const rgb_color specials[2] = {{0, 0, 0, RGB_COLOR_UNUSED}, {0, 0, 0, RGB_COLOR_UNUSED}};
    if (changes)
      color_table_apply_hue_changes(table, changes, int(std::min<uint32_t>(header->hue_changes.count, 64)),
                                    player.colors, 2, specials);
  }
  const int32_t count = color_table_color_count(table);
  render_palette_entry& entry = *oldest;
  for (int32_t i = 0; i < 256; ++i) {
    rgb_color c = i < count ? table.colors[i] : rgb_color{0, 0, 0, 0};
    if (shading_mode == _object_shading_stone) {
      const uint16_t grey = uint16_t((uint32_t(c.red) * 3 + uint32_t(c.green) * 5 + uint32_t(c.blue) * 2) / 10);
      c = {grey, grey, grey, 0};
    }
    entry.pixels[i] = screen_pixel(c.red, c.green, c.blue);
  }
  entry.collection = collection;
  entry.team = team;
  entry.shading_mode = shading_mode;
  entry.colors_stamp = colors_stamp();
  entry.checked_frame = render->frame_number;
  entry.last_used = render->palette_clock;
  return entry.pixels;
}
