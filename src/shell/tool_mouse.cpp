// The tools' mouse: a press picks what lies under the cursor and acts on it or arms a drag; a held
// button becomes a drag once the armed time has come; the release ends strokes and drags.
#include <QPoint>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "map/markers.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "render/screen_messages.h"
#include "shell/map_actions_window.h"
#include "shell/scenery_window.h"
#include "shell/shadow_commands.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "shell/tool_terrain.h"
#include "shell/vellgrim_frame.h"
#include "shell/visual_view.h"
#include "tools/connector_selection.h"
#include "tools/edit_journal.h"
#include "tools/height_painter.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"
#include "tools/reflection_map_utils.h"
#include "tools/shadow_editor.h"
#include "tools/terrain_painter.h"
#include "tools/vertex_selection.h"

tool_drag_state tool_drag = {0, 0, -1, -1, 0, 0, false, false, false, false, _tool_drag_none, 0, 0, 0};

uint32_t tool_time_now() { return uint32_t(uint64_t(shell_tick_count()) * 60 / 1000); }

namespace {

enum : uint32_t { ARMING_DELAY = 5, MODEL_ARMING_DELAY = 10 };
enum { MAXIMUM_HITS = 4096 };

// The journal step a held drag's many small steps are joined after, at the release.
uint64_t drag_base_serial = 0;
const char* drag_step_name = nullptr;

bool placement_tool(int32_t tool) { return tool_marker_type(tool) >= 0; }

uint16_t pick_mask(int32_t tool) {
  switch (tool) {
    case _tool_preview:
    case _tool_place_model:
    case _tool_place_local_projectile_group:
    case _tool_place_model_animation: return _pick_marker | _pick_model | _pick_ground;
    case _tool_select_vertex:
    case _tool_select_cell: return _pick_ground | _pick_vertex;
    case _tool_height_painter:
    case _tool_submesh:
    case _tool_terrain_painting:
    case _tool_reflection_painting: return _pick_ground;
    case _tool_map_actions: return 0;  // the map actions window picks by its own mode
    default: return _pick_marker | _pick_ground;
  }
}

// The first hit of the kinds; Select Vertex prefers a vertex behind the ground point.
bool pick_first(int32_t x, int32_t y, uint16_t kinds, bool prefer_vertex, render_pick_hit* hit) {
  if (!kinds) return false;
  std::vector<render_pick_hit> hits(64);
  const int32_t count = std::min<int32_t>(render_pick_point(x, y, kinds, hits.data(), int32_t(hits.size())),
                                          int32_t(hits.size()));
  if (count <= 0) return false;
  *hit = hits[0];
  if (prefer_vertex)
    for (int32_t k = 0; k < count; ++k)
      if (hits[k].kind == _pick_vertex) {
        *hit = hits[k];
        break;
      }
  return true;
}

void arm_drag(int16_t x, int16_t y, int32_t anchor_x, int32_t anchor_y, uint32_t time, uint32_t delay) {
  tool_drag.start_x = x;
  tool_drag.start_y = y;
  tool_drag.anchor_x = anchor_x;
  tool_drag.anchor_y = anchor_y;
  tool_drag.facing = 0;
  // 0 means unarmed: a press in the program's first sixtieth still arms.
  tool_drag.armed_time = std::max<uint32_t>(time + delay, 1);
}

void disarm() {
  tool_drag.dragging = false;
  tool_drag.height_drag = false;
  tool_drag.facing = 0;
  tool_drag.armed_time = 0;
  tool_drag.anchor_x = tool_drag.anchor_y = -1;
  tool_drag.kind = _tool_drag_none;
}

bool marker_selected(int32_t index) { return connector_selection_contains_index(index); }

std::vector<int32_t> selected_marker_indices() { return connector_selection_indices(); }

void select_marker(int32_t index, bool selected) {
  if (selected)
    (void)connector_selection_add_index(index);
  else
    connector_selection_remove_index(index);
}

// The tool whose palette a marker type belongs to, for the current entry a selected marker sets.
int32_t tool_of_marker_type(int16_t type) {
  for (int32_t tool = 0; tool < NUMBER_OF_TOOLS; ++tool)
    if (tool_marker_type(tool) == type && tool != _tool_place_model && tool != _tool_place_model_animation) return tool;
  return -1;
}

void press_marker(int32_t tool, int32_t index, uint16_t modifiers, int16_t x, int16_t y, uint32_t time) {
  if (index < 0 || index >= mesh_marker_count()) return;
  const marker_data marker = mesh_markers()[index];
  const bool shift = modifiers & INPUT_MODIFIER_SHIFT;
  if (!marker_selected(index)) {
    if (!shift) connector_selection_clear();
    const bool selects = tool == _tool_preview || (placement_tool(tool) && tool != _tool_place_model &&
                                                   tool != _tool_place_model_animation &&
                                                   tool_marker_type(tool) == marker.type);
    if (selects) {
      select_marker(index, true);
      tool_set_palette_entry(tool_of_marker_type(marker.type), int16_t(marker.palette_index + 1));
    }
  } else if (shift) {
    select_marker(index, false);
  }
  arm_drag(x, y, marker.location.x, marker.location.y, time, ARMING_DELAY);
  tool_drag.anchor_z = marker.location.z;
}

// A placement tool's marker at the point, facing 0, on the ground unless told to keep the point's
// height (a group set on a model); a full list says so.
void place_marker(int32_t tool, const world_point3d& point, bool on_ground = true) {
  (void)AddMarker(tool_marker_type(tool), tool_palette_entry(tool), point, 0, false, on_ground);
}

void press_ground(int32_t tool, const render_pick_hit& hit, uint16_t modifiers, int16_t x, int16_t y, uint32_t time) {
  const bool shift = modifiers & INPUT_MODIFIER_SHIFT;
  switch (tool) {
    case _tool_preview:
      if (connector_selection_count() == 0 || shift) {
        tool_drag.kind = _tool_drag_rubber_band;
        arm_drag(x, y, hit.a, hit.b, time, ARMING_DELAY);
      }
      if (!shift) connector_selection_clear();
      break;
    case _tool_select_vertex:
    case _tool_submesh: arm_drag(x, y, hit.a, hit.b, time, ARMING_DELAY); break;
    case _tool_height_painter:
      height_painter_apply(shift, hit.a / 512.0, hit.b / 512.0, height_painter_tick_now());
      tool_overlay_set_brush(true, hit.a / 512.0, hit.b / 512.0);
      arm_drag(x, y, hit.a, hit.b, time, ARMING_DELAY);
      break;
    case _tool_select_cell:
      vertex_selection_click_cell(hit.a, hit.b, modifiers);
      arm_drag(x, y, hit.a, hit.b, time, ARMING_DELAY);
      break;
    case _tool_terrain_painting:
      if (tool_terrain_press(hit, modifiers)) arm_drag(x, y, hit.a, hit.b, time, ARMING_DELAY);
      break;
    case _tool_reflection_painting:
      if (reflection_paint_toggle(hit.a, hit.b)) visual_view_invalidate();
      break;
    case _tool_place_model:
    case _tool_place_model_animation:
      // The placed model becomes current: a drag from here moves or turns it, as a step of its own.
      if (tool_models_place(tool, hit.point)) {
        drag_base_serial = edit_journal_undo_serial();
        arm_drag(x, y, hit.point.x, hit.point.y, time, ARMING_DELAY);
      }
      break;
    default:
      if (placement_tool(tool)) place_marker(tool, hit.point);
      break;
  }
}

// After a pop-up opened from a held button: the pop-up took the release, so do its clean-up here.
void release_after_popup() {
  disarm();
  if (shell.frame) shell.frame->setMouseCaptured(false);
  UpdateMenuState();
}

void held_marker_tools(uint16_t modifiers, int32_t x, int32_t y, int16_t client_x, int16_t client_y) {
  if (tool_drag.kind == _tool_drag_rubber_band) {
    std::vector<render_pick_hit> hits(MAXIMUM_HITS);
    const int32_t count = std::min<int32_t>(
        render_pick_rectangle(tool_drag.start_x, tool_drag.start_y, x, y, _pick_marker, hits.data(), MAXIMUM_HITS),
        MAXIMUM_HITS);
    for (int32_t k = 0; k < count; ++k)
      if (!marker_selected(hits[k].a)) select_marker(hits[k].a, true);
    return;
  }
  const bool moving = modifiers & (INPUT_MODIFIER_RIGHT_BUTTON | INPUT_MODIFIER_CTRL);
  if (!moving && (modifiers & INPUT_MODIFIER_ALT)) {
    QWidget* view = shell.frame ? shell.frame->visualView() : nullptr;
    const QPoint global = view ? view->mapToGlobal(QPoint(client_x, client_y)) : QPoint(client_x, client_y);
    if (tool_models_variant_popup(shell.current_tool, view, global)) {
      release_after_popup();
      return;
    }
  }
  const std::vector<int32_t> selected = selected_marker_indices();
  render_pick_hit hit;
  if (selected.empty()) {
    // No markers selected: the drag moves (right button or Ctrl) or turns the current model.
    if (!pick_first(x, y, _pick_ground, false, &hit)) return;
    const int32_t tool = shell.current_tool;
    if (modifiers & (INPUT_MODIFIER_RIGHT_BUTTON | INPUT_MODIFIER_CTRL)) {
      if (!tool_models_move_current(tool, hit.point)) return;
      if (!drag_step_name) drag_step_name = "Move Model";
      tool_drag.kind = _tool_drag_move;
    } else {
      uint16_t facing = 0;
      if (!tool_models_turn_current(tool, hit.point, &facing)) return;
      if (!drag_step_name) drag_step_name = "Turn Model";
      tool_drag.kind = _tool_drag_facing;
      tool_drag.facing = facing;
    }
    return;
  }
  if (modifiers & (INPUT_MODIFIER_RIGHT_BUTTON | INPUT_MODIFIER_CTRL)) {
    if (!pick_first(x, y, _pick_ground | _pick_model, false, &hit)) return;
    if (!marker_operation_move(selected, hit.point)) return;
    if (hit.kind == _pick_model) {
      tool_drag.anchor_x = hit.point.x;
      tool_drag.anchor_y = hit.point.y;
    }
    if (!drag_step_name) drag_step_name = "Move Markers";
    tool_drag.kind = _tool_drag_move;
    tool_drag.start_x = int16_t(x);
    tool_drag.start_y = int16_t(y);
  } else {
    if (!pick_first(x, y, _pick_ground, false, &hit) || tool_drag.anchor_x < 0) return;
    const double angle = std::atan2(double(tool_drag.anchor_y - hit.b), double(tool_drag.anchor_x - hit.a));
    // The direction from the point to the anchor, plus a half turn: the marker faces the cursor.
    const uint16_t facing = uint16_t(int32_t(std::lround(angle * 65536.0 / (2 * M_PI))) + 0x8000);
    if (!marker_operation_turn(selected, facing)) return;
    if (!drag_step_name) drag_step_name = "Turn Markers";
    tool_drag.kind = _tool_drag_facing;
    tool_drag.facing = facing;
  }
}

}  // namespace

