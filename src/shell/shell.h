// The editor shell: the state it keeps for the program (open map count, modified flags, current
// tool, the editor's windows) and the operations every window of the shell uses. Everything here
// runs on the one user-interface thread.
#pragma once

#include <cstdint>

#include "engine/window_positions.h"

class QWidget;
class CVellgrimFrameWnd;

// The input modifier word handed to the tools with every mouse and key event.
enum input_modifier : uint16_t {
  INPUT_MODIFIER_ALT = 0x0100,
  INPUT_MODIFIER_SHIFT = 0x0200,
  INPUT_MODIFIER_RIGHT_BUTTON = 0x0800,
  INPUT_MODIFIER_CTRL = 0x1000,
};

enum {
  VISUAL_VIEW_WIDTH = 640,
  VISUAL_VIEW_HEIGHT = 416,
  NUMBER_OF_TOOLS = 16,
  FIRST_TOOL_COMMAND = 32840,
};

// The shell's windows, indexed like their saved positions.
enum shell_window : int16_t {
  _shell_window_visual = _window_screen,
  _shell_window_overhead = _window_overhead,
  _shell_window_tools = _window_tools,
  _shell_window_map_actions = _window_map_actions,
  _shell_window_scenery = _window_scenery,
  _shell_window_terrain = _window_terrain,
  NUMBER_OF_SHELL_WINDOWS = NUMBER_OF_POSITIONED_WINDOWS
};

// The open-map count and the modified and shadow-maps-changed flags are the map session's
// (tools/map_session.h); the shell keeps the rest.
struct shell_state {
  int32_t current_tool = 0;      // 0..15
  int32_t application_active = 0;
  QWidget* windows[NUMBER_OF_SHELL_WINDOWS] = {};
  CVellgrimFrameWnd* frame = nullptr;
  // Read at start-up; a window's entry follows it when it is hidden (see shell_window_position).
  window_positions positions{};
  bool quit = false;             // the main loop's quit flag
};
extern shell_state shell;

bool shell_map_is_open();

// Runs the command with that identifier, then UpdateMenuState. False, doing nothing, for an
// identifier the command table does not have.
bool DispatchMenuCommand(int32_t id);
// Recomputes every enabled and checked state of the menu bar from the shell state.
void UpdateMenuState();
// Flips the check mark of a menu item; answers the new state.
bool ToggleMenuCheck(int32_t id);
void SetMapModified(bool modified);
bool IsMapModified();
void SetShadowMapsChanged(bool changed);
bool AreShadowMapsChanged();
void ShowShellWindow(QWidget* window);
void HideShellWindow(QWidget* window);
void ShowMapWindows();
void HideMapWindows();
// Records one of the shell's windows and moves it to its saved position.
void shell_place_window(QWidget* window, shell_window which);
// Where a window stands: its frame's top-left corner while it is shown; where it stood when it was
// last hidden (or where it was placed) otherwise. A hidden window is shown again there.
window_position shell_window_position(shell_window which);
// Sets the title of the visual view and of the overhead view.
void SetShellTitle(const char* text);
// The mouse position in visual-view client coordinates, each as a signed 16-bit value.
void GetCursorInView(int16_t* x, int16_t* y);
// The live modifier word (keyboard state and the right button).
uint16_t shell_modifier_word();
// Milliseconds since the program started.
uint32_t shell_tick_count();
