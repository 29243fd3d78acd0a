// The Mesh menu's connector commands, the check mark's state and the Delete key while markers are
// selected. The work is the connectors module's; each change is one step of the edit journal.
#include "shell/connector_commands.h"

#include "cseries/error_manager.h"
#include "shell/shell.h"
#include "shell/shell_commands.h"
#include "shell/shell_queries.h"
#include "shell/tool_modes_private.h"
#include "tools/connector_selection.h"
#include "tools/map_session.h"
#include "tools/vellgrim_connectors.h"

bool shell_connector_creation_active() { return connector_creating(); }

// Checked: ends the chain (committing it when it has posts). Unchecked: starts one; the check mark
// follows connector_creating(), so a 33rd connector leaves it clear.
void CommandCreateNewConnector() {
  if (!map_is_open()) return;
  if (connector_creating()) {
    connector_end();
  } else {
    connector_begin();
  }
}

void CommandRemoveConnectorFromSelection() {
  if (!map_is_open()) return;
  if (connector_selection_remove_from_connectors() == _connector_removal_joined) show_warning_box("%s", error_last_message());
}

void CommandRemoveAllConnectors() {
  if (!map_is_open()) return;
  connectors_remove_all();
}

bool shell_delete_selected_markers() {
  if (!map_is_open()) return false;
  // Without selected markers the key deletes the current model or model animation.
  if (connector_selection_count() == 0) {
    if (!tool_models_delete_current()) return false;
    UpdateMenuState();
    return true;
  }
  connector_selection_delete_markers();
  UpdateMenuState();
  return true;
}
