// What the current tool draws over the visual view: the height painter's brush, the dashed
// selection rectangle while dragging, the facing indicator of a turn, and the selected markers.
#include <algorithm>
#include <cmath>

#include "engine/definition_groups.h"
#include "map/marker_utils.h"
#include "map/markers.h"
#include "tag_files/tag_files.h"
#include "map/mesh.h"
#include "shell/map_actions_window.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "shell/tool_terrain.h"
#include "tools/connector_selection.h"
#include "tools/height_painter.h"
#include "tools/vertex_selection.h"
#include "world/models.h"

namespace {

enum : uint16_t {
  COLOR_YELLOW = 0x7FE0,  // 5-5-5
  COLOR_WHITE = 0x7FFF,
  COLOR_GREY = 0x4210,
};

struct overlay_state {
  bool brush_shown = false;
  double brush_x = 0, brush_y = 0;
  uint64_t stamp = 1;
  // The hovered marker by type and identifier: a save sorts the list under an index.
  int16_t hovered_type = -1, hovered_identifier = 0;
  int32_t hovered_index = -1;  // for a marker not yet numbered
} overlay;

bool is_hovered(int32_t index) {
  if (overlay.hovered_type < 0 || index < 0 || index >= mesh_marker_count()) return false;
  const marker_data& marker = mesh_markers()[index];
  if (marker.identifier == 0) return index == overlay.hovered_index;
  return marker.type == overlay.hovered_type && marker.identifier == overlay.hovered_identifier;
}

void draw_polyline(render_view* view, const std::vector<world_point3d>& points, uint16_t color) {
  for (size_t k = 0; k + 1 < points.size(); ++k) render_view_draw_line(view, points[k], points[k + 1], color, true);
}

// The selected vertices as small squares, over the wireframe.
void draw_selected_vertices(render_view* view) {
  if (render_get_view_settings()->wireframe_mode == _wireframe_none || !vertex_selection_any()) return;
  for (const vertex_location& vertex : vertex_selection_list()) {
    const mesh_cell* cell = mesh_get_cell(vertex.x, vertex.y);
    if (!cell) continue;
    const world_point3d point = {vertex.x << WORLD_FRACTIONAL_BITS, vertex.y << WORLD_FRACTIONAL_BITS,
                                 cell->ground_height};
    int32_t x, y;
    float depth;
    if (render_view_project(view, point, &x, &y, &depth)) render_view_fill_rect(view, x - 1, y - 1, x + 2, y + 2, COLOR_YELLOW);
  }
}

// Place Sound Source: the ambient sound's name at each sound source.
void draw_sound_source_names(render_view* view) {
  for (int32_t index = 0; index < mesh_marker_count(); ++index) {
    const marker_data& marker = mesh_markers()[index];
    if (marker.type != _marker_sound_source) continue;
    const marker_palette_entry* entry = palette_entry_get(marker.type, marker.palette_index);
    if (!entry) continue;
    const int32_t tag_index = tag_file_find(ambient_sound_definitions.group_tag, entry->definition_tag);
    if (tag_index == NONE) continue;
    int32_t x, y;
    float depth;
    if (render_view_project(view, marker.location, &x, &y, &depth))
      render_view_draw_text(view, x, y, tag_file_get_name(tag_index), COLOR_WHITE);
  }
}

// Before the scene: the current model and the current model animation are drawn highlighted, every
// other one plainly. With show models off nothing is highlighted.
void before_scene(render_view*) {
  const render_view_settings* settings = render_get_view_settings();
  const bool shown = settings->show_models != 0;
  const marker_data* model_marker = nullptr;
  const marker_data* animation_marker = nullptr;
  if (shown) {
    const int32_t model = tool_models_current_marker(_marker_model);
    const int32_t animation = tool_models_current_marker(_marker_model_animation);
    if (model >= 0) model_marker = &mesh_markers()[model];
    if (animation >= 0) animation_marker = &mesh_markers()[animation];
  }
  for (int32_t i = 0; i < MAXIMUM_MODELS_PER_MAP; ++i) {
    world_model* model = model_get(i);
    if (!model) continue;
    const bool current = model_marker && model_marker->object_index == i;
    model->flags = current ? uint16_t(model->flags | _model_highlighted) : uint16_t(model->flags & ~_model_highlighted);
  }
  for (int32_t i = 0; i < MAXIMUM_MODEL_ANIMATIONS_PER_MAP; ++i) {
    world_model_animation* animation = model_animation_get(i);
    if (!animation) continue;
    const bool current = animation_marker && animation_marker->object_index == i;
    animation->flags =
        current ? uint16_t(animation->flags | _model_highlighted) : uint16_t(animation->flags & ~_model_highlighted);
  }
}

// Place Model and Place Model Animation: the preview's box where a press would place it, a line to
// its front, and its name above it.
void draw_model_preview(render_view* view) {
  // While a drag moves or turns the model itself, a box at the cursor would only mislead.
  tool_model_outline outline;
  if (tool_drag.dragging || !tool_models_preview_outline(shell.current_tool, &outline)) return;
  for (int32_t a = 0; a < 8; ++a)
    for (int32_t bit = 1; bit < 8; bit <<= 1)
      if (!(a & bit)) render_view_draw_line(view, outline.corners[a], outline.corners[a | bit], COLOR_WHITE, true);
  render_view_draw_line(view, outline.location, outline.front, COLOR_YELLOW, true);
  world_point3d top = outline.location;
  for (const world_point3d& corner : outline.corners) top.z = std::max(top.z, corner.z);
  int32_t x, y;
  float depth;
  if (outline.name[0] && render_view_project(view, top, &x, &y, &depth))
    render_view_draw_text(view, x, y - 10, outline.name, COLOR_WHITE);
}

void after_scene(render_view* view) {
  draw_selected_vertices(view);
  draw_model_preview(view);
  if (shell.current_tool == _tool_place_sound_source) draw_sound_source_names(view);
  if (shell.current_tool == _tool_map_actions) DrawMapActionOverlay(view);
  if (shell.current_tool == _tool_height_painter && overlay.brush_shown) {
    height_painter_outline outline;
    if (height_painter_get_outline(overlay.brush_x, overlay.brush_y, &outline)) {
      draw_polyline(view, outline.inner, COLOR_WHITE);
      draw_polyline(view, outline.outer, COLOR_GREY);
    }
  }
  if (shell.current_tool == _tool_terrain_painting)
    tool_terrain_draw_overlay(view, overlay.brush_shown, overlay.brush_x, overlay.brush_y);
  if (!tool_drag.dragging) return;
  if (tool_drag.kind == _tool_drag_facing && tool_drag.anchor_x >= 0) {
    const double angle = tool_drag.facing * 2 * M_PI / 65536.0;
    const int32_t z = tool_drag.anchor_z;
    const world_point3d from = {tool_drag.anchor_x, tool_drag.anchor_y, z};
    const world_point3d to = {tool_drag.anchor_x + int32_t(std::lround(std::cos(angle) * 512)),
                              tool_drag.anchor_y + int32_t(std::lround(std::sin(angle) * 512)), z};
    int32_t x0, y0, x1, y1;
    float depth;
    if (render_view_project(view, from, &x0, &y0, &depth) && render_view_project(view, to, &x1, &y1, &depth))
      render_view_draw_screen_line(view, x0, y0, x1, y1, COLOR_YELLOW, false);
    return;
  }
  const int32_t tool = shell.current_tool;
  const bool rectangle = (tool == _tool_preview && tool_drag.kind == _tool_drag_rubber_band) ||
                         ((tool == _tool_select_vertex || tool == _tool_select_cell) && !tool_drag.height_drag);
  if (!rectangle || !tool_drag.left_button) return;
  const int32_t x0 = tool_drag.start_x, y0 = tool_drag.start_y, x1 = tool_drag.cursor_x, y1 = tool_drag.cursor_y;
  render_view_draw_screen_line(view, x0, y0, x1, y0, COLOR_YELLOW, true);
  render_view_draw_screen_line(view, x1, y0, x1, y1, COLOR_YELLOW, true);
  render_view_draw_screen_line(view, x1, y1, x0, y1, COLOR_YELLOW, true);
  render_view_draw_screen_line(view, x0, y1, x0, y0, COLOR_YELLOW, true);
}

uint16_t marker_state(int32_t index) {
  if (index < 0 || index >= mesh_marker_count()) return 0;
  if (connector_selection_contains_index(index)) return _render_marker_selected;
  return is_hovered(index) ? _render_marker_hovered : 0;
}

// The selection lives outside the map's stamp: count it in, with the drag and the brush.
uint64_t stamp() {
  uint64_t value = overlay.stamp * 1000003u + uint64_t(connector_selection_count());
  value = value * 31 + uint64_t(vertex_selection_count());
  value = value * 31 + uint64_t(tool_models_current_marker(_marker_model) + 1) * 4099u +
          uint64_t(tool_models_current_marker(_marker_model_animation) + 1);
  value = value * 31 + uint64_t(tool_drag.cursor_x) * 65537u + uint64_t(tool_drag.cursor_y);
  value = value * 31 + (shell.current_tool == _tool_map_actions ? MapActionOverlayStamp() : 0);
  return value * 31 + uint64_t(tool_drag.dragging);
}

const render_overlay_procedures procedures = {before_scene, after_scene, marker_state, stamp};

}  // namespace

const render_overlay_procedures* tool_overlay_procedures() { return &procedures; }

void tool_overlay_changed() { ++overlay.stamp; }

void tool_overlay_set_brush(bool shown, double x, double y) {
  if (shown == overlay.brush_shown && x == overlay.brush_x && y == overlay.brush_y) return;
  overlay.brush_shown = shown;
  overlay.brush_x = x;
  overlay.brush_y = y;
  ++overlay.stamp;
}

void tool_overlay_set_hovered(int32_t marker_index) {
  const bool valid = marker_index >= 0 && marker_index < mesh_marker_count();
  const int16_t type = valid ? mesh_markers()[marker_index].type : int16_t(-1);
  const int16_t identifier = valid ? mesh_markers()[marker_index].identifier : int16_t(0);
  if (type == overlay.hovered_type && identifier == overlay.hovered_identifier &&
      (identifier != 0 || marker_index == overlay.hovered_index))
    return;
  overlay.hovered_index = valid ? marker_index : -1;
  overlay.hovered_type = type;
  overlay.hovered_identifier = identifier;
  ++overlay.stamp;
}
