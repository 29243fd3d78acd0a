// The markers the connector commands act on, each as its type and identifier (identifiers are
// unique within a type only). It stands in for the tools window's marker selection until that
// arrives: selecting a scenery marker while a connector is being collected adds it to the chain,
// and a deleted marker leaves the selection. Emptied with every map.
#pragma once

#include <cstdint>
#include <span>

struct connector_selection_entry {
  int16_t type, identifier;
};

enum { MAXIMUM_CONNECTOR_SELECTION = 4096 };

// Selects the marker; while collecting, a scenery marker also joins the new chain. False when no
// such marker is in the open map, it is selected already or the selection is full.
bool connector_selection_add(int16_t type, int16_t identifier);
void connector_selection_remove(int16_t type, int16_t identifier);
void connector_selection_clear();
int32_t connector_selection_count();
bool connector_selection_contains(int16_t type, int16_t identifier);
std::span<const connector_selection_entry> connector_selection_entries();

// "Remove Connector from Selection": every selected scenery marker leaves its chains, as one journal
// step. Answers the strongest outcome (see connector_removal in vellgrim_connectors.h).
int16_t connector_selection_remove_from_connectors();
// The Delete key with markers selected: deletes them all (each leaving its chains first, also the
// chain being collected) as one journal step and empties the selection. Answers how many went.
int32_t connector_selection_delete_markers();
