// Selection > Create Data Container..., Create Squad... and Create Observer Movement Action...: the
// name entry dialog, then one map action operation each.
#include <string>
#include <vector>

#include "input/observer.h"
#include "map/mesh.h"
#include "shell/map_actions_window.h"
#include "shell/shell.h"
#include "shell/shell_commands.h"
#include "shell/shell_dialogs.h"
#include "shell/vellgrim_frame.h"
#include "tools/connector_selection.h"
#include "tools/selection_actions.h"

namespace {

bool ask_name(std::string* name) { return mesh_is_open() && NameEntryDialog(shell.frame, name); }

void created(int32_t slot) {
  if (slot < 0) return;
  RefreshMapActionsWindow(MAP_ACTIONS_REBUILD_ACTIONS, true);
}

}  // namespace

void CommandCreateDataContainer() {
  std::string name;
  if (!ask_name(&name)) return;
  const std::vector<int32_t> markers = connector_selection_indices();
  created(selection_action_create_data_container(name.c_str(), markers));
}

void CommandCreateSquad() {
  std::string name;
  if (!ask_name(&name)) return;
  const std::vector<int32_t> markers = connector_selection_indices();
  created(selection_action_create_squad(name.c_str(), markers));
}

void CommandCreateObserverMovementAction() {
  std::string name;
  const observer_data* observer = observer_get();
  if (observer == nullptr || !ask_name(&name)) return;
  created(selection_action_create_observer_movement(name.c_str(), observer->target, observer->facing));
}
