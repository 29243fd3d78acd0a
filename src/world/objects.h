// The world's objects: what the visual view shows for scenery, units, projectiles and the
// placeholders of observers, sound sources and local projectile groups. The editor does not
// simulate them; an object is a position, a facing, a definition and the drawing state that
// reflects its marker ("Invisible", the shading modes). They live in the data array "object",
// emptied when the level is disposed.
#pragma once

#include <cstdint>

#include "map/markers.h"

enum {
  MAXIMUM_OBJECTS_PER_MAP = 1024,
  MAXIMUM_LOCAL_PROJECTILE_GROUPS_PER_MAP = 128,
};

enum object_kind : int16_t {
  _object_placeholder = 0,  // observers, sound sources, local projectile groups
  _object_scenery,
  _object_unit,
  _object_projectile,
  NUMBER_OF_OBJECT_KINDS
};

enum object_flags : uint16_t {
  _object_invisible = 0x0001,  // drawn in the invisible state
};

// Shading modes handed to the shading-table builder with the object's look.
enum object_shading_mode : int16_t {
  _object_shading_normal = 0,
  _object_shading_stone = 1,
  _object_shading_heroic = 5,
  _object_shading_legendary = 6,
};

// A record of the "object" array.
struct world_object {
  int16_t identifier;        // data-array identifier (top bit set)
  int16_t kind;              // object_kind
  int16_t definition_index;  // in the kind's group; placeholders: the `obje` definition
  int16_t look;              // placeholders: the marker type whose look it wears; else 0
  world_point3d location;
  int16_t vector_i, vector_j, vector_k;
  uint16_t facing;           // angle
  uint16_t pitch;
  uint16_t flags;            // object_flags
  int16_t shading_mode;      // object_shading_mode
  int16_t team;              // units: their team; NONE otherwise
  int16_t collection_index;  // the collection that gives the look, NONE when none
  int16_t attachment;        // slot of an attached local projectile group, NONE when none
};
static_assert(sizeof(world_object) == 40);

// What a new object starts with.
struct object_placement {
  int16_t kind = _object_placeholder;
  int16_t definition_index = NONE;
  int16_t look = 0;
  world_point3d location = {0, 0, 0};
  int16_t vector_i = 0, vector_j = 0, vector_k = 0;
  uint16_t facing = 0, pitch = 0;
  uint16_t flags = 0;
  int16_t shading_mode = _object_shading_normal;
  int16_t team = NONE;
  int16_t collection_index = NONE;
};

// A run-time local projectile group, attached to its marker's placeholder: the marker as it was
// placed (with "Invisible" cleared) and the group's definition.
struct local_projectile_group {
  int16_t identifier;
  int16_t definition_index;  // `lpgr`
  int16_t object_index;      // the placeholder carrying it
  int16_t unused;
  marker_data marker;
};
static_assert(sizeof(local_projectile_group) == 72);

// A placement at the marker: its location, vector, angles and "Invisible" state.
object_placement object_placement_from_marker(const marker_data& marker, int16_t kind, int16_t definition_index);

// Allocates the arrays (engine initialisation; a failure is fatal).
bool objects_initialize();
// Empties the arrays for a new level / forgets every object at level disposal.
bool objects_start_level();
void objects_dispose_level();

// The slot of the new object, or NONE when the array is full or not valid.
int32_t object_new(const object_placement& placement);
// Removes the object and whatever is attached to it; false for a free slot.
bool object_delete(int32_t object_index);
world_object* object_get(int32_t object_index);
// The object's data-array identifier, NONE for a free slot.
int16_t object_get_identifier(int32_t object_index);
int32_t object_count();

void object_set_invisible(int32_t object_index, bool invisible);
void object_set_shading_mode(int32_t object_index, int16_t shading_mode);
void object_move(int32_t object_index, const world_point3d& location, uint16_t facing, uint16_t pitch);

// Attaches a run-time projectile group made from a copy of the marker (flag "Invisible" cleared)
// to a placeholder; false when the placeholder is not there or the array is full.
bool object_attach_local_projectile_group(int32_t object_index, int16_t definition_index,
                                          const marker_data& marker);
const local_projectile_group* object_get_local_projectile_group(int32_t object_index);
int32_t local_projectile_group_count();

// The "object" array itself, for the limits report's usage line.
struct declared_data_array;
const declared_data_array* objects_array();
