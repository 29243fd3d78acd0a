// Placeholders: the stand-in objects of markers that have no body of their own (observers, sound
// sources, local projectile groups). All of them are built from the object definition `basc` and
// wear the collection `plac`, one look per marker type; both are loaded on first use in a level.
#pragma once

#include <cstdint>

#include "map/markers.h"

inline constexpr tag PLACEHOLDER_OBJECT_TAG = make_tag("basc");
inline constexpr tag PLACEHOLDER_COLLECTION_TAG = make_tag("plac");

// A placeholder object for the marker (its location, vector, angles and "Invisible" state); the
// object's slot, or NONE when the object array is full. Missing `basc` or `plac` tags leave the
// object without a definition or a look (NONE), so the marker can still be found and moved.
int32_t placeholder_new(const marker_data& marker);
// The loaded indices, NONE until the first placeholder of the level (or when missing).
int16_t placeholder_object_definition();
int16_t placeholder_collection();
// Forgets the loaded indices (level disposal).
void placeholders_dispose_level();
