// Map actions made from what the editor has in hand: a data container holding the selected
// markers, a squad built on such a container, and an observer movement action from the observer's
// place. Each is one step of the edit journal; -1 (and nothing changed) when the model is full.
#pragma once

#include <cstdint>
#include <span>

#include "cseries/value_types.h"

// The container: an action of no type named `name`, with one identifier parameter per kind of
// marker selected (units `subj`, projectiles `objt`, sound sources `srce`, models `modl`, local
// projectile groups `efct`, model animations `anim`) listing the markers. Markers of other kinds
// (scenery, observers) have no identifier type and are left out. Answers the new slot.
int32_t selection_action_create_data_container(const char* name, std::span<const int32_t> marker_indices);
// The container, then the squad: an action named "<name> squad" whose `data` parameter names the
// container, one nesting level deeper than it. Answers the squad's slot.
int32_t selection_action_create_squad(const char* name, std::span<const int32_t> marker_indices);
// An action named `name` with the observer's target as `loca` (world_point2d) and its facing as
// `face` (angle). Answers the new slot.
int32_t selection_action_create_observer_movement(const char* name, world_point3d target, uint16_t facing);
