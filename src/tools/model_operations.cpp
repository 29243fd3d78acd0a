#include "tools/model_operations.h"

#include <cmath>
#include <cstring>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "engine/definitions.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "tools/edit_journal.h"
#include "tools/marker_operations.h"
#include "tools/vellgrim_mesh_utilities.h"
#include "world/models.h"

namespace {

bool is_model_type(int16_t type) { return type == _marker_model || type == _marker_model_animation; }

const marker_data* model_marker(int32_t marker_index) {
  if (!mesh_is_open() || marker_index < 0 || marker_index >= mesh_marker_count()) return nullptr;
  const marker_data* marker = &mesh_markers()[marker_index];
  return is_model_type(marker->type) ? marker : nullptr;
}

bool on_map(int32_t world_x, int32_t world_y) {
  return world_x >= 0 && world_y >= 0 && world_x < int32_t(mesh_cells_across()) * 512 &&
         world_y < int32_t(mesh_cells_down()) * 512;
}

// Models keep the negated turn in their record; model animations keep the turn itself.
uint16_t stored_yaw(int16_t type, uint16_t facing) {
  return type == _marker_model ? uint16_t(-int32_t(facing)) : facing;
}

const model_definition* definition_of(const marker_data& marker) {
  const marker_palette_entry* entry = palette_entry_get(marker.type, marker.palette_index);
  if (marker.type != _marker_model || !entry || entry->definition_index == NONE) return nullptr;
  return static_cast<const model_definition*>(definition_get_if_loaded(&model_definitions, entry->definition_index));
}

world_point3d standing_point(int16_t type, int16_t definition_index, int32_t world_x, int32_t world_y,
                             uint16_t yaw) {
  const int32_t z = type == _marker_model ? model_placement_height(definition_index, world_x, world_y, yaw)
                                          : mesh_height_at(world_x, world_y, _mesh_height_ground);
  return {world_x, world_y, z};
}

}  // namespace

int32_t model_operation_place(int16_t marker_type, int16_t palette_index, int32_t world_x, int32_t world_y,
                              uint16_t facing) {
  if (!mesh_is_open() || !is_model_type(marker_type)) return -1;
  const marker_palette_entry* entry = palette_entry_get(marker_type, palette_index);
  if (!entry) {
    POST_ERROR(error_data_missing, "there is no palette entry %d to place.", palette_index);
    return -1;
  }
  if (!on_map(world_x, world_y)) {
    POST_ERROR(error_data_mismatch, "can't place a model off the map (%d, %d).", world_x, world_y);
    return -1;
  }
  journal_step step(marker_type == _marker_model ? "Place Model" : "Place Model Animation");
  if (!step.is_open()) return -1;
  marker_data marker{};
  marker.type = marker_type;
  marker.palette_index = palette_index;
  marker.yaw = stored_yaw(marker_type, facing);
  marker.location = standing_point(marker_type, entry->definition_index, world_x, world_y, marker.yaw);
  marker.object_index = marker.object_identifier = NONE;
  const marker_data* added = marker_operation_add(marker);
  if (!added) return -1;
  const int32_t index = int32_t(added - mesh_markers());
  return step.commit() ? index : -1;
}

bool model_operation_move(int32_t marker_index, int32_t world_x, int32_t world_y, uint16_t facing) {
  const marker_data* marker = model_marker(marker_index);
  if (!marker) return false;
  // Checked before the journal opens: a refused move leaves the model and the journal untouched.
  if (!on_map(world_x, world_y)) {
    POST_ERROR(error_data_mismatch, "can't move a model off the map (%d, %d).", world_x, world_y);
    return false;
  }
  const marker_palette_entry* entry = palette_entry_get(marker->type, marker->palette_index);
  const int16_t definition_index = entry ? entry->definition_index : int16_t(NONE);
  journal_step step(marker->type == _marker_model ? "Move Model" : "Move Model Animation");
  if (!step.is_open()) return false;
  marker_data* edited = edit_journal_marker(marker_index);
  edited->yaw = stored_yaw(edited->type, facing);
  edited->location = standing_point(edited->type, definition_index, world_x, world_y, edited->yaw);
  marker_refresh_object(edited);
  return step.commit();
}

bool model_operation_delete(int32_t marker_index) {
  const marker_data* marker = model_marker(marker_index);
  if (!marker) return false;
  const bool model = marker->type == _marker_model;
  journal_step step(model ? "Delete Model" : "Delete Model Animation");
  if (!step.is_open() || !marker_operation_delete(marker_index)) return false;
  if (model && !mesh_recompute_lod_data()) return false;
  return step.commit();
}

uint16_t model_operation_facing(int32_t marker_index) {
  const marker_data* marker = model_marker(marker_index);
  if (!marker) return 0;
  return marker->type == _marker_model ? uint16_t(-int32_t(marker->yaw)) : marker->yaw;
}

uint16_t model_operation_facing_toward(int32_t marker_index, int32_t world_x, int32_t world_y) {
  const marker_data* marker = model_marker(marker_index);
  if (!marker) return 0;
  const double angle = std::atan2(double(marker->location.y - world_y), double(marker->location.x - world_x));
  const uint16_t a = uint16_t(int32_t(std::lround(angle * 65536.0 / (2 * M_PI))));
  const model_definition* definition = definition_of(*marker);
  if (definition && (definition->flags & MODEL_TURNS_BY_QUARTERS))
    return uint16_t((((uint32_t(a) + 0x6000u) >> 14) & 3u) * 0x4000u);
  return uint16_t(a + 0x8000u);
}

int16_t model_operation_variant_count(int32_t marker_index) {
  const marker_data* marker = model_marker(marker_index);
  if (!marker || marker->type != _marker_model) return 0;
  const model_definition* definition = definition_of(*marker);
  return definition && definition->variant_count > 1 ? definition->variant_count : int16_t(1);
}

int16_t model_operation_variant(int32_t marker_index) {
  const marker_data* marker = model_marker(marker_index);
  if (!marker) return 0;
  int16_t variant;
  std::memcpy(&variant, marker->user_data, sizeof(variant));
  return variant;
}

bool model_operation_set_variant(int32_t marker_index, int16_t variant) {
  const int16_t count = model_operation_variant_count(marker_index);
  if (count == 0) return false;
  if (variant < 0 || variant >= count) {
    POST_ERROR(error_data_mismatch, "variant %d not in [0,%d).", variant, count);
    return false;
  }
  journal_step step("Choose Model Variant");
  if (!step.is_open()) return false;
  marker_data* edited = edit_journal_marker(marker_index);
  std::memcpy(edited->user_data, &variant, sizeof(variant));
  marker_refresh_object(edited);
  return step.commit();
}
