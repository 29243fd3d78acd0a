// Place Model and Place Model Animation: the current model and model animation, the preview that
// follows the cursor, placing, moving, turning and deleting. The current ones are kept by marker type
// and identifier, not by index, so Undo and deletions that shift the list can't point them at
// another marker; a marker that has gone leaves nothing current.
#include <QMenu>

#include <cmath>
#include <cstdio>

#include "map/marker_utils.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "tag_files/tag_files.h"
#include "platform/ui_host.h"
#include "shell/shadow_commands.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "shell/tool_preferences.h"
#include "tools/model_operations.h"
#include "world/models.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "engine/definitions.h"

namespace {

struct current_marker {
  int16_t identifier = 0;  // 0: none
};

current_marker current_model, current_animation;

struct model_preview {
  world_point3d location{};
  uint16_t facing = 0;
  uint16_t pitch = 0;  // a moved model's own tilt, shown while it follows the cursor
  bool valid = false;
};
model_preview previews[2];  // model, model animation

enum : uint16_t { CONSTRAIN_TO_GRID = 0x0002 };
// A key press turns the preview a sixteenth of a turn, or a quarter for a model that turns by quarters.
enum : uint16_t { PREVIEW_TURN_STEP = 0x1000, PREVIEW_QUARTER_TURN = 0x4000 };

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
  // With Preview the pressed one is the one Delete and the drags act on, whichever its kind.
  if (tool == _tool_preview)
    set_current(type == _marker_model ? _marker_model_animation : _marker_model, -1);
}

void tool_models_follow_cursor(int32_t tool, bool ground_hit, const world_point3d& ground) {
  model_preview& preview = preview_of(type_of(tool));
  const world_point3d location = ground_hit ? snapped(tool, ground) : preview.location;
  if (ground_hit != preview.valid || location.x != preview.location.x || location.y != preview.location.y)
    tool_overlay_changed();
  preview.valid = ground_hit;
  preview.location = location;
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
  return true;
}

bool tool_models_move_current(int32_t tool, const world_point3d& ground) {
  for (int16_t type : {int16_t(_marker_model), int16_t(_marker_model_animation)}) {
    if (tool != _tool_preview && type_of(tool) != type) continue;
    const int32_t index = resolve(type);
    if (index < 0) continue;
    const world_point3d to = snapped(tool, ground);
    // The preview takes the moved model's facing and pitch and shows it at its new place.
    model_preview& preview = preview_of(type);
    preview.facing = model_operation_facing(index);
    preview.pitch = mesh_markers()[index].pitch;
    // Refused off the map before anything changes: the model stays where it was.
    if (!model_operation_move(index, to.x, to.y, preview.facing)) return false;
    preview.location = to;
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
  return true;
}

// The definition of the tool's current palette entry; none for model animations and empty palettes.
const model_definition* entry_definition(int32_t tool) {
  if (type_of(tool) != _marker_model) return nullptr;
  const int16_t entry = tool_palette_entry(tool);
  const marker_palette_entry* palette = entry >= 1 ? palette_entry_get(_marker_model, int16_t(entry - 1)) : nullptr;
  if (!palette || palette->definition_index == NONE) return nullptr;
  return static_cast<const model_definition*>(definition_get_if_loaded(&model_definitions, palette->definition_index));
}

bool tool_models_key(int32_t tool, uint8_t key) {
  if (tool != _tool_place_model && tool != _tool_place_model_animation) return false;
  enum : uint8_t { KEY_LEFT = 0x25, KEY_RIGHT = 0x27 };
  if (key != KEY_LEFT && key != KEY_RIGHT) return false;
  if (tool_palette_entry(tool) < 1) return true;  // nothing chosen to turn
  const model_definition* definition = entry_definition(tool);
  const uint16_t step =
      definition && (definition->flags & MODEL_TURNS_BY_QUARTERS) ? PREVIEW_QUARTER_TURN : PREVIEW_TURN_STEP;
  model_preview& preview = preview_of(type_of(tool));
  preview.facing = uint16_t(key == KEY_LEFT ? preview.facing - step : preview.facing + step);
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
    return true;
  }
  return false;
}

