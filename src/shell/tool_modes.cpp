// The tool table and tool switching. What each tool does with the mouse and the keys (selection,
// painting, placement, map-action picking) comes with the tools window; until then the input entry
// points accept the events and do nothing with them.
#include "shell/tool_modes.h"

#include "shell/shell.h"
#include "tools/height_painter.h"
#include "tools/vertex_selection.h"

namespace {

struct tool_definition {
  const char* name;
  int16_t marker_type;
};

const tool_definition tools[NUMBER_OF_TOOLS] = {
    {"Preview", -1},
    {"Select Vertex", -1},
    {"Height Painter", -1},
    {"Select Cell", -1},
    {"Submesh", -1},
    {"Place Scenery", 1},
    {"Place Model", 6},
    {"Place Unit", 3},
    {"Place Observer", 0},
    {"Terrain Painting", -1},
    {"Place Projectile", 9},
    {"Place Sound Source", 5},
    {"Map Actions", -1},
    {"Place Local Projectile Group", 10},
    {"Place Model Animation", 11},
    {"Reflection Painting", -1},
};

bool tool_index_valid(int32_t index) { return index >= 0 && index < NUMBER_OF_TOOLS; }

}  // namespace

const char* tool_name(int32_t index) { return tool_index_valid(index) ? tools[index].name : ""; }

int16_t tool_marker_type(int32_t index) { return tool_index_valid(index) ? tools[index].marker_type : -1; }

void SelectTool(int32_t index) {
  if (!tool_index_valid(index)) return;
  const int32_t old_tool = shell.current_tool;
  shell.current_tool = index;
  vertex_selection_clear();
  if (old_tool == _tool_height_painter) height_painter_stop();
  if (index == _tool_height_painter) height_painter_start();
  UpdateMenuState();
}

void ToolbarCommand(int32_t id) { SelectTool(id - FIRST_TOOL_COMMAND); }

void ToolMouseDown(uint32_t, uint16_t, int16_t, int16_t) {}
void ToolMouseHeld(uint16_t, int16_t, int16_t) {}
void ToolMouseUp(uint16_t) {}
void ToolDoubleClick(uint16_t, int16_t, int16_t) {}
void ToolKey(uint8_t, uint8_t, uint16_t) {}
void ToolIdle() {}