void ToolMouseDown(uint32_t time, uint16_t modifiers, int16_t client_x, int16_t client_y) {
  tool_drag.vertex_grabbed = false;
  tool_drag.kind = _tool_drag_none;
  tool_drag.left_button = !(modifiers & INPUT_MODIFIER_RIGHT_BUTTON);
  drag_base_serial = edit_journal_undo_serial();
  drag_step_name = nullptr;
  if (!shell_map_is_open()) return;
  int32_t vx = 0, vy = 0;
  render_client_to_view(client_x, client_y, &vx, &vy);
  const int16_t x = int16_t(vx), y = int16_t(vy);
  tool_drag.cursor_x = x;
  tool_drag.cursor_y = y;
  const int32_t tool = shell.current_tool;
  if (tool == _tool_map_actions) {
    MapActionsToolPress(time, modifiers, x, y);
    tool_overlay_changed();
    UpdateMenuState();
    return;
  }
  render_pick_hit hit;
  if (!pick_first(x, y, pick_mask(tool), tool == _tool_select_vertex, &hit)) {
    UpdateMenuState();
    return;
  }
  switch (hit.kind) {
    case _pick_vertex:
      if (tool == _tool_select_vertex) vertex_selection_click_vertex(hit.a, hit.b, modifiers);
      arm_drag(x, y, -1, -1, time, ARMING_DELAY);
      tool_drag.vertex_grabbed = true;
      break;
    case _pick_ground: press_ground(tool, hit, modifiers, x, y, time); break;
    case _pick_model:
      if (tool == _tool_preview || tool == _tool_place_model || tool == _tool_place_model_animation) {
        vertex_selection_clear();
        connector_selection_clear();
        tool_models_press_model(tool, hit.a, hit.b != 0);
        arm_drag(x, y, hit.point.x, hit.point.y, time, MODEL_ARMING_DELAY);
      } else if (tool == _tool_place_local_projectile_group) {
        // On the model itself: the group keeps the model's height, not the ground's under it.
        place_marker(tool, hit.point, false);
      }
      break;
    case _pick_marker: press_marker(tool, hit.a, modifiers, x, y, time); break;
    default: break;
  }
  tool_overlay_changed();
  UpdateMenuState();
}

