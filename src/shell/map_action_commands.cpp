// Mesh > Export Map Actions... and Import Map Actions...: the map action text format through the
// editor's file dialogs. The import is one step of the edit journal, so Undo takes it back.
#include "map/mesh.h"
#include "shell/map_actions_window.h"
#include "shell/shell.h"
#include "shell/shell_commands.h"
#include "tools/map_action_text.h"

void CommandExportMapActions() {
  if (!mesh_is_open()) return;
  map_action_text_export_command();
}

void CommandImportMapActions() {
  if (!mesh_is_open()) return;
  if (!map_action_text_import_command()) return;
  // Every action was replaced: what the window remembered by row no longer means anything.
  RefreshMapActionsWindow(MAP_ACTIONS_REBUILD_ACTIONS, false);
  UpdateMenuState();
}
