// The shell state, the dispatcher and the menu-state rules.
#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>

#include <chrono>

#include "shell/command_table.h"
#include "shell/overhead_view.h"
#include "shell/shell.h"
#include "shell/shell_queries.h"
#include "shell/tool_modes.h"
#include "shell/vellgrim_frame.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"

shell_state shell;

bool DispatchMenuCommand(int32_t id) {
  const menu_entry* entry = menu_entry_find(id);
  if (!entry) return false;
  if (entry->run) entry->run();
  UpdateMenuState();
  return true;
}

namespace {

void enable_item(int32_t id, bool enabled) {
  if (QAction* action = shell.frame ? shell.frame->menuAction(id) : nullptr) action->setEnabled(enabled);
}

// Undo and Redo name the step they would walk: "Undo Raise Mesh Edges".
void set_journal_item(int32_t id, const char* verb, const char* step, const char* keys, bool enabled) {
  QAction* action = shell.frame ? shell.frame->menuAction(id) : nullptr;
  if (!action) return;
  QString text = QString::fromLatin1(verb);
  if (enabled && *step) text += QChar(' ') + QString::fromLatin1(step).replace('&', "&&");
  action->setText(text + QChar('\t') + QString::fromLatin1(keys));
  action->setEnabled(enabled);
}

void check_item(int32_t id, bool checked) {
  if (QAction* action = shell.frame ? shell.frame->menuAction(id) : nullptr) action->setChecked(checked);
}

// Edit, Maps, Models, Mesh, Selection and Windows, by position; File is never greyed.
void enable_top_level_menus(bool enabled) {
  for (int position = 1; position < NUMBER_OF_TOP_LEVEL_MENUS; ++position) {
    if (QMenu* menu = shell.frame->topLevelMenu(position)) menu->menuAction()->setEnabled(enabled);
  }
}

bool tool_has_preferences(int32_t tool) {
  switch (tool) {
    case _tool_height_painter:
    case _tool_place_scenery:
    case _tool_place_model:
    case _tool_place_unit:
    case _tool_place_sound_source:
    case _tool_place_model_animation:
      return true;
    default:
      return false;
  }
}

}  // namespace

void UpdateMenuState() {
  if (!shell.frame) return;
  const bool open = shell_map_is_open();
  enable_item(COMMAND_NEW_MAP, !open);
  enable_item(COMMAND_OPEN_MAP, !open);
  enable_item(COMMAND_CLOSE_MAP, open);
  enable_item(COMMAND_SAVE_MAP, open && map_is_modified());
  if (open) {
    const int32_t tool = shell.current_tool;
    const bool markers_selected = shell_selected_marker_count() > 0;
    const bool vertices_selected = shell_vertex_selection_any();
    set_journal_item(COMMAND_UNDO, "&Undo", edit_journal_undo_name(), "Ctrl-Z", edit_journal_can_undo());
    set_journal_item(COMMAND_REDO, "&Redo", edit_journal_redo_name(), "Ctrl-Y", edit_journal_can_redo());
    enable_item(COMMAND_CUT, false);
    enable_item(COMMAND_COPY, false);
    enable_item(COMMAND_PASTE, false);
    enable_item(COMMAND_DUPLICATE, markers_selected);
    enable_item(COMMAND_TOOL_PREFERENCES, tool_has_preferences(tool));
    enable_item(COMMAND_CALCULATE_MODEL_ANIMATION_SHADOWS, shell_model_animation_is_current());
    enable_item(COMMAND_REMOVE_MODEL_ANIMATION_SHADOWS, shell_model_animation_is_current());
    enable_item(COMMAND_SET_MODEL_LOCATION, shell_model_is_current());
    check_item(COMMAND_BOUNDED_OBSERVER, shell_observer_is_bounded());
    for (int32_t id : {COMMAND_SET_MEDIA_HEIGHT, COMMAND_SET_HEIGHT, COMMAND_SET_HEIGHT_TO_ZERO,
                       COMMAND_JITTER_SELECTED_VERTICES})
      enable_item(id, vertices_selected);
    check_item(COMMAND_CREATE_NEW_CONNECTOR, shell_connector_creation_active());
    enable_item(COMMAND_REMOVE_CONNECTOR_FROM_SELECTION, markers_selected);
    enable_item(COMMAND_CREATE_OBSERVER_MOVEMENT_ACTION, true);
    for (int32_t id : {COMMAND_CREATE_DATA_CONTAINER, COMMAND_CREATE_SQUAD, COMMAND_ROTATE_SELECTION})
      enable_item(id, markers_selected);
    // Edit Marker opens in its several-markers mode when none is selected: it is never greyed.
    if (markers_selected) enable_item(COMMAND_EDIT_MARKER, true);
    enable_item(COMMAND_ZOOM_IN, GetOverheadZoom() < GetOverheadMaximumZoom());
    enable_item(COMMAND_ZOOM_OUT, GetOverheadZoom() > GetOverheadMinimumZoom());
  }
  enable_top_level_menus(open);
  shell.frame->menuBar()->update();
}

