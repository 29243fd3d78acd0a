#include "tools/marker_palette_operations.h"

#include <algorithm>
#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "tools/edit_journal.h"

namespace {

void note_marker_lists() {
  edit_journal_note_section(_mesh_section_palette);
  edit_journal_note_section(_mesh_section_markers);
}

bool placeable_type(int16_t type) {
  const marker_type_definition* definition = marker_type_get(type);
  return definition && type != _marker_unused_2 && type != _marker_unused_4 && type != _marker_unused_7 &&
         type != _marker_unused_8;
}

// The position of an entry (an element of the palette array) among the entries of its type.
int16_t position_among_type(const marker_palette_entry* entry) {
  int16_t position = 0;
  for (const marker_palette_entry* e = mesh_palette(); e < entry; ++e) position += e->type == entry->type;
  return position;
}

}  // namespace

int16_t palette_operation_add_entry(const marker_palette_entry& entry_template) {
  if (!mesh_is_open() || !placeable_type(entry_template.type)) return -1;
  journal_step step("Add Palette Entry");
  if (!step.is_open()) return -1;
  note_marker_lists();
  marker_palette_entry* entry = palette_entry_find_or_add(entry_template);
  if (!entry) return -1;
  if (entry->definition_index == NONE) palette_entry_load_definition(entry);
  const int16_t position = position_among_type(entry);
  return step.commit() ? position : int16_t(-1);
}

bool palette_operation_edit_entry(int16_t type, int16_t palette_index, const marker_palette_entry& fields) {
  if (!mesh_is_open() || !palette_entry_get(type, palette_index)) return false;
  journal_step step("Edit Palette Entry");
  if (!step.is_open()) return false;
  note_marker_lists();
  // The objects were made from the old definition and team: they go, and come back from the new.
  marker_data* markers = mesh_edit_markers();
  for (int32_t i = 0, count = mesh_marker_count(); i < count; ++i)
    if (markers[i].type == type && markers[i].palette_index == palette_index) marker_remove_object(&markers[i]);
  marker_palette_entry* entry = palette_entry_get(type, palette_index);
  entry->flags = fields.flags;
  entry->definition_tag = fields.definition_tag;
  entry->team = fields.team;
  entry->netgame_types = fields.netgame_types;
  entry->instance_count = 0;
  palette_entry_load_definition(entry);
  for (int32_t i = 0, count = mesh_marker_count(); i < count; ++i)
    if (markers[i].type == type && markers[i].palette_index == palette_index) marker_create_object(&markers[i]);
  return step.commit();
}

bool palette_operation_delete_entries(int16_t type, std::span<const int16_t> palette_indices) {
  if (!mesh_is_open() || palette_indices.empty()) return false;
  std::vector<int16_t> positions(palette_indices.begin(), palette_indices.end());
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  const int16_t count = palette_entry_count_of_type(type);
  if (positions.front() < 0 || positions.back() >= count) return false;
  journal_step step(positions.size() > 1 ? "Delete Palette Entries" : "Delete Palette Entry");
  if (!step.is_open()) return false;
  note_marker_lists();
  // Highest first: deleting an entry moves only the entries after it.
  for (auto position = positions.rbegin(); position != positions.rend(); ++position) {
    marker_palette_entry* entry = palette_entry_get(type, *position);
    if (!entry || !palette_entry_delete(entry, *position)) return false;  // the step puts everything back
  }
  return step.commit();
}

bool marker_operation_edit(std::span<const int32_t> indices, const marker_field_edit& edit) {
  if (!mesh_is_open() || indices.empty()) return false;
  if (edit.minimum_difficulty < -1 || edit.minimum_difficulty >= NUMBER_OF_DIFFICULTY_LEVELS) return false;
  for (const int32_t index : indices)
    if (index < 0 || index >= mesh_marker_count()) return false;
  journal_step step("Edit Marker");
  if (!step.is_open()) return false;
  const uint32_t set = edit.set_flags & MARKER_EDITABLE_FLAGS, clear = edit.clear_flags & MARKER_EDITABLE_FLAGS;
  for (const int32_t index : indices) {
    marker_data* marker = edit_journal_marker(index);
    if (edit.minimum_difficulty >= 0) marker->minimum_difficulty = edit.minimum_difficulty;
    marker->flags = (marker->flags & ~clear) | set;
    if (edit.position) {
      marker->vector_i = edit.vector_i;
      marker->vector_j = edit.vector_j;
      marker->vector_k = edit.vector_k;
      marker->location.z = edit.z;
      marker->yaw = edit.yaw;
      marker->pitch = edit.pitch;
    }
    marker_refresh_object(marker);
  }
  return step.commit();
}
