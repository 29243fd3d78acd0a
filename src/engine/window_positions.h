// Where the editor's windows stood when it last ended. They live outside the tag store, in an
// ini-style settings file of organisation "Korvan", application "WinVellgrim", section
// "Window Positions": $XDG_CONFIG_HOME (or ~/.config) + "/Korvan/WinVellgrim.ini", the file and
// format a Qt settings object in ini format would use, so the engine and the shell can share it.
#pragma once

#include <cstdint>
#include <string>

enum window_position_window : int16_t {
  _window_screen = 0,  // the main window (visual view)
  _window_overhead,
  _window_tools,
  _window_map_actions,
  _window_scenery,
  _window_terrain,
  NUMBER_OF_POSITIONED_WINDOWS
};

struct window_position {
  int32_t x, y;  // the screen position of the window's top-left corner
};

struct window_positions {
  window_position windows[NUMBER_OF_POSITIONED_WINDOWS];
};

inline constexpr const char* WINDOW_POSITIONS_ORGANISATION = "Korvan";
inline constexpr const char* WINDOW_POSITIONS_APPLICATION = "WinVellgrim";
inline constexpr const char* WINDOW_POSITIONS_SECTION = "Window Positions";

enum {
  WINDOW_POSITION_MAXIMUM_X = 1023,  // a saved X outside 0..1023 reads back as the replacement
  WINDOW_POSITION_MAXIMUM_Y = 767,
  WINDOW_POSITION_REPLACEMENT_X = 640,
  WINDOW_POSITION_REPLACEMENT_Y = 50,
};

// The keys of a window ("screenWindowX", ...) and its default position.
const char* window_position_x_key(int16_t window);
const char* window_position_y_key(int16_t window);
window_position window_position_default(int16_t window);

// The settings file in use; an empty path restores the standard place (tests point it elsewhere).
void window_positions_set_file(const std::string& path);
std::string window_positions_file();

// Reads the twelve keys, each with its default when missing or not a number, then replaces every
// out-of-range coordinate. Always fills `positions`; false only when the file exists but cannot
// be read.
bool window_positions_read(window_positions* positions);
// Writes the twelve keys, keeping every other line of the file, and replaces the file whole.
// False (reported with code 4) when it cannot be written.
bool window_positions_write(const window_positions& positions);

// Other settings of the same profile file: one line of text under a key of a section, the file's
// other lines kept. Read answers false when the key is missing; write when the file can't be
// written (reported) or the value spans lines.
bool profile_read_text(const char* section, const char* key, std::string* value);
bool profile_write_text(const char* section, const char* key, const std::string& value);