void ToolMouseHeld(uint16_t modifiers, int16_t client_x, int16_t client_y) {
  if (!shell_map_is_open()) return;
  int32_t x = 0, y = 0;
  render_client_to_view(client_x, client_y, &x, &y);
  if (!tool_drag.dragging) {
    if (!tool_drag.armed_time || tool_time_now() < tool_drag.armed_time) return;
    // A grabbed vertex waits for the first movement: its direction tells a height drag from a
    // rectangle, and a button held still would otherwise always make a height drag.
    if (tool_drag.vertex_grabbed && x == tool_drag.start_x && y == tool_drag.start_y) return;
    tool_drag.dragging = true;
    tool_drag.height_drag = tool_drag.vertex_grabbed &&
                            vertex_selection_drag_kind(x - tool_drag.start_x, y - tool_drag.start_y, true) ==
                                _vertex_drag_height;
    if (tool_drag.height_drag) vertex_selection_height_drag_begin();
  }
  tool_drag.cursor_x = int16_t(x);
  tool_drag.cursor_y = int16_t(y);
  tool_overlay_changed();
  // The cursor follows the drag's kind once the tool has chosen it.
  struct cursor_after {
    ~cursor_after() { tool_cursor_update(); }
  } cursor;
  const int32_t tool = shell.current_tool;
  switch (tool) {
    case _tool_select_vertex:
    case _tool_select_cell:
      if (tool_drag.height_drag) {
        if (vertex_selection_any()) {
          vertex_selection_height_drag_move(tool_drag.start_y - y);
          tool_drag.start_x = int16_t(x);
          tool_drag.start_y = int16_t(y);
        }
      } else {
        vertex_selection_rectangle_begin(modifiers);
        std::vector<render_pick_hit> hits(MAXIMUM_HITS);
        const int32_t count = std::min<int32_t>(
            render_pick_rectangle(tool_drag.start_x, tool_drag.start_y, x, y, _pick_vertex, hits.data(), MAXIMUM_HITS),
            MAXIMUM_HITS);
        std::vector<vertex_location> vertices;
        for (int32_t k = 0; k < count; ++k) vertices.push_back({hits[k].a, hits[k].b});
        vertex_selection_rectangle_mark(vertices, modifiers);
      }
      break;
    case _tool_height_painter: {
      render_pick_hit hit;
      if (!pick_first(x, y, _pick_ground, false, &hit)) return;
      height_painter_apply(modifiers & INPUT_MODIFIER_SHIFT, hit.a / 512.0, hit.b / 512.0, height_painter_tick_now());
      tool_overlay_set_brush(true, hit.a / 512.0, hit.b / 512.0);
      break;
    }
    case _tool_submesh: {
      render_pick_hit hit;
      if (!pick_first(x, y, _pick_ground, false, &hit)) return;
      QWidget* view = shell.frame ? shell.frame->visualView() : nullptr;
      const QPoint global = view ? view->mapToGlobal(QPoint(client_x, client_y)) : QPoint(client_x, client_y);
      ShowShadowToolPopup(view, global, hit.a, hit.b);
      release_after_popup();
      return;
    }
    case _tool_map_actions: MapActionsToolHeld(x, y); return;
    case _tool_terrain_painting: {
      render_pick_hit hit;
      if (!pick_first(x, y, _pick_ground, false, &hit) || !tool_terrain_held(hit, modifiers)) return;
      // The right button's triangles are steps of their own: the release joins them.
      if ((modifiers & INPUT_MODIFIER_RIGHT_BUTTON) && !drag_step_name) drag_step_name = TERRAIN_PAINTER_TRIANGLE_STEP_NAME;
      break;
    }
    case _tool_place_projectile:
    case _tool_reflection_painting: return;
    default: held_marker_tools(modifiers, x, y, client_x, client_y); return;
  }
  // What a held tool changes is recorded in the edit journal, which tells whether the map differs
  // from its saved state (and updates the menus): marking it modified here would outlast an Undo
  // back to that state.
}