bool ToggleMenuCheck(int32_t id) {
  QAction* action = shell.frame ? shell.frame->menuAction(id) : nullptr;
  if (!action) return false;
  action->setChecked(!action->isChecked());
  return action->isChecked();
}

bool shell_map_is_open() { return map_is_open(); }

void SetMapModified(bool modified) {
  const bool before = map_is_modified();
  map_set_modified(modified);
  if (map_is_modified() != before) UpdateMenuState();
}

bool IsMapModified() { return map_is_modified(); }
void SetShadowMapsChanged(bool changed) { map_set_shadow_maps_changed(changed); }
bool AreShadowMapsChanged() { return map_shadow_maps_changed(); }

namespace {

// Some window managers move a window when they take its frame away on hiding it, so a hidden
// window's own geometry is not where it stood. The position it had when it was hidden is kept
// instead: it is saved at exit and the window comes back there.
class window_position_keeper : public QObject {
 public:
  window_position_keeper(QWidget* window, shell_window which) : QObject(window), which_(which) {
    window->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide && watched == parent()) {
      const QPoint corner = static_cast<QWidget*>(watched)->frameGeometry().topLeft();
      shell.positions.windows[which_] = {corner.x(), corner.y()};
    }
    return false;
  }

 private:
  shell_window which_;
};

// Puts the window's frame at the position. Qt sizes a window that nobody sized when it is first
// shown, and a window resized before it exists takes its position as that of its client area, so
// the window is sized first.
void move_frame_to(QWidget* window, const window_position& position) {
  if (!window->testAttribute(Qt::WA_Resized)) window->adjustSize();
  window->move(position.x, position.y);
}

int shell_window_index(const QWidget* window) {
  for (int which = 0; which < NUMBER_OF_SHELL_WINDOWS; ++which) {
    if (shell.windows[which] == window) return which;
  }
  return -1;
}

// Shown normally, a window also comes to the front; `activate` gives it the keyboard too. Only the
// last window of a group may ask for it: a window just mapped takes it when it first appears, which
// can be after a later window's request.
void show_shell_window(QWidget* window, bool activate) {
  if (!window) return;
  if (!window->isVisible()) {
    const int which = shell_window_index(window);
    if (which >= 0) move_frame_to(window, shell.positions.windows[which]);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->show();
    window->setAttribute(Qt::WA_ShowWithoutActivating, false);
  }
  window->showNormal();
  window->raise();
  if (activate) window->activateWindow();
}

}  // namespace

void ShowShellWindow(QWidget* window) { show_shell_window(window, true); }

void HideShellWindow(QWidget* window) {
  if (window && window->isVisible()) window->hide();
}

// The visual view comes last and takes the keyboard.
void ShowMapWindows() {
  show_shell_window(shell.windows[_shell_window_tools], false);
  show_shell_window(shell.windows[_shell_window_overhead], false);
  const int32_t tool = shell.current_tool;
  if (tool_marker_type(tool) != -1) show_shell_window(shell.windows[_shell_window_scenery], false);
  if (tool == _tool_terrain_painting) show_shell_window(shell.windows[_shell_window_terrain], false);
  if (tool == _tool_map_actions) show_shell_window(shell.windows[_shell_window_map_actions], false);
  show_shell_window(shell.windows[_shell_window_visual], true);
}

void HideMapWindows() {
  for (shell_window window : {_shell_window_tools, _shell_window_overhead, _shell_window_scenery,
                              _shell_window_terrain, _shell_window_map_actions})
    HideShellWindow(shell.windows[window]);
}

void shell_place_window(QWidget* window, shell_window which) {
  move_frame_to(window, shell.positions.windows[which]);
  shell.windows[which] = window;
  new window_position_keeper(window, which);
}

window_position shell_window_position(shell_window which) {
  const QWidget* window = shell.windows[which];
  if (!window || !window->isVisible()) return shell.positions.windows[which];
  const QPoint corner = window->frameGeometry().topLeft();
  return {corner.x(), corner.y()};
}

void SetShellTitle(const char* text) {
  const QString title = QString::fromLatin1(text);
  for (shell_window window : {_shell_window_visual, _shell_window_overhead}) {
    if (shell.windows[window]) shell.windows[window]->setWindowTitle(title);
  }
}

void GetCursorInView(int16_t* x, int16_t* y) {
  QPoint position;
  if (shell.frame) position = shell.frame->visualView()->mapFromGlobal(QCursor::pos());
  *x = int16_t(position.x());
  *y = int16_t(position.y());
}

uint16_t shell_modifier_word() {
  const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
  uint16_t word = 0;
  if (keys & Qt::AltModifier) word |= INPUT_MODIFIER_ALT;
  if (keys & Qt::ShiftModifier) word |= INPUT_MODIFIER_SHIFT;
  if (QGuiApplication::mouseButtons() & Qt::RightButton) word |= INPUT_MODIFIER_RIGHT_BUTTON;
  if (keys & Qt::ControlModifier) word |= INPUT_MODIFIER_CTRL;
  return word;
}

uint32_t shell_tick_count() {
  static const auto start = std::chrono::steady_clock::now();
  return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                      .count());
}
