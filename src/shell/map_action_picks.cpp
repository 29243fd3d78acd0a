// The Map Actions tool: what the mouse in the visual view adds to the selected parameter (markers,
// models, model animations, ground points, facings), and the overlay that shows what the selected
// parameter refers to on the visual view and the overhead view.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "map/map_actions.h"
#include "map/marker_utils.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "render/screen_messages.h"
#include "shell/map_actions_window.h"
#include "shell/overhead_view.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "tools/edit_journal.h"
#include "tools/map_action_operations.h"
#include "view/render.h"

namespace {

enum : uint16_t {
  COLOR_CYAN = 0x03FF,  // 5-5-5
  COLOR_WHITE = 0x7FFF,
};
enum : uint32_t { ARMING_DELAY = 5 };

struct pick_target {
  int32_t slot = -1;
  int32_t parameter = -1;
  const map_action_parameter_header* header = nullptr;
  const map_action_parameter_type_definition* definition = nullptr;
};

uint64_t overlay_changes = 1;

bool target(pick_target* t) {
  t->slot = map_actions_window_action_slot();
  t->parameter = map_actions_selection.selected_parameter;
  t->header = t->slot < 0 ? nullptr : map_action_parameter(t->slot, t->parameter);
  t->definition = t->header ? map_action_type_get(t->header->parameter_type) : nullptr;
  return t->definition != nullptr;
}

// After a pick: the element list with the answer selected (a change is in the edit journal).
int32_t finish(int32_t element) {
  map_actions_selection.selected_element = element;
  RefreshMapActionsWindow(MAP_ACTIONS_REBUILD_ELEMENTS, true);
  ++overlay_changes;
  return element;
}

// The element of the parameter holding that identifier, -1 for none.
int32_t element_with(const pick_target& t, int32_t identifier) {
  for (int32_t e = 0; e < t.header->element_count; ++e) {
    int32_t value = 0;
    if (map_action_element_value(t.slot, t.parameter, e, &value) && value == identifier) return e;
  }
  return -1;
}

// Select, delete (Alt) or append the element naming a marker.
int32_t add_reference(const pick_target& t, const marker_data& marker, bool alt) {
  const int32_t existing = element_with(t, marker.identifier);
  if (existing >= 0) {
    if (!alt) return finish(existing);
    if (!map_action_operation_remove_element(t.slot, t.parameter, existing)) return finish(-1);
    return finish(-1);
  }
  if (alt) return finish(-1);
  const int16_t identifier = marker.identifier;
  const int32_t element = t.header->element_count;
  if (!map_action_operation_append_elements(t.slot, t.parameter, 1, std::as_bytes(std::span(&identifier, 1))))
    return finish(-1);
  return finish(element);
}

world_point3d on_ground(int32_t x, int32_t y) {
  const int32_t z = mesh_height_at(x, y, _mesh_height_surface);
  return {x, y, z == NO_GROUND_HEIGHT ? 0 : z};
}

void mark(render_view* view, const world_point3d& point, const char* label) {
  int32_t x, y;
  float depth;
  if (!render_view_project(view, point, &x, &y, &depth)) return;
  render_view_fill_rect(view, x - 2, y - 2, x + 3, y + 3, COLOR_CYAN);
  if (label) render_view_draw_text(view, x + 5, y - 4, label, COLOR_WHITE);
}

bool first_hit(int32_t x, int32_t y, uint16_t kinds, render_pick_hit* hit) {
  render_pick_hit hits[16];
  if (!kinds || render_pick_point(x, y, kinds, hits, 16) <= 0) return false;
  *hit = hits[0];
  return true;
}

}  // namespace

int16_t MapActionsPickMode() {
  pick_target t;
  if (map_actions_selection.selected_action < 0 || !target(&t)) return _pick_mode_none;
  switch (t.definition->edit_kind) {
    case _edit_marker: return _pick_mode_markers;
    case _edit_model: return _pick_mode_models;
    case _edit_model_animation: return _pick_mode_model_animations;
    case _edit_point2d: return _pick_mode_points;
    case _edit_angle: return _pick_mode_facing;
    default: return _pick_mode_none;
  }
}

