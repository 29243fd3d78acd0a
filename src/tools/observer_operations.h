// The Mesh menu's observer commands that change the map.
#pragma once

#include <cstdint>

// Drop Observer: one recorded step that adds a marker of type 0 (Observer) at the observer's
// target point (clamped into the map), on the ground there, with its facing, naming palette entry
// `palette_entry` of the Observer type (from 1, as the Place Observer tool counts them). The new marker's index; -1 with
// nothing changed when no map is open, the entry is -1 or not an Observer entry of the palette,
// or the list can't grow ("couldn't add marker for %s.", with the map's name).
int32_t observer_operation_drop(int16_t palette_entry);
