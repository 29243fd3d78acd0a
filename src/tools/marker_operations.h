// The recorded ways to change the open map's marker palette and markers: each is one step of the
// edit journal (joining an enclosing step), so Undo takes it back.
#pragma once

#include <cstdint>
#include <span>

#include "map/markers.h"

// The palette entry matching the template (see palette_entry_find_or_add), added when missing;
// none when the palette can't grow. The pointer is good until the next change of the palette.
const marker_palette_entry* marker_operation_find_or_add_entry(const marker_palette_entry& entry_template);
// Appends a marker made from the template (see marker_add) and gives it its object; none when the
// list can't grow.
const marker_data* marker_operation_add(const marker_data& marker_template);
// Deletes the marker at index in the list, its object first. False outside the list.
[[nodiscard]] bool marker_operation_delete(int32_t index);
// Deletes the palette_index-th entry of the type with every marker that uses it (each marker
// leaving its connectors first). False when there is no such entry.
[[nodiscard]] bool marker_operation_delete_palette_entry(int16_t type, int16_t palette_index);
// Moves the markers at these list indices to the world point (z as given) and their objects with
// them, as one journal step named "Move Markers". False when an index is outside the list.
[[nodiscard]] bool marker_operation_move(std::span<const int32_t> indices, const world_point3d& location);
// Turns the markers to the facing (65536 to a turn), as one journal step named "Turn Markers".
[[nodiscard]] bool marker_operation_turn(std::span<const int32_t> indices, uint16_t yaw);
