#include "tools/connector_selection.h"

#include <algorithm>
#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "tools/edit_journal.h"
#include "tools/marker_operations.h"
#include "tools/vellgrim_connectors.h"

namespace {

std::vector<connector_selection_entry> selection;

auto find_entry(int16_t type, int16_t identifier) {
  return std::find_if(selection.begin(), selection.end(), [=](const connector_selection_entry& entry) {
    return entry.type == type && entry.identifier == identifier;
  });
}

}  // namespace

bool connector_selection_add(int16_t type, int16_t identifier) {
  if (!mesh_is_open() || selection.size() >= MAXIMUM_CONNECTOR_SELECTION) return false;
  const marker_data* marker = marker_find_by_identifier(type, identifier);
  if (!marker || find_entry(type, identifier) != selection.end()) return false;
  selection.push_back({type, identifier});
  connector_add_marker(*marker);
  return true;
}

void connector_selection_remove(int16_t type, int16_t identifier) {
  auto found = find_entry(type, identifier);
  if (found != selection.end()) selection.erase(found);
}

void connector_selection_clear() { selection.clear(); }
int32_t connector_selection_count() { return int32_t(selection.size()); }
bool connector_selection_contains(int16_t type, int16_t identifier) {
  return find_entry(type, identifier) != selection.end();
}
std::span<const connector_selection_entry> connector_selection_entries() { return selection; }

int16_t connector_selection_remove_from_connectors() {
  journal_step step("Remove Connector from Selection");
  if (!step.is_open()) return _connector_removal_none;
  int16_t outcome = _connector_removal_none;
  // A copy: the removals do not change the selection, but the list is walked by value all the same.
  const std::vector<connector_selection_entry> chosen = selection;
  for (const connector_selection_entry& entry : chosen) {
    const marker_data* marker = marker_find_by_identifier(entry.type, entry.identifier);
    if (!marker || marker->type != _marker_scenery) continue;
    outcome = std::max<int16_t>(outcome, connector_remove_marker(*marker));
  }
  return step.commit() ? outcome : int16_t(_connector_removal_none);
}

int32_t connector_selection_delete_markers() {
  journal_step step("Delete Markers");
  if (!step.is_open()) return 0;
  int32_t deleted = 0;
  const std::vector<connector_selection_entry> chosen = selection;
  for (const connector_selection_entry& entry : chosen) {
    const marker_data* marker = marker_find_by_identifier(entry.type, entry.identifier);
    if (!marker) continue;
    // The deletion takes the marker out of its chains and out of the selection.
    if (marker_operation_delete(int32_t(marker - mesh_markers()))) ++deleted;
  }
  selection.clear();
  if (!step.commit()) return 0;
  return deleted;
}
