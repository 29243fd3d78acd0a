#include "tools/selection_actions.h"

#include <string>
#include <vector>

#include "map/map_actions.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "tools/edit_journal.h"
#include "tools/map_action_operations.h"

namespace {

struct reference_kind {
  int16_t marker_type;
  int16_t parameter_type;
  tag name;
};
constexpr reference_kind REFERENCES[] = {
    {_marker_unit, _parameter_monster_identifier, make_tag("subj")},
    {_marker_projectile, _parameter_object_identifier, make_tag("objt")},
    {_marker_sound_source, _parameter_sound_source_identifier, make_tag("srce")},
    {_marker_model, _parameter_model_identifier, make_tag("modl")},
    {_marker_local_projectile_group, _parameter_local_projectile_group_identifier, make_tag("efct")},
    {_marker_model_animation, _parameter_model_animation_identifier, make_tag("anim")},
};

template <class T>
bool add_values(int32_t slot, tag name, int16_t type, const std::vector<T>& values) {
  const int32_t parameter = map_action_operation_add_parameter(slot, name, type);
  if (parameter < 0) return false;
  const int32_t size = map_action_type_get(type)->element_size;
  const int32_t count = int32_t(values.size() * sizeof(T) / size_t(size));
  return map_action_operation_set_elements(slot, parameter, count, std::as_bytes(std::span(values)));
}

// Inside an open step: the container's action, -1 when it did not fit.
int32_t container(const char* name, std::span<const int32_t> marker_indices) {
  const int32_t slot = map_action_operation_new(-1);
  if (slot < 0 || !map_action_operation_set_name(slot, name)) return -1;
  for (const reference_kind& kind : REFERENCES) {
    std::vector<int16_t> identifiers;
    for (int32_t index : marker_indices) {
      if (index < 0 || index >= mesh_marker_count()) continue;
      const marker_data& marker = mesh_markers()[index];
      if (marker.type == kind.marker_type) identifiers.push_back(marker.identifier);
    }
    if (!identifiers.empty() && !add_values(slot, kind.name, kind.parameter_type, identifiers)) return -1;
  }
  return slot;
}

}  // namespace

int32_t selection_action_create_data_container(const char* name, std::span<const int32_t> marker_indices) {
  journal_step step("Create Data Container");
  if (!step.is_open()) return -1;
  const int32_t slot = container(name, marker_indices);
  return slot >= 0 && step.commit() ? slot : -1;
}

int32_t selection_action_create_squad(const char* name, std::span<const int32_t> marker_indices) {
  journal_step step("Create Squad");
  if (!step.is_open()) return -1;
  const int32_t data = container(name, marker_indices);
  if (data < 0) return -1;
  const int32_t squad = map_action_operation_new(-1);
  const std::string squad_name = std::string(name) + " squad";
  if (squad < 0 || !map_action_operation_set_name(squad, squad_name.c_str())) return -1;
  const std::vector<int16_t> link = {map_action_get(data)->identifier};
  if (!add_values(squad, make_tag("data"), _parameter_action_identifier, link)) return -1;
  // One level deeper than its container, so the list shows it belongs there.
  const int16_t levels = int16_t(map_action_get(data)->indent + 1);
  for (int16_t level = 0; level < levels && level < MAP_ACTION_MAXIMUM_INDENT; ++level)
    if (!map_action_operation_indent(squad, true)) return -1;
  return step.commit() ? squad : -1;
}

int32_t selection_action_create_observer_movement(const char* name, world_point3d target, uint16_t facing) {
  journal_step step("Create Observer Movement Action");
  if (!step.is_open()) return -1;
  const int32_t slot = map_action_operation_new(-1);
  if (slot < 0 || !map_action_operation_set_name(slot, name)) return -1;
  const std::vector<int32_t> point = {target.x, target.y};
  const std::vector<int16_t> angle = {int16_t(facing)};
  if (!add_values(slot, make_tag("loca"), _parameter_world_point2d, point) ||
      !add_values(slot, make_tag("face"), _parameter_angle, angle))
    return -1;
  return step.commit() ? slot : -1;
}
