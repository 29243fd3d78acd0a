// Starts the editor's frame and its windows as the program does, with the window positions kept in
// the test store's own folder so that no test reads or writes the user's profile.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <type_traits>

#include <gtest/gtest.h>

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

// Runs `act` on the modal dialog that comes up next, as soon as it is up.
template <class Dialog = QDialog>
void with_modal(const std::type_identity_t<std::function<void(Dialog*)>>& act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(dialog);
  });
}
