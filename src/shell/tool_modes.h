// The tool modes: the current tool decides what mouse and key input in the visual view does. The
// frame and the main loop hand every input event here.
#pragma once

#include <cstdint>

enum tool_index : int16_t {
  _tool_preview = 0,
  _tool_select_vertex,
  _tool_height_painter,
  _tool_select_cell,
  _tool_submesh,
  _tool_place_scenery,
  _tool_place_model,
  _tool_place_unit,
  _tool_place_observer,
  _tool_terrain_painting,
  _tool_place_projectile,
  _tool_place_sound_source,
  _tool_map_actions,
  _tool_place_local_projectile_group,
  _tool_place_model_animation,
  _tool_reflection_painting,
};

// The tooltip of a tool ("Preview", "Select Vertex" ...); "" outside 0..15.
const char* tool_name(int32_t index);
// The marker type a tool places, -1 for the tools that place none.
int16_t tool_marker_type(int32_t index);

// A placement tool's current palette entry (1-based; -1 for none or a tool without a palette).
int16_t tool_palette_entry(int32_t index);
void tool_set_palette_entry(int32_t index, int16_t entry);

void SelectTool(int32_t index);
// A tools-window button (identifiers 32840..32855).
void ToolbarCommand(int32_t id);

// Time in sixtieths of a second; positions in visual-view client coordinates.
void ToolMouseDown(uint32_t time, uint16_t modifiers, int16_t x, int16_t y);
void ToolMouseHeld(uint16_t modifiers, int16_t x, int16_t y);
void ToolMouseUp(uint16_t modifiers);
void ToolDoubleClick(uint16_t modifiers, int16_t x, int16_t y);
void ToolKey(uint8_t key, uint8_t same_key, uint16_t modifiers);
// After every engine step while a map is open.
void ToolIdle();
