#include "tools/connector_selection.h"

#include <algorithm>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "tools/edit_journal.h"
#include "tools/marker_operations.h"
#include "tools/vellgrim_connectors.h"

namespace {

// The selected bit is run-time state, like the cells' selection: it is written outside the edit
// journal, and no map file ever carries it.
marker_data* marker_at(int32_t index) {
  if (!mesh_is_open() || index < 0 || index >= mesh_marker_count()) return nullptr;
  return &mesh_edit_markers()[index];
}

int32_t index_of(int16_t type, int16_t identifier) {
  const marker_data* marker = mesh_is_open() ? marker_find_by_identifier(type, identifier) : nullptr;
  return marker ? int32_t(marker - mesh_markers()) : -1;
}

}  // namespace

bool connector_selection_add_index(int32_t marker_index) {
  marker_data* marker = marker_at(marker_index);
  if (!marker || (marker->flags & _marker_selected)) return false;
  marker->flags |= _marker_selected;
  connector_add_marker(*marker);
  return true;
}

bool connector_selection_add(int16_t type, int16_t identifier) {
  return connector_selection_add_index(index_of(type, identifier));
}

void connector_selection_remove_index(int32_t marker_index) {
  if (marker_data* marker = marker_at(marker_index)) marker->flags &= ~uint32_t(_marker_selected);
}

void connector_selection_remove(int16_t type, int16_t identifier) {
  connector_selection_remove_index(index_of(type, identifier));
}

void connector_selection_clear() {
  if (!mesh_is_open()) return;
  marker_data* markers = mesh_edit_markers();
  for (int32_t i = 0, count = mesh_marker_count(); i < count; ++i) markers[i].flags &= ~uint32_t(_marker_selected);
}

int32_t connector_selection_count() {
  if (!mesh_is_open()) return 0;
  const marker_data* markers = mesh_markers();
  return int32_t(std::count_if(markers, markers + mesh_marker_count(),
                               [](const marker_data& marker) { return (marker.flags & _marker_selected) != 0; }));
}

bool connector_selection_contains_index(int32_t marker_index) {
  const marker_data* marker = marker_at(marker_index);
  return marker && (marker->flags & _marker_selected);
}

bool connector_selection_contains(int16_t type, int16_t identifier) {
  return connector_selection_contains_index(index_of(type, identifier));
}

std::vector<int32_t> connector_selection_indices() {
  std::vector<int32_t> indices;
  if (!mesh_is_open()) return indices;
  const marker_data* markers = mesh_markers();
  for (int32_t i = 0, count = mesh_marker_count(); i < count; ++i) {
    if (markers[i].flags & _marker_selected) indices.push_back(i);
  }
  return indices;
}

int16_t connector_selection_remove_from_connectors() {
  journal_step step("Remove Connector from Selection");
  if (!step.is_open()) return _connector_removal_none;
  int16_t outcome = _connector_removal_none;
  for (int32_t index : connector_selection_indices()) {
    const marker_data& marker = mesh_markers()[index];
    if (marker.type == _marker_scenery) outcome = std::max<int16_t>(outcome, connector_remove_marker(marker));
  }
  return step.commit() ? outcome : int16_t(_connector_removal_none);
}

int32_t connector_selection_delete_markers() {
  journal_step step("Delete Markers");
  if (!step.is_open()) return 0;
  int32_t deleted = 0;
  // Last first: a deletion moves no marker below the one deleted, so the earlier indices stay good.
  // Each deletion takes its marker out of its chains and, with its record, out of the selection.
  const std::vector<int32_t> chosen = connector_selection_indices();
  for (auto index = chosen.rbegin(); index != chosen.rend(); ++index) {
    if (marker_operation_delete(*index)) ++deleted;
  }
  connector_selection_clear();
  if (!step.commit()) return 0;
  return deleted;
}
