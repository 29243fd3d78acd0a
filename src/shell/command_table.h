// The menu bar, the accelerators and the command table of the main window: one table that gives
// every menu item its identifier, its text and the procedure the dispatcher runs for it.
#pragma once

#include <cstdint>
#include <span>

enum command_id : uint16_t {
  COMMAND_NEW_MAP = 32771,
  COMMAND_OPEN_MAP = 32772,
  COMMAND_CLOSE_MAP = 32773,
  COMMAND_SAVE_MAP = 32775,
  COMMAND_QUIT = 32776,
  COMMAND_VIEW_PREFERENCES = 32782,
  COMMAND_TOOL_PREFERENCES = 32783,
  COMMAND_UNPROTECT_ALL_SUBMESHES = 32784,
  COMMAND_NO_SHADOWS = 32785,
  COMMAND_BASIC_LIGHTING = 32786,
  COMMAND_ADD_MESH_SHADING = 32787,
  COMMAND_ADD_MODEL_SHADING = 32788,
  COMMAND_IMPORT_SHADOW_MAP = 32789,
  COMMAND_EXPORT_SHADOW_MAP = 32790,
  COMMAND_CALCULATE_MODEL_ANIMATION_SHADOWS = 32791,
  COMMAND_IMPORT_COLOR_MAP = 32792,
  COMMAND_EXPORT_COLOR_MAP = 32793,
  COMMAND_IMPORT_REFLECTION_MAP = 32794,
  COMMAND_EDIT_DISPLACEMENT_RANGE = 32795,
  COMMAND_IMPORT_DISPLACEMENT_MAP = 32796,
  COMMAND_EXPORT_DISPLACEMENT_MAP = 32797,
  COMMAND_IMPORT_WATER_LEVEL = 32798,
  COMMAND_EXPORT_WATER_LEVEL = 32799,
  COMMAND_IMPORT_TERRAIN_MAP = 32800,
  COMMAND_EXPORT_TERRAIN_MAP = 32801,
  COMMAND_SET_MODEL_LOCATION = 32802,
  COMMAND_BOUNDED_OBSERVER = 32803,
  COMMAND_DROP_OBSERVER = 32804,
  COMMAND_SET_HEIGHT = 32805,
  COMMAND_SET_HEIGHT_TO_ZERO = 32806,
  COMMAND_SET_MEDIA_HEIGHT = 32807,
  COMMAND_SET_ALL_MEDIA_HEIGHTS = 32808,
  COMMAND_EDIT_JITTER_AMOUNT = 32809,
  COMMAND_JITTER_SELECTED_VERTICES = 32810,
  COMMAND_EDIT_MESH_EDGE_RAISE_AMOUNT = 32811,
  COMMAND_RAISE_MESH_EDGES = 32812,
  COMMAND_MAKE_MESH_EDGES_IMPASSABLE = 32813,
  COMMAND_SET_MESH_PARAMETERS = 32814,
  COMMAND_SHIFT_MESH_AND_MARKERS = 32815,
  COMMAND_RECOMPUTE_MESH_LOD = 32816,
  COMMAND_EXPORT_MAP_ACTIONS = 32817,
  COMMAND_IMPORT_MAP_ACTIONS = 32818,
  COMMAND_CREATE_NEW_CONNECTOR = 32819,
  COMMAND_REMOVE_ALL_CONNECTORS = 32820,
  COMMAND_EDIT_MARKER = 32821,
  COMMAND_ROTATE_SELECTION = 32822,
  COMMAND_CREATE_DATA_CONTAINER = 32823,
  COMMAND_CREATE_SQUAD = 32824,
  COMMAND_CREATE_OBSERVER_MOVEMENT_ACTION = 32825,
  COMMAND_WINDOW_VISUAL = 32826,
  COMMAND_WINDOW_OVERHEAD = 32827,
  COMMAND_WINDOW_TOOLS = 32828,
  COMMAND_ZOOM_IN = 32829,
  COMMAND_ZOOM_OUT = 32830,
  COMMAND_UNDO = 32861,
  COMMAND_CUT = 32862,
  COMMAND_COPY = 32863,
  COMMAND_PASTE = 32864,
  COMMAND_DUPLICATE = 32865,
  COMMAND_REDO = 32866,  // the edit journal's, beside Undo
  COMMAND_EXPORT_REFLECTION_MAP = 32887,
  COMMAND_REMOVE_MODEL_ANIMATION_SHADOWS = 32888,
  COMMAND_REMOVE_CONNECTOR_FROM_SELECTION = 32889,
  COMMAND_MESH_LIMITS = 32891,
};

enum menu_entry_kind : int8_t {
  _menu_popup,      // opens a menu (top level) or a submenu; closed by _menu_end
  _menu_end,
  _menu_item,
  _menu_check_item, // an item with a check mark
  _menu_separator,
};

struct menu_entry {
  menu_entry_kind kind;
  uint16_t id;          // 0 for popups, ends and separators
  const char* text;     // as in the menu resource: "&" marks the mnemonic, "\t" the accelerator text
  void (*run)();        // none for the items that never do anything (Cut, Copy, Paste)
};

// The menu bar, depth first: seven top-level popups, "&Maps" with its five submenus.
std::span<const menu_entry> menu_bar_entries();
// The entry of a command identifier, none when the table has no such item.
const menu_entry* menu_entry_find(int32_t id);

struct accelerator_entry {
  const char* keys;  // as a key sequence: "+", "-", "Ctrl+C" ...
  uint16_t id;
};
std::span<const accelerator_entry> accelerator_entries();

enum { NUMBER_OF_TOP_LEVEL_MENUS = 7 };