int32_t PickModeAddMarker(int32_t marker_index, bool alt) {
  pick_target t;
  if (!target(&t) || marker_index < 0 || marker_index >= mesh_marker_count()) return -1;
  const marker_data& marker = mesh_markers()[marker_index];
  // Only the kind of marker the parameter names: another would be read as the wrong object.
  if (t.definition->marker_type < 0 || marker.type != t.definition->marker_type) {
    screen_message_show(MAP_ACTIONS_WRONG_MARKER_MESSAGE, t.definition->name);
    return -1;
  }
  return add_reference(t, marker, alt);
}

int32_t PickModeAddModel(int32_t object_index, bool animation, bool alt) {
  pick_target t;
  if (!target(&t)) return -1;
  const int16_t type = animation ? _marker_model_animation : _marker_model;
  if (t.definition->marker_type != type) return -1;
  const marker_data* marker = marker_find_by_object(type, int16_t(object_index));
  if (marker == nullptr) return -1;
  return add_reference(t, *marker, alt);
}

int32_t PickModeAddPoint(world_point2d point, bool alternative) {
  pick_target t;
  if (!target(&t) || t.header->parameter_type != _parameter_world_point2d) return -1;
  for (int32_t e = 0; e < t.header->element_count; ++e) {
    int32_t x = 0, y = 0;
    if (!map_action_element_value(t.slot, t.parameter, e, &x, 0) || !map_action_element_value(t.slot, t.parameter, e, &y, 1))
      continue;
    if (std::hypot(double(x) - point.x, double(y) - point.y) <= MAP_ACTIONS_POINT_RADIUS) return finish(e);
  }
  if (!alternative) {
    const int32_t element = t.header->element_count;
    const int32_t data[2] = {point.x, point.y};
    if (!map_action_operation_append_elements(t.slot, t.parameter, 1, std::as_bytes(std::span(data))))
      return finish(-1);
    return finish(element);
  }
  const int32_t element = map_actions_selection.selected_element;
  if (element < 0 || element >= t.header->element_count) return finish(-1);
  journal_step step("Move Point");
  if (!step.is_open() || !map_action_operation_set_element_value(t.slot, t.parameter, element, point.x, 0) ||
      !map_action_operation_set_element_value(t.slot, t.parameter, element, point.y, 1) || !step.commit())
    return finish(element);
  return finish(element);
}

int32_t PickModeSetFacing(uint16_t facing, bool alternative) {
  pick_target t;
  if (!target(&t) || t.header->parameter_type != _parameter_angle) return -1;
  if (!alternative) {
    const int32_t element = t.header->element_count;
    const int16_t value = int16_t(facing);
    if (!map_action_operation_append_elements(t.slot, t.parameter, 1, std::as_bytes(std::span(&value, 1))))
      return finish(-1);
    return finish(element);
  }
  const int32_t element = map_actions_selection.selected_element;
  if (element < 0 || element >= t.header->element_count) return finish(-1);
  if (!map_action_operation_set_element_value(t.slot, t.parameter, element, int16_t(facing))) return finish(element);
  return finish(element);
}

// ---- the tool's mouse ----

void MapActionsToolPress(uint32_t time, uint16_t modifiers, int16_t x, int16_t y) {
  const int16_t mode = MapActionsPickMode();
  const uint16_t kinds = mode == _pick_mode_markers                                             ? _pick_marker
                         : (mode == _pick_mode_models || mode == _pick_mode_model_animations) ? _pick_model
                         : (mode == _pick_mode_points || mode == _pick_mode_facing)           ? _pick_ground
                                                                                             : 0;
  render_pick_hit hit;
  if (!first_hit(x, y, kinds, &hit)) return;
  const bool alt = modifiers & INPUT_MODIFIER_ALT;
  const bool alternative = modifiers & (INPUT_MODIFIER_RIGHT_BUTTON | INPUT_MODIFIER_CTRL);
  switch (mode) {
    case _pick_mode_markers: (void)PickModeAddMarker(hit.a, alt); break;
    case _pick_mode_models:
    case _pick_mode_model_animations:
      if ((hit.b != 0) == (mode == _pick_mode_model_animations)) (void)PickModeAddModel(hit.a, hit.b != 0, alt);
      break;
    case _pick_mode_points: (void)PickModeAddPoint({hit.a, hit.b}, alternative); break;
    case _pick_mode_facing:
      // A facing drag from the point: the release sets the facing.
      tool_drag.start_x = x;
      tool_drag.start_y = y;
      tool_drag.anchor_x = hit.point.x;
      tool_drag.anchor_y = hit.point.y;
      tool_drag.anchor_z = hit.point.z;
      tool_drag.facing = 0;
      tool_drag.armed_time = std::max<uint32_t>(time + ARMING_DELAY, 1);
      break;
    default: break;
  }
}