bool tool_models_variant_popup(int32_t tool, QWidget* parent, const QPoint& global_position) {
  if (tool != _tool_preview && tool != _tool_place_model) return false;
  const int32_t index = resolve(_marker_model);
  if (index < 0) return false;
  const int16_t count = model_operation_variant_count(index);
  const int16_t variant = model_operation_variant(index);
  QMenu menu(parent);
  for (int16_t k = 0; k < count; ++k) {
    QAction* action = menu.addAction(QString::number(k));
    action->setCheckable(true);
    action->setChecked(k == variant);
    action->setData(int(k));
  }
  QAction* chosen = menu.exec(global_position);
  if (!chosen || chosen->data().toInt() == variant) return true;
  if (!model_operation_set_variant(index, int16_t(chosen->data().toInt()))) {
    report_refusal("choose the model's variant");
    return true;
  }
  tool_overlay_changed();
  return true;
}

bool tool_models_preview_outline(int32_t tool, tool_model_outline* outline) {
  if (tool != _tool_place_model && tool != _tool_place_model_animation) return false;
  const int16_t type = type_of(tool);
  const model_preview& preview = preview_of(type);
  const int16_t entry = tool_palette_entry(tool);
  const marker_palette_entry* palette = entry >= 1 ? palette_entry_get(type, int16_t(entry - 1)) : nullptr;
  if (!preview.valid || !palette) return false;
  *outline = {};
  const definition_group& group = type == _marker_model ? model_definitions : model_animation_definitions;
  const int32_t tag_index = tag_file_find(group.group_tag, palette->definition_tag);
  outline->name = tag_index != NONE ? tag_file_get_name(tag_index) : "";
  outline->location = preview.location;
  outline->facing = preview.facing;
  outline->pitch = preview.pitch;
  // A model stands where it would be placed; an animation on the ground under its origin.
  int16_t geometry_index = NONE;
  const uint16_t yaw = type == _marker_model ? uint16_t(-int32_t(preview.facing)) : preview.facing;
  if (palette->definition_index != NONE) {
    if (type == _marker_model) {
      const auto* model =
          static_cast<const model_definition*>(definition_get_if_loaded(&model_definitions, palette->definition_index));
      if (model) geometry_index = model->geometry_index;
      outline->location.z = model_placement_height(palette->definition_index, preview.location.x, preview.location.y, yaw);
    } else {
      const auto* animation = static_cast<const model_animation_definition*>(
          definition_get_if_loaded(&model_animation_definitions, palette->definition_index));
      if (animation && animation->frame_count > 0) geometry_index = animation->frame_geometry_indexes[0];
    }
  }
  if (type != _marker_model || palette->definition_index == NONE)
    outline->location.z = mesh_height_at(preview.location.x, preview.location.y, _mesh_height_ground);
  const auto* geometry = geometry_index != NONE ? static_cast<const geometry_definition*>(
                                                      definition_get_if_loaded(&geometry_definitions, geometry_index))
                                                : nullptr;
  // Without geometry the preview is a cell-sized marker box, so the cursor still shows where it goes.
  const double low[3] = {geometry ? double(geometry->minimum_x) : -256.0, geometry ? double(geometry->minimum_y) : -256.0,
                         geometry ? double(geometry->minimum_z) : 0.0};
  const double high[3] = {geometry ? double(geometry->maximum_x) : 256.0, geometry ? double(geometry->maximum_y) : 256.0,
                          geometry ? double(geometry->maximum_z) : 256.0};
  // Tilted by the pitch about the model's side axis, then turned by its facing, as the model is.
  const double turn = yaw * (2 * M_PI / 65536.0), tilt = int16_t(preview.pitch) * (2 * M_PI / 65536.0);
  for (int32_t corner = 0; corner < 8; ++corner) {
    const double x0 = corner & 1 ? high[0] : low[0], y0 = corner & 2 ? high[1] : low[1],
                 z0 = corner & 4 ? high[2] : low[2];
    const double x1 = x0 * std::cos(tilt) - z0 * std::sin(tilt), z1 = x0 * std::sin(tilt) + z0 * std::cos(tilt);
    outline->corners[corner] = {
        outline->location.x + int32_t(std::lround(x1 * std::cos(turn) - y0 * std::sin(turn))),
        outline->location.y + int32_t(std::lround(x1 * std::sin(turn) + y0 * std::cos(turn))),
        outline->location.z + int32_t(std::lround(z1))};
  }
  // The facing: from the origin a cell forward.
  outline->front = {outline->location.x + int32_t(std::lround(512 * std::cos(turn))),
                    outline->location.y + int32_t(std::lround(512 * std::sin(turn))), outline->location.z};
  return true;
}
