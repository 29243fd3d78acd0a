#include "tools/observer_operations.h"

#include "input/observer.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "tools/edit_journal.h"
#include "tools/marker_placement.h"

int32_t observer_operation_drop(int16_t palette_entry) {
  if (!mesh_is_open() || palette_entry < 1 || palette_entry > palette_entry_count_of_type(_marker_observer)) return -1;
  const observer_data* observer = observer_get();
  journal_step step("Drop Observer");
  if (!step.is_open()) return -1;
  // An unbounded observer can look at a point off the map: the marker is clamped onto it.
  marker_placement placement{};
  placement.type = _marker_observer;
  placement.palette_entry = palette_entry;
  placement.point = {observer->target.x, observer->target.y, 0};
  placement.facing = observer->facing;
  placement.ground_height = true;
  const int32_t index = marker_placement_add(placement);
  if (index < 0 || !step.commit()) return -1;
  return index;
}
