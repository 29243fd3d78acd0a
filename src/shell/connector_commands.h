// The shell's side of connectors: the commands are declared with the others in shell_commands.h.
#pragma once

// The Delete key in the visual view: deletes the selected markers (each leaving its connectors,
// and the chain being collected, first). False, doing nothing, when no marker is selected.
bool shell_delete_selected_markers();
