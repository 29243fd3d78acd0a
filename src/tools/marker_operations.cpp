#include "tools/marker_operations.h"

#include "map/marker_utils.h"
#include "map/mesh_edit.h"
#include "tools/edit_journal.h"

namespace {

// Adding or deleting moves records and counts instances in the palette: both lists are kept whole.
void note_marker_lists() {
  edit_journal_note_section(_mesh_section_palette);
  edit_journal_note_section(_mesh_section_markers);
}

}  // namespace

const marker_palette_entry* marker_operation_find_or_add_entry(const marker_palette_entry& entry_template) {
  journal_step step("Add Palette Entry");
  if (!step.is_open()) return nullptr;
  note_marker_lists();
  const marker_palette_entry* entry = palette_entry_find_or_add(entry_template);
  if (!entry || !step.commit()) return nullptr;
  return entry;
}

const marker_data* marker_operation_add(const marker_data& marker_template) {
  journal_step step("Add Marker");
  if (!step.is_open()) return nullptr;
  note_marker_lists();
  marker_data* marker = marker_add(marker_template);
  if (!marker) return nullptr;
  marker_create_object(marker);
  const int32_t index = int32_t(marker - mesh_edit_markers());
  if (!step.commit()) return nullptr;
  return &mesh_markers()[index];
}

bool marker_operation_delete(int32_t index) {
  if (index < 0 || index >= mesh_marker_count()) return false;
  journal_step step("Delete Marker");
  note_marker_lists();
  if (!marker_delete(&mesh_edit_markers()[index])) return false;
  return step.commit();
}

bool marker_operation_delete_palette_entry(int16_t type, int16_t palette_index) {
  marker_palette_entry* entry = palette_entry_get(type, palette_index);
  if (!entry) return false;
  journal_step step("Delete Palette Entry");
  note_marker_lists();
  if (!palette_entry_delete(entry, palette_index)) return false;
  return step.commit();
}

namespace {

bool indices_valid(std::span<const int32_t> indices) {
  for (const int32_t index : indices)
    if (index < 0 || index >= mesh_marker_count()) return false;
  return !indices.empty();
}

}  // namespace

bool marker_operation_move(std::span<const int32_t> indices, const world_point3d& location) {
  if (!indices_valid(indices)) return false;
  journal_step step("Move Markers");
  if (!step.is_open()) return false;
  edit_journal_note_section(_mesh_section_markers);
  for (const int32_t index : indices) {
    marker_data* marker = &mesh_edit_markers()[index];
    marker->location = location;
    marker_refresh_object(marker);
  }
  return step.commit();
}

bool marker_operation_turn(std::span<const int32_t> indices, uint16_t yaw) {
  if (!indices_valid(indices)) return false;
  journal_step step("Turn Markers");
  if (!step.is_open()) return false;
  edit_journal_note_section(_mesh_section_markers);
  for (const int32_t index : indices) {
    marker_data* marker = &mesh_edit_markers()[index];
    marker->yaw = yaw;
    marker_refresh_object(marker);
  }
  return step.commit();
}
