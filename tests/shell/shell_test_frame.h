// Starts the editor's frame and its windows as the program does, with the window positions kept in
// the test store's own folder so that no test reads or writes the user's profile.
#pragma once

#include "engine/window_positions.h"
#include "shell/vellgrim_startup.h"
#include "support/map_test_store.h"
#include "support/work_folder.h"

inline void shell_test_create_frame(const map_test_store& store) {
  window_positions_set_file(store.folder().path() + "/WinVellgrim.ini");
  vellgrim_read_profile();
  vellgrim_create_frame();
  vellgrim_create_windows();
}