void MapActionsToolHeld(int32_t x, int32_t y) {
  if (MapActionsPickMode() != _pick_mode_facing || tool_drag.anchor_x < 0) return;
  render_pick_hit hit;
  if (!first_hit(x, y, _pick_ground, &hit)) return;
  const double angle = std::atan2(double(tool_drag.anchor_y - hit.b), double(tool_drag.anchor_x - hit.a));
  // The direction from the cursor's point to the anchor, plus a half turn: it faces the cursor.
  tool_drag.facing = uint16_t(int32_t(std::lround(angle * 65536.0 / (2 * M_PI))) + 0x8000);
  tool_drag.kind = _tool_drag_facing;
}

void MapActionsToolRelease(uint16_t modifiers) {
  if (!tool_drag.dragging || tool_drag.kind != _tool_drag_facing || MapActionsPickMode() != _pick_mode_facing) return;
  (void)PickModeSetFacing(tool_drag.facing, modifiers & (INPUT_MODIFIER_RIGHT_BUTTON | INPUT_MODIFIER_CTRL));
}

// ---- overlay ----

void DrawMapActionOverlay(render_view* view) {
  ClearOverheadPoints();
  pick_target t;
  const int16_t mode = MapActionsPickMode();
  if (mode == _pick_mode_none || !target(&t)) return;
  if (mode == _pick_mode_markers || mode == _pick_mode_models || mode == _pick_mode_model_animations) {
    SetOverheadPointsConnected(false);
    for (int32_t e = 0; e < t.header->element_count; ++e) {
      int32_t identifier = 0;
      if (!map_action_element_value(t.slot, t.parameter, e, &identifier)) continue;
      const marker_data* marker = marker_find_by_identifier(t.definition->marker_type, int16_t(identifier));
      if (marker == nullptr) continue;
      char label[16];
      std::snprintf(label, sizeof label, "#%d", int(identifier));
      if (view) mark(view, marker->location, label);
    }
    return;
  }
  if (mode != _pick_mode_points) return;
  SetOverheadPointsConnected(true);
  std::vector<world_point3d> points;
  for (int32_t e = 0; e < t.header->element_count; ++e) {
    int32_t x = 0, y = 0;
    if (!map_action_element_value(t.slot, t.parameter, e, &x, 0) || !map_action_element_value(t.slot, t.parameter, e, &y, 1))
      continue;
    AddOverheadPoint({x, y});
    points.push_back(on_ground(x, y));
  }
  if (!view) return;
  for (size_t k = 0; k < points.size(); ++k) {
    char label[16];
    std::snprintf(label, sizeof label, "#%d", int(k + 1));
    mark(view, points[k], label);
    if (k + 1 < points.size()) render_view_draw_line(view, points[k], points[k + 1], COLOR_CYAN, true);
  }
}

uint64_t MapActionOverlayStamp() {
  const map_actions_window_state& s = map_actions_selection;
  uint64_t value = overlay_changes;
  for (int32_t field : {s.selected_action, s.first_selected, s.selected_count, s.selected_parameter, s.selected_element})
    value = value * 1000003u + uint64_t(uint32_t(field));
  return value;
}

void MapActionOverlayChanged() { ++overlay_changes; }
