// Adding a marker where the author points: the placement tools, Drop Observer and Duplicate all
// add through here, so a marker never lands off the map.
#pragma once

#include <cstdint>

#include "cseries/value_types.h"

// The point moved into the map: x within 0 .. cells across x 512 - 1, y likewise down.
world_point3d marker_placement_clamp(const world_point3d& point);

struct marker_placement {
  int16_t type;
  int16_t palette_entry;  // from 1, as the placement tools count; -1: none
  world_point3d point;
  uint16_t facing;
  bool random_facing;  // a random facing instead of `facing`
  bool ground_height;  // the height of the ground under the point instead of the point's own
};

// One step ("Add Marker") that adds a marker of the type's entry at the point (clamped into the
// map) and gives it its object. The new marker's index; -1 with nothing changed when no map is
// open, the entry is not one of the type's, or the list can't grow.
int32_t marker_placement_add(const marker_placement& placement);

// Duplicate: every selected marker that has an object gets a copy half a cell further in x and y
// (kept within 0 .. cells across x 512 - 513, and likewise down) with a random facing, standing on the ground; the copies become the
// selection (a marker without an object stays selected). One step named "Duplicate". Answers the
// number of copies; -1 when one couldn't be added (reported; nothing changed).
int32_t marker_placement_duplicate_selection();