void ToolMouseUp(uint16_t modifiers) {
  if (shell.current_tool == _tool_height_painter) height_painter_end_stroke();
  if (shell.current_tool == _tool_map_actions) MapActionsToolRelease(modifiers);
  if (shell.current_tool == _tool_terrain_painting) tool_terrain_release();
  if (tool_drag.dragging) {
    if (tool_drag.height_drag) vertex_selection_height_drag_end();
    if (drag_step_name) (void)edit_journal_merge_after(drag_base_serial, drag_step_name);
    disarm();
    UpdateMenuState();
  } else {
    // A quick click with the Submesh tool toggles the submesh's protection.
    if (tool_drag.armed_time && tool_time_now() < tool_drag.armed_time && shell.current_tool == _tool_submesh) {
      render_pick_hit hit;
      const int32_t submesh =
          pick_first(tool_drag.start_x, tool_drag.start_y, _pick_ground, false, &hit) ? shadow_submesh_at(hit.a, hit.b) : -1;
      if (submesh >= 0 && shadow_toggle_protected(submesh)) {
        // Nothing on the view shows the bit: say what the click did.
        screen_message_show(shadow_submesh_is_protected(submesh) ? "Submesh %d protected\n" : "Submesh %d unprotected\n",
                            submesh);
      }
    }
    tool_drag.armed_time = 0;
  }
  drag_step_name = nullptr;
  tool_cursor_update();
  tool_overlay_changed();
}

void ToolDoubleClick(uint16_t modifiers, int16_t client_x, int16_t client_y) {
  tool_drag.vertex_grabbed = false;
  tool_drag.kind = _tool_drag_none;
  if (!shell_map_is_open()) return;
  int32_t x = 0, y = 0;
  render_client_to_view(client_x, client_y, &x, &y);
  const bool ground_only =
      shell.current_tool == _tool_height_painter || shell.current_tool == _tool_terrain_painting;
  render_pick_hit hit;
  if (!pick_first(x, y, uint16_t(ground_only ? _pick_ground : _pick_marker | _pick_model | _pick_ground), false, &hit))
    return;
  if (hit.kind == _pick_marker && !(modifiers & INPUT_MODIFIER_SHIFT) && connector_selection_count() > 0)
    DispatchMenuCommand(32821);  // Edit Marker
}
