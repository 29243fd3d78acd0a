// The recorded edits of the marker palette dialog and the Edit Marker dialog: adding, editing and
// deleting palette entries, and editing the fields and flags of one or many markers. Each call is
// one journal step, so Edit > Undo takes it back; a refused call changes nothing.
#pragma once

#include <cstdint>
#include <span>

#include "map/markers.h"

// Adds an entry with the template's type, flags, tag, team and netgame types (the first equal one
// is reused, see palette_entry_find_or_add) and loads its definition. Answers the entry's position
// among the entries of its type, or -1 (no map, an unused type, the palette can't grow).
int16_t palette_operation_add_entry(const marker_palette_entry& entry_template);

// Gives the palette_index-th entry of the type the template's flags, tag, team and netgame types
// (the type, the kept bytes and the run-time fields stay); its definition is loaded again and its
// markers' objects made again from it. False when there is no such entry.
[[nodiscard]] bool palette_operation_edit_entry(int16_t type, int16_t palette_index,
                                                const marker_palette_entry& fields);

// Deletes the entries at these positions among the type's entries, with every marker that uses
// them, as one step. Each position names the entry that stood there before the call, whatever the
// order given; a position repeated counts once. False, nothing deleted, when a position is not an
// entry of the type.
[[nodiscard]] bool palette_operation_delete_entries(int16_t type, std::span<const int16_t> palette_indices);

// The marker flags the Edit Marker dialog shows.
inline constexpr uint32_t MARKER_EDITABLE_FLAGS = 0x1FF;

// What Edit Marker writes. Flags in set_flags are set, those in clear_flags cleared, others kept
// (only MARKER_EDITABLE_FLAGS are touched). A difficulty of -1 keeps each marker's own. With
// `position`, the vector, height and angles are written too (the one-marker dialog).
struct marker_field_edit {
  int16_t minimum_difficulty = -1;
  uint32_t set_flags = 0;
  uint32_t clear_flags = 0;
  bool position = false;
  int16_t vector_i = 0, vector_j = 0, vector_k = 0;
  int32_t z = 0;
  uint16_t yaw = 0, pitch = 0;
};

// Applies the edit to the markers at these list indices; their objects follow. One step named
// "Edit Marker". False, nothing changed, for an empty list, an index outside the list or a
// difficulty outside -1..4.
[[nodiscard]] bool marker_operation_edit(std::span<const int32_t> indices, const marker_field_edit& edit);
