#include "world/marker_objects.h"

#include <cstring>

#include "map/marker_utils.h"
#include "world/models.h"
#include "world/objects.h"
#include "world/placeholders.h"

namespace {

object_placement placement_for(const marker_data& marker, int16_t kind, int16_t definition_index) {
  object_placement placement = object_placement_from_marker(marker, kind, definition_index);
  placement.shading_mode = marker_shading_mode(marker);
  return placement;
}

int16_t user_data_word(const marker_data& marker) {
  int16_t word;
  std::memcpy(&word, marker.user_data, sizeof(word));
  return word;
}

int32_t create_placeholder(const marker_data& marker, const marker_palette_entry&) { return placeholder_new(marker); }

int32_t create_local_projectile_group(const marker_data& marker, const marker_palette_entry& entry) {
  int32_t object = placeholder_new(marker);
  if (object != NONE && !object_attach_local_projectile_group(object, entry.definition_index, marker)) {
    object_delete(object);
    return NONE;
  }
  return object;
}

int32_t create_scenery(const marker_data& marker, const marker_palette_entry& entry) {
  return object_new(placement_for(marker, _object_scenery, entry.definition_index));
}

int32_t create_unit(const marker_data& marker, const marker_palette_entry& entry) {
  object_placement placement = placement_for(marker, _object_unit, entry.definition_index);
  placement.team = entry.team;
  return object_new(placement);
}

int32_t create_projectile(const marker_data& marker, const marker_palette_entry& entry) {
  return object_new(placement_for(marker, _object_projectile, entry.definition_index));
}

int32_t create_model(const marker_data& marker, const marker_palette_entry& entry) {
  // A model marker's user data begins with the model's variant.
  return model_new(entry.definition_index, marker.location, marker.yaw, user_data_word(marker));
}

int32_t create_model_animation(const marker_data& marker, const marker_palette_entry& entry) {
  return model_animation_new(entry.definition_index, marker.location, marker.yaw);
}

int16_t object_identifier_of(int32_t object_index) { return object_get_identifier(object_index); }
int16_t model_identifier_of(int32_t model_index) {
  const world_model* model = model_get(model_index);
  return model ? model->identifier : static_cast<int16_t>(NONE);
}
int16_t model_animation_identifier_of(int32_t animation_index) {
  const world_model_animation* animation = model_animation_get(animation_index);
  return animation ? animation->identifier : static_cast<int16_t>(NONE);
}

void refresh_world_object(const marker_data& marker) {
  object_move(marker.object_index, marker.location, marker.yaw, marker.pitch);
  object_set_invisible(marker.object_index, (marker.flags & _marker_invisible) != 0);
  object_set_shading_mode(marker.object_index, marker_shading_mode(marker));
}

// Models and model animations carry no drawing state of the marker's: they only follow it.
template <class Placed>
void follow_marker(Placed* placed, const marker_data& marker) {
  if (!placed) return;
  placed->location = marker.location;
  placed->facing = marker.yaw;
  placed->pitch = marker.pitch;
}

void refresh_model(const marker_data& marker) {
  world_model* model = model_get(marker.object_index);
  follow_marker(model, marker);
  if (model) model->variant = user_data_word(marker);
}
void refresh_model_animation(const marker_data& marker) {
  follow_marker(model_animation_get(marker.object_index), marker);
}

bool delete_world_object(int32_t object_index) { return object_delete(object_index); }

// Types 2, 4, 7 and 8 are unused: their markers never get an object.
const marker_type_procedures marker_objects_procedures[NUMBER_OF_MARKER_TYPES] = {
    {create_placeholder, delete_world_object, object_identifier_of, refresh_world_object},
    {create_scenery, delete_world_object, object_identifier_of, refresh_world_object},
    {nullptr, nullptr, nullptr, nullptr},
    {create_unit, delete_world_object, object_identifier_of, refresh_world_object},
    {nullptr, nullptr, nullptr, nullptr},
    {create_placeholder, delete_world_object, object_identifier_of, refresh_world_object},
    {create_model, model_delete, model_identifier_of, refresh_model},
    {nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
    {create_projectile, delete_world_object, object_identifier_of, refresh_world_object},
    {create_local_projectile_group, delete_world_object, object_identifier_of, refresh_world_object},
    {create_model_animation, model_animation_delete, model_animation_identifier_of, refresh_model_animation},
};


}  // namespace

int16_t marker_shading_mode(const marker_data& marker) {
  if (marker.type == _marker_unit) {
    if (marker.flags & _marker_stone) return _object_shading_stone;
    if ((marker.flags & _marker_detonates_immediately) || marker.minimum_difficulty == _difficulty_legendary)
      return _object_shading_legendary;
    if (marker.minimum_difficulty == _difficulty_heroic) return _object_shading_heroic;
  } else if (marker.type == _marker_scenery) {
    if (marker.minimum_difficulty == _difficulty_heroic) return _object_shading_heroic;
    if (marker.minimum_difficulty == _difficulty_legendary) return _object_shading_legendary;
  }
  return _object_shading_normal;
}

void marker_objects_register() { marker_types_register_procedures(marker_objects_procedures); }
