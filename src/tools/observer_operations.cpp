#include "tools/observer_operations.h"

#include "cseries/error_manager.h"
#include "input/observer.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"

int32_t observer_operation_drop(int16_t palette_entry) {
  if (!mesh_is_open() || palette_entry < 1 || palette_entry > palette_entry_count_of_type(_marker_observer)) return -1;
  const observer_data* observer = observer_get();
  marker_data marker{};
  marker.type = _marker_observer;
  marker.palette_index = int16_t(palette_entry - 1);
  marker.location.x = observer->target.x;
  marker.location.y = observer->target.y;
  marker.location.z = mesh_height_at(observer->target.x, observer->target.y, _mesh_height_ground);
  marker.yaw = observer->facing;
  marker.object_index = marker.object_identifier = -1;
  journal_step step("Drop Observer");
  if (!step.is_open()) return -1;
  const marker_data* added = marker_operation_add(marker);
  if (!added) {
    // A full list is no reason to end the program and lose the map: the author is told, the map stays.
    POST_ERROR(error_array_full, "couldn't add marker for %s.", map_name());
    return -1;
  }
  const int32_t index = int32_t(added - mesh_markers());
  if (!step.commit()) return -1;
  return index;
}
