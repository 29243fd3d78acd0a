#include "shell/shell_queries.h"

namespace {
// The observer's bounded flag, kept here until the observer module holds it.
bool observer_bounded = false;
}  // namespace

bool shell_height_painter_has_undo() { return false; }
bool shell_terrain_painter_has_undo() { return false; }
int32_t shell_selected_marker_count() { return 0; }
bool shell_vertex_selection_any() { return false; }
bool shell_model_is_current() { return false; }
bool shell_model_animation_is_current() { return false; }
bool shell_connector_creation_active() { return false; }
bool shell_observer_is_bounded() { return observer_bounded; }
void shell_observer_set_bounded(bool bounded) { observer_bounded = bounded; }
