// The editor's start-up, in order: the settings profile, the window positions, the main window, the
// display check, then the engine (crash handler, log, engine initialisation, foundation tags), the
// editor's windows, and the main loop.
#pragma once

// Runs the editor inside an existing QApplication until Quit; the process's exit status. Start-up
// failures end the process through halt_program.
int vellgrim_run();

// The parts of start-up, for the tests.
// The settings profile ("Korvan", "WinVellgrim") and the saved window positions.
void vellgrim_read_profile();
// The main window at its saved position, with its menus, accelerators and scenery window.
void vellgrim_create_frame();
// The editor's windows in their order (the menu states first, the tools window last), the main
// window shown.
void vellgrim_create_windows();
// Drops every window and forgets the shell state (tests start again from nothing).
void vellgrim_destroy_windows();
