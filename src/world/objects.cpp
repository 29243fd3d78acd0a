#include "world/objects.h"

#include "cseries/data.h"

namespace {

declared_data_array objects = data_array_declare("object", MAXIMUM_OBJECTS_PER_MAP, sizeof(world_object));
declared_data_array local_projectile_groups =
    data_array_declare("local projectile group", MAXIMUM_LOCAL_PROJECTILE_GROUPS_PER_MAP,
                       sizeof(local_projectile_group));

local_projectile_group* attached_group(const world_object* object) {
  if (!object || object->attachment == NONE) return nullptr;
  return data_array_get_as<local_projectile_group>(&local_projectile_groups, object->attachment);
}

}  // namespace

object_placement object_placement_from_marker(const marker_data& marker, int16_t kind, int16_t definition_index) {
  object_placement placement;
  placement.kind = kind;
  placement.definition_index = definition_index;
  placement.location = marker.location;
  placement.vector_i = marker.vector_i;
  placement.vector_j = marker.vector_j;
  placement.vector_k = marker.vector_k;
  placement.facing = marker.yaw;
  placement.pitch = marker.pitch;
  placement.flags = (marker.flags & _marker_invisible) ? _object_invisible : 0;
  return placement;
}

bool objects_initialize() {
  // Once for the life of the process: a second call must not free a running level's objects.
  if (data_array_state_of(&objects)->records) return true;
  return data_array_allocate(&objects) && data_array_allocate(&local_projectile_groups);
}

bool objects_start_level() {
  return data_array_validate(&objects) && data_array_validate(&local_projectile_groups);
}

void objects_dispose_level() {
  data_array_invalidate(&objects);
  data_array_invalidate(&local_projectile_groups);
}

int32_t object_new(const object_placement& placement) {
  if (placement.kind < 0 || placement.kind >= NUMBER_OF_OBJECT_KINDS) return NONE;
  int32_t slot = data_array_new_element(&objects);
  world_object* object = data_array_get_as<world_object>(&objects, slot);
  if (!object) return NONE;
  object->kind = placement.kind;
  object->definition_index = placement.definition_index;
  object->look = placement.look;
  object->location = placement.location;
  object->vector_i = placement.vector_i;
  object->vector_j = placement.vector_j;
  object->vector_k = placement.vector_k;
  object->facing = placement.facing;
  object->pitch = placement.pitch;
  object->flags = placement.flags;
  object->shading_mode = placement.shading_mode;
  object->team = placement.team;
  object->collection_index = placement.collection_index;
  object->attachment = NONE;
  return slot;
}

bool object_delete(int32_t object_index) {
  world_object* object = object_get(object_index);
  if (!object) return false;
  if (attached_group(object)) data_array_delete_element(&local_projectile_groups, object->attachment);
  return data_array_delete_element(&objects, object_index);
}

world_object* object_get(int32_t object_index) { return data_array_get_as<world_object>(&objects, object_index); }

int16_t object_get_identifier(int32_t object_index) {
  const world_object* object = object_get(object_index);
  return object ? object->identifier : static_cast<int16_t>(NONE);
}

int32_t object_count() {
  const data_array_state* state = data_array_state_of(&objects);
  return data_array_is_valid(&objects) ? state->used_count : 0;
}

void object_set_invisible(int32_t object_index, bool invisible) {
  if (world_object* object = object_get(object_index)) {
    object->flags = invisible ? (object->flags | _object_invisible) : (object->flags & ~_object_invisible);
  }
}

void object_set_shading_mode(int32_t object_index, int16_t shading_mode) {
  if (world_object* object = object_get(object_index)) object->shading_mode = shading_mode;
}

void object_move(int32_t object_index, const world_point3d& location, uint16_t facing, uint16_t pitch) {
  if (world_object* object = object_get(object_index)) {
    object->location = location;
    object->facing = facing;
    object->pitch = pitch;
  }
}

bool object_attach_local_projectile_group(int32_t object_index, int16_t definition_index,
                                          const marker_data& marker) {
  world_object* object = object_get(object_index);
  if (!object || object->attachment != NONE) return false;
  int32_t slot = data_array_new_element(&local_projectile_groups);
  local_projectile_group* group = data_array_get_as<local_projectile_group>(&local_projectile_groups, slot);
  if (!group) return false;
  group->definition_index = definition_index;
  group->object_index = static_cast<int16_t>(object_index);
  group->marker = marker;
  // The group itself is always live; only the placeholder shows the marker's visibility.
  group->marker.flags &= ~_marker_invisible;
  object->attachment = static_cast<int16_t>(slot);
  return true;
}

const local_projectile_group* object_get_local_projectile_group(int32_t object_index) {
  return attached_group(object_get(object_index));
}

int32_t local_projectile_group_count() {
  return data_array_is_valid(&local_projectile_groups) ? data_array_state_of(&local_projectile_groups)->used_count
                                                       : 0;
}

const declared_data_array* objects_array() { return &objects; }
