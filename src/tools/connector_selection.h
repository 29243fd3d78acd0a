// The tools' marker selection, which the connector commands act on. It lives in the marker records
// themselves (their run-time selected bit), so it follows each marker through Save's sorting, Undo
// and the deletion of others. Markers are named by type and identifier (identifiers are unique
// within a type only) or by index. Selecting a scenery marker while a connector is being collected
// adds it to the chain; a deleted marker leaves the selection with its record. Emptied with every map.
#pragma once

#include <cstdint>
#include <vector>

// Selects the marker; while collecting, a scenery marker also joins the new chain. False when no
// such marker is in the open map or it is selected already.
bool connector_selection_add(int16_t type, int16_t identifier);
void connector_selection_remove(int16_t type, int16_t identifier);
void connector_selection_clear();
int32_t connector_selection_count();
bool connector_selection_contains(int16_t type, int16_t identifier);
// The same by index into the open map's markers; false for an index outside them.
bool connector_selection_add_index(int32_t marker_index);
bool connector_selection_contains_index(int32_t marker_index);
void connector_selection_remove_index(int32_t marker_index);
// The selected markers' indices, in marker order.
std::vector<int32_t> connector_selection_indices();

// "Remove Connector from Selection": every selected scenery marker leaves its chains, as one journal
// step. Answers the strongest outcome (see connector_removal in vellgrim_connectors.h).
int16_t connector_selection_remove_from_connectors();
// The Delete key with markers selected: deletes them all (each leaving its chains first, also the
// chain being collected) as one journal step and empties the selection. Answers how many went.
int32_t connector_selection_delete_markers();
