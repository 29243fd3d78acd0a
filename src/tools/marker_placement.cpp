#include "tools/marker_placement.h"

#include <algorithm>
#include <random>
#include <vector>

#include "cseries/error_manager.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"

namespace {

enum : int32_t { HALF_CELL = 256, CELL = 512 };

uint16_t random_facing() {
  static std::mt19937 generator{std::random_device{}()};
  return uint16_t(generator() & 0xFFFF);
}

}  // namespace

namespace {

world_point3d clamped(const world_point3d& point, int32_t margin) {
  const int32_t right = std::max(0, mesh_cells_across() * CELL - margin);
  const int32_t bottom = std::max(0, mesh_cells_down() * CELL - margin);
  return {std::clamp(point.x, 0, right), std::clamp(point.y, 0, bottom), point.z};
}

}  // namespace

world_point3d marker_placement_clamp(const world_point3d& point) { return clamped(point, 1); }

int32_t marker_placement_add(const marker_placement& placement) {
  if (!mesh_is_open() || placement.palette_entry < 1 ||
      placement.palette_entry > palette_entry_count_of_type(placement.type))
    return -1;
  marker_data marker{};
  marker.type = placement.type;
  marker.palette_index = int16_t(placement.palette_entry - 1);
  marker.location = marker_placement_clamp(placement.point);
  if (placement.ground_height)
    marker.location.z = mesh_height_at(marker.location.x, marker.location.y, _mesh_height_ground);
  marker.yaw = placement.random_facing ? random_facing() : placement.facing;
  marker.object_index = marker.object_identifier = NONE;
  journal_step step("Add Marker");
  if (!step.is_open()) return -1;
  const marker_data* added = marker_operation_add(marker);
  if (!added) {
    // A full list is no reason to end the program: the author is told, the map stays as it was.
    POST_ERROR(error_array_full, "couldn't add marker for %s.", map_name());
    return -1;
  }
  const int32_t index = int32_t(added - mesh_markers());
  return step.commit() ? index : -1;
}

int32_t marker_placement_duplicate_selection() {
  if (!mesh_is_open()) return -1;
  journal_step step("Duplicate");
  if (!step.is_open()) return -1;
  // The selected bits change with the list: the whole list is kept for Undo.
  edit_journal_note_section(_mesh_section_markers);
  std::vector<int32_t> copies;
  for (int32_t i = 0; i < mesh_marker_count(); ++i) {
    const marker_data source = mesh_markers()[i];
    if (!(source.flags & _marker_selected) || source.object_index == NONE) continue;
    marker_placement placement{};
    placement.type = source.type;
    placement.palette_entry = int16_t(source.palette_index + 1);
    // A copy keeps clear of the last cell's far edges.
    placement.point = clamped({source.location.x + HALF_CELL, source.location.y + HALF_CELL, source.location.z},
                              CELL + 1);
    placement.random_facing = true;
    placement.ground_height = true;
    const int32_t copy = marker_placement_add(placement);
    if (copy < 0) return -1;  // the step puts every copy back
    copies.push_back(copy);
    mesh_edit_markers()[i].flags &= ~uint32_t(_marker_selected);
  }
  // Set afterwards, so that a copy is never copied again in the same pass.
  for (const int32_t copy : copies) mesh_edit_markers()[copy].flags |= _marker_selected;
  return step.commit() ? int32_t(copies.size()) : -1;
}
