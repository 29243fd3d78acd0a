// Place Model and Place Model Animation: the current model and model animation, the preview that
// follows the cursor, placing, moving, turning and deleting. The current ones are kept by marker type
// and identifier, not by index, so Undo and deletions that shift the list can't point them at
// another marker; a marker that has gone leaves nothing current.
#include <cmath>
#include <cstdio>

#include "map/marker_utils.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "shell/shadow_commands.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "shell/tool_preferences.h"
#include "tools/model_operations.h"
#include "cseries/error_manager.h"

namespace {

struct current_marker {
  int16_t identifier = 0;  // 0: none
};

current_marker current_model, current_animation;

struct model_preview {
  world_point3d location{};
  uint16_t facing = 0;
  bool valid = false;
};
model_preview previews[2];  // model, model animation

enum : uint16_t { CONSTRAIN_TO_GRID = 0x0002 };
enum : uint16_t { PREVIEW_TURN_STEP = 0x0800 };  // a sixteenth of a turn per key press

int16_t type_of(int32_t tool) { return tool == _tool_place_model_animation ? _marker_model_animation : _marker_model; }
current_marker& current_of(int16_t type) { return type == _marker_model ? current_model : current_animation; }
model_preview& preview_of(int16_t type) { return previews[type == _marker_model ? 0 : 1]; }

int32_t resolve(int16_t type) {
  const current_marker& current = current_of(type);
  if (current.identifier == 0 || !mesh_is_open()) return -1;
  const marker_data* marker = marker_find_by_identifier(type, current.identifier);
  return marker ? int32_t(marker - mesh_markers()) : -1;
}

void set_current(int16_t type, int32_t marker_index) {
  current_of(type).identifier =
      marker_index >= 0 && marker_index < mesh_marker_count() ? mesh_markers()[marker_index].identifier : 0;
  if (type == _marker_model_animation) ShadowCommandsSetCurrentModelAnimationMarker(resolve(type));
}

// Snapped to whole cells when the tool's "Constrain to Grid" is set.
world_point3d snapped(int32_t tool, world_point3d point) {
  const uint16_t* flags = tool_preference_flags(tool);
  if (flags && (*flags & CONSTRAIN_TO_GRID)) {
    point.x = int32_t(std::lround(point.x / 512.0)) * 512;
    point.y = int32_t(std::lround(point.y / 512.0)) * 512;
  }
  return point;
}

void report_refusal(const char* what) {
  char text[400];
  std::snprintf(text, sizeof(text), "couldn't %s: %s", what, error_last_message());
  ui_message_box("Vellgrim", text, ui_icon_warning, ui_buttons_ok);
}

}  // namespace

int32_t tool_models_current_marker(int16_t type) { return resolve(type); }

void tool_models_forget() {
  current_model = current_animation = {};
  previews[0] = previews[1] = {};
  ShadowCommandsSetCurrentModelAnimationMarker(-1);
}

void tool_models_press_model(int32_t tool, int32_t object_index, bool animation) {
  const int16_t type = animation ? _marker_model_animation : _marker_model;
  if (tool != _tool_preview && type_of(tool) != type) return;
  const marker_data* marker = marker_find_by_object(type, int16_t(object_index));
  if (!marker) return;
  set_current(type, int32_t(marker - mesh_markers()));
  preview_of(type).facing = model_operation_facing(int32_t(marker - mesh_markers()));
}

void tool_models_follow_cursor(int32_t tool, bool ground_hit, const world_point3d& ground) {
  model_preview& preview = preview_of(type_of(tool));
  preview.valid = ground_hit;
  if (ground_hit) preview.location = snapped(tool, ground);
}

bool tool_models_place(int32_t tool, const world_point3d& ground) {
  tool_models_follow_cursor(tool, true, ground);
  const int16_t type = type_of(tool);
  const int16_t entry = tool_palette_entry(tool);
  if (entry < 1) return false;
  const model_preview& preview = preview_of(type);
  const int32_t index = model_operation_place(type, int16_t(entry - 1), preview.location.x, preview.location.y,
                                              preview.facing);
  if (index < 0) {
    report_refusal(type == _marker_model ? "place the model" : "place the model animation");
    return false;
  }
  set_current(type, index);
  SetMapModified(true);
  return true;
}

bool tool_models_move_current(int32_t tool, const world_point3d& ground) {
  for (int16_t type : {int16_t(_marker_model), int16_t(_marker_model_animation)}) {
    if (tool != _tool_preview && type_of(tool) != type) continue;
    const int32_t index = resolve(type);
    if (index < 0) continue;
    const world_point3d to = snapped(tool, ground);
    // Refused off the map before anything changes: the model stays where it was.
    if (!model_operation_move(index, to.x, to.y, model_operation_facing(index))) return false;
    SetMapModified(true);
    return true;
  }
  return false;
}

bool tool_models_turn_current(int32_t tool, const world_point3d& ground, uint16_t* facing_out) {
  const int16_t type = tool == _tool_place_model_animation ? _marker_model_animation : _marker_model;
  const int32_t index = resolve(type);
  if (index < 0) return false;
  const marker_data& marker = mesh_markers()[index];
  const uint16_t facing = model_operation_facing_toward(index, ground.x, ground.y);
  if (!model_operation_move(index, marker.location.x, marker.location.y, facing)) return false;
  preview_of(type).facing = facing;
  if (facing_out) *facing_out = facing;
  SetMapModified(true);
  return true;
}

bool tool_models_key(int32_t tool, uint8_t key) {
  if (tool != _tool_place_model && tool != _tool_place_model_animation) return false;
  enum : uint8_t { KEY_LEFT = 0x25, KEY_RIGHT = 0x27 };
  model_preview& preview = preview_of(type_of(tool));
  if (key == KEY_LEFT) preview.facing = uint16_t(preview.facing + PREVIEW_TURN_STEP);
  else if (key == KEY_RIGHT) preview.facing = uint16_t(preview.facing - PREVIEW_TURN_STEP);
  else return false;
  tool_overlay_changed();
  return true;
}

uint16_t tool_models_preview_facing(int32_t tool) { return preview_of(type_of(tool)).facing; }

bool tool_models_delete_current() {
  for (int16_t type : {int16_t(_marker_model), int16_t(_marker_model_animation)}) {
    const int32_t index = resolve(type);
    if (index < 0) continue;
    if (!model_operation_delete(index)) return false;
    set_current(type, -1);
    SetMapModified(true);
    return true;
  }
  return false;
}
