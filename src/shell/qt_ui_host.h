// The editor's UI host: engine code's questions and refusals as Qt message boxes and dialogs.
#pragma once

// Installs the host (for the life of the program).
void qt_ui_host_install();
