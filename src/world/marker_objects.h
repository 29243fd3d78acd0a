// The world objects that show a map's markers: each marker type's create, remove, identify and
// refresh procedures, registered with the marker module (which sits below the world) at start-up.
#pragma once

#include <cstdint>

void marker_objects_register();

struct marker_data;
// The shading mode a marker's object shows (units and scenery; 0 for the others).
int16_t marker_shading_mode(const marker_data& marker);
