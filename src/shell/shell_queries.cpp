#include "shell/shell_queries.h"


#include "input/observer.h"
#include "map/marker_utils.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "tools/connector_selection.h"
#include "tools/height_painter.h"
#include "tools/terrain_painter.h"
#include "tools/vertex_selection.h"

bool shell_height_painter_has_undo() { return height_painter_has_undo(); }
bool shell_terrain_painter_has_undo() { return terrain_painter_has_undo(); }
int32_t shell_selected_marker_count() { return connector_selection_count(); }
std::vector<int32_t> shell_selected_marker_indices() { return connector_selection_indices(); }
int32_t shell_current_model_marker() { return tool_models_current_marker(_marker_model); }
bool shell_vertex_selection_any() { return vertex_selection_any(); }
bool shell_model_is_current() { return tool_models_current_marker(_marker_model) >= 0; }
bool shell_model_animation_is_current() { return tool_models_current_marker(_marker_model_animation) >= 0; }
bool shell_observer_is_bounded() { return observer_is_bounded(); }
void shell_observer_set_bounded(bool bounded) { observer_set_bounded(bounded); }
// The entry chosen in the scenery window for the placement tool of that type.
int16_t shell_tool_palette_entry(int16_t marker_type) {
  for (int32_t tool = 0; tool < NUMBER_OF_TOOLS; ++tool)
    if (tool_marker_type(tool) == marker_type) return tool_palette_entry(tool);
  return -1;
}
