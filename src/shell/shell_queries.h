// What the menu rules and the commands ask of the editor's other modules: the painters' undo
// steps, the marker and vertex selections, the current model, the observer, connector creation.
// Each answer comes from the module that keeps that state; until a module is written its answer is
// the true one for an editor that cannot make that state yet (nothing selected, no undo step).
#pragma once

#include <cstdint>
#include <vector>

bool shell_height_painter_has_undo();
bool shell_terrain_painter_has_undo();
int32_t shell_selected_marker_count();
// The list indices of the selected markers, and the marker of the current model (-1 for none).
std::vector<int32_t> shell_selected_marker_indices();
int32_t shell_current_model_marker();
bool shell_vertex_selection_any();
bool shell_model_is_current();
bool shell_model_animation_is_current();
bool shell_connector_creation_active();
bool shell_observer_is_bounded();
void shell_observer_set_bounded(bool bounded);
// The palette entry (from 1) a placement tool of that marker type places; -1 for none.
int16_t shell_tool_palette_entry(int16_t marker_type);
