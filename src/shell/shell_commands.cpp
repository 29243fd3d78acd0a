#include "shell/tool_preferences.h"
#include "shell/shell_commands.h"


#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/definition_groups.h"
#include "session/engine.h"
#include "engine/preferences.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "platform/ui_host.h"
#include "shell/command_table.h"
#include "shell/map_actions_window.h"
#include "shell/map_image_commands.h"
#include "shell/marker_dialogs.h"
#include "shell/overhead_view.h"
#include "shell/shell.h"
#include "shell/shell_dialogs.h"
#include "shell/shell_queries.h"
#include "shell/tool_modes.h"
#include "shell/vellgrim_frame.h"
#include "shell/visual_view.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/marker_placement.h"
#include "tools/new_map.h"
#include "tools/observer_operations.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

QWidget* dialog_parent() { return shell.frame; }

void show_error(const char* format, const char* name) {
  char text[160];
  std::snprintf(text, sizeof(text), format, name);
  ui_message_box("Error", text, ui_icon_error, ui_buttons_ok);
}

}  // namespace

// ---- File ----

namespace {

// "Name|patterns" for the UI host. Bitmap names come in either case on a file system that tells
// them apart.
constexpr char NEW_MAP_BITMAP_FILTER[] = "Bitmap Files|*.BMP *.bmp";

bool choose_new_map_bitmap(std::string* path) {
  return ui_choose_open_file(NEW_MAP_BITMAP_TITLE, NEW_MAP_BITMAP_FILTER, *path);
}

}  // namespace

// Every answer is collected before new_map_create, which checks them all before any tag changes;
// the naming dialog has asked about a replacement already, so that question is not asked again.
void CommandNewMap() {
  std::string name;
  bool replace_confirmed = false;
  if (!NewTagNameDialog(dialog_parent(), NEW_MAP_NAME_TITLE, MESH_DEFINITION_GROUP_TAG, NEW_MAP_DEFAULT_NAME, &name,
                        &replace_confirmed))
    return;
  const tag media = TagSelectionDialog(dialog_parent(), NEW_MAP_MEDIA_TITLE, media_definitions.group_tag);
  if (media == NONE_TAG) return;
  std::string bitmap_path;
  if (!choose_new_map_bitmap(&bitmap_path)) return;
  (void)new_map_create(name.c_str(), media, bitmap_path, replace_confirmed);
  // It may have closed the map that was open and failed afterwards, or opened the new one and then
  // failed to compute its LOD data: the windows follow whatever is open now. The title and the
  // flags come with the opening, as for Open Map.
  if (map_is_open()) {
    ShowMapWindows();
  } else {
    HideMapWindows();
  }
}

void CommandOpenMap() {
  const tag identifier = TagSelectionDialog(dialog_parent(), "Select a mesh:", MESH_DEFINITION_GROUP_TAG);
  if (identifier == NONE_TAG) return;
  const int32_t tag_index = tag_file_find(MESH_DEFINITION_GROUP_TAG, identifier);
  if (!map_open(tag_index)) {
    // Why is in the log; the author at least learns that nothing opened.
    if (!map_is_open()) show_error("couldn't open the map '%s'. The reasons are in tarn_log.txt.",
                                   tag_file_get_name(tag_index));
    return;
  }
  // The title follows every opened map (the shell's map-session client sets it).
  ShowMapWindows();
  // Opening cleared both flags, unless it brought back unsaved changes: those stay to be saved.
  UpdateMenuState();
}

void CommandCloseMap() {
  if (map_close()) HideMapWindows();
}

void CommandSaveMap() {
  if (!map_is_open()) return;
  // The session writes the changed shadow maps, the connectors and the LOD data before the tag.
  if (!map_save()) show_error("couldn't save '%s'. The reasons are in tarn_log.txt.", map_name());
}

void CommandQuit() {
  if (map_is_open()) {
    if (!map_close()) return;
    HideMapWindows();
  }
  if (game_data* data = game_data_get()) data->state = _game_state_quitting;
  shell.quit = true;
}

// ---- Edit ----
// Undo and Redo walk the edit journal; the preferences dialogs belong to the tools window.

// A step that can't be put back (no memory for a section) ends the history; the author learns why.
void CommandUndo() {
  if (edit_journal_can_undo() && !edit_journal_undo()) show_error("couldn't undo in '%s'. The reasons are in tarn_log.txt.", map_name());
  RefreshMapActionsWindow(MAP_ACTIONS_REBUILD_ACTIONS, true);
  UpdateMenuState();
}

void CommandRedo() {
  if (edit_journal_can_redo() && !edit_journal_redo()) show_error("couldn't redo in '%s'. The reasons are in tarn_log.txt.", map_name());
  RefreshMapActionsWindow(MAP_ACTIONS_REBUILD_ACTIONS, true);
  UpdateMenuState();
}

// The copies become the selection; a full marker list is reported and leaves the map as it was.
void CommandDuplicate() {
  if (!mesh_is_open()) return;
  const int32_t copies = marker_placement_duplicate_selection();
  if (copies < 0) show_error("couldn't add marker for %s.", map_name());
  visual_view_invalidate();
}
void CommandViewPreferences() { OpenViewPreferences(); }

// ---- Maps ----
// The shadow computation and the model animation shadows are in shadow_commands.cpp.

void CommandImportShadowMap() { MapImageImportWholeMap(_map_layer_shadow); }
void CommandExportShadowMap() { MapImageExportWholeMap(_map_layer_shadow); }
void CommandImportColorMap() { MapImageImportWholeMap(_map_layer_color); }
void CommandExportColorMap() { MapImageExportWholeMap(_map_layer_color); }
void CommandImportReflectionMap() { MapImageImportWholeMap(_map_layer_reflection); }
void CommandExportReflectionMap() { MapImageExportWholeMap(_map_layer_reflection); }
void CommandImportDisplacementMap() { MapImageImportWholeMap(_map_layer_displacement); }
void CommandExportDisplacementMap() { MapImageExportWholeMap(_map_layer_displacement); }
void CommandImportWaterLevel() { MapImageImportWholeMap(_map_layer_water_level); }
void CommandExportWaterLevel() { MapImageExportWholeMap(_map_layer_water_level); }
void CommandImportTerrainMap() { MapImageImportWholeMap(_map_layer_terrain); }
void CommandExportTerrainMap() { MapImageExportWholeMap(_map_layer_terrain); }

// The bounds live in the editor's preference record, loaded while a map is open.
void CommandEditDisplacementRange() {
  vellgrim_preferences* preferences = vellgrim_preferences_get();
  if (!preferences) return;
  DisplacementBoundsDialog(dialog_parent(), &preferences->displacement_lower_bound,
                           &preferences->displacement_upper_bound);
}

// ---- Models ----

// Set Model Location... lives with the mesh commands.

// ---- Mesh ----

void CommandBoundedObserver() { shell_observer_set_bounded(ToggleMenuCheck(COMMAND_BOUNDED_OBSERVER)); }

// The Place Observer tool's entry, at the observer's target and facing; recorded, so Undo takes it
// back and the map counts as modified.
void CommandDropObserver() {
  if (!mesh_is_open()) return;
  const int16_t entry = shell_tool_palette_entry(tool_marker_type(_tool_place_observer));
  // With an entry to place, only a full marker list refuses: the author is told, as placing does.
  if (observer_operation_drop(entry) < 0 && entry >= 1) show_error("couldn't add marker for %s.", map_name());
  UpdateMenuState();
}

// The height, media, jitter and edge commands are in mesh_commands.cpp, the connectors' in
// connector_commands.cpp, the map-action text commands in map_action_commands.cpp.
void CommandShiftMeshAndMarkers() { MapShiftMeshAndMarkers(); }

void CommandSetMeshParameters() {
  const mesh_definition* header = mesh_header();
  if (!header) return;
  mesh_observer_margins margins = {header->observer_margin_top, header->observer_margin_left,
                                   header->observer_margin_bottom, header->observer_margin_right};
  if (MeshParametersDialog(dialog_parent(), &margins)) {
    (void)mesh_set_parameters(margins.top, margins.left, margins.bottom, margins.right);  // a map is open
  }
}

// An allocation failure leaves the map without LOD data, which is a change too.
void CommandRecomputeMeshLod() {
  if (!mesh_is_open()) return;
  (void)mesh_recompute_lod_data();
  SetMapModified(true);
}

void CommandMeshLimits() { mesh_show_limits(); }

// ---- Selection ----
// One selected marker has the whole dialog; several share it without the position fields.
void CommandEditMarker() {
  const std::vector<int32_t> selected = shell_selected_marker_indices();
  if (selected.size() == 1)
    EditMarker(selected.front());
  else if (selected.size() > 1)
    EditSelectedMarkers();
}
// Create Data Container, Create Squad and Create Observer Movement Action: selection_action_commands.cpp.

// ---- Windows ----

void CommandWindowVisual() { ShowShellWindow(shell.windows[_shell_window_visual]); }
void CommandWindowOverhead() { ShowShellWindow(shell.windows[_shell_window_overhead]); }
void CommandWindowTools() { ShowShellWindow(shell.windows[_shell_window_tools]); }

namespace {
void zoom_overhead(float factor) {
  const float zoom = std::max(GetOverheadZoom() * factor, GetOverheadMinimumZoom());
  SetOverheadZoom(std::min(zoom, GetOverheadMaximumZoom()));
}
}  // namespace

void CommandZoomIn() { zoom_overhead(2.0f); }
void CommandZoomOut() { zoom_overhead(0.5f); }
