// The tool table, the per-tool records, tool switching with its view presets, and the keys.
#include "shell/tool_modes.h"

#include <QWidget>
#include <QGuiApplication>
#include <QStyleHints>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "render/screen_messages.h"
#include "shell/marker_dialogs.h"
#include "shell/scenery_window.h"
#include "shell/shell.h"
#include "shell/tool_modes_private.h"
#include "shell/tool_terrain.h"
#include "shell/visual_view.h"
#include "tools/connector_selection.h"
#include "tools/height_painter.h"
#include "tools/vertex_selection.h"
#include "view/render.h"

namespace {

struct tool_definition {
  const char* name;
  int16_t marker_type;
  int16_t palette_key;
};

constexpr tool_definition tools[NUMBER_OF_TOOLS] = {
    {"Preview", -1, -1},
    {"Select Vertex", -1, -1},
    {"Height Painter", -1, -1},
    {"Select Cell", -1, -1},
    {"Submesh", -1, -1},
    {"Place Scenery", 1, 130},
    {"Place Model", 6, 131},
    {"Place Unit", 3, 132},
    {"Place Observer", 0, 133},
    {"Terrain Painting", -1, -1},
    {"Place Projectile", 9, 139},
    {"Place Sound Source", 5, 138},
    {"Map Actions", -1, -1},
    {"Place Local Projectile Group", 10, 148},
    {"Place Model Animation", 11, 150},
    {"Reflection Painting", -1, -1},
};

bool tool_index_valid(int32_t index) { return index >= 0 && index < NUMBER_OF_TOOLS; }

struct view_preset {
  int16_t wireframe;
  bool media, objects, models, reduced_lod;
};

view_preset preset_of(int32_t tool) {
  switch (tool) {
    case _tool_select_vertex: return {_wireframe_triangles, false, false, false, false};
    case _tool_height_painter: return {_wireframe_none, false, true, true, false};
    case _tool_select_cell: return {_wireframe_cells, false, false, false, false};
    case _tool_submesh: return {_wireframe_submeshes, true, true, true, true};
    case _tool_place_model:
    case _tool_place_model_animation: return {_wireframe_cells, true, true, true, false};
    case _tool_terrain_painting: return {_wireframe_terrain, false, false, true, false};
    case _tool_reflection_painting: return {_wireframe_reflection, true, false, true, false};
    case _tool_place_scenery:
    case _tool_place_unit:
    case _tool_place_observer:
    case _tool_place_projectile:
    case _tool_place_sound_source:
    case _tool_place_local_projectile_group: return {_wireframe_none, false, true, true, true};
    default: return {_wireframe_none, true, true, true, true};
  }
}

void apply_view_preset(int32_t tool) {
  render_reset_view_settings();
  const view_preset preset = preset_of(tool);
  render_view_settings* settings = render_get_view_settings();
  settings->wireframe_mode = preset.wireframe;
  settings->show_media = preset.media;
  settings->show_objects = preset.objects;
  settings->show_models = preset.models;
  settings->reduced_lod = preset.reduced_lod;
}

constexpr tool_record make_record(int32_t index) {
  return {tools[index].marker_type, 0, tools[index].palette_key, -1};
}

// The overhead view always; the scenery window for the placement tools, the terrain types window
// for Terrain Painting and the map actions window for Map Actions, each hidden otherwise.
void show_tool_windows(int32_t tool) {
  if (!shell_map_is_open()) return;
  ShowShellWindow(shell.windows[_shell_window_overhead]);
  const auto show = [](shell_window which, bool shown) {
    QWidget* window = shell.windows[which];
    if (!window) return;
    if (shown)
      ShowShellWindow(window);
    else
      HideShellWindow(window);
  };
  if (tool_marker_type(tool) >= 0)
    ShowSceneryWindowForTool();
  else
    show(_shell_window_scenery, false);
  show(_shell_window_terrain, tool == _tool_terrain_painting);
  show(_shell_window_map_actions, tool == _tool_map_actions);
  // The map actions window's place lies over the tools window's: keep the buttons reachable.
  if (QWidget* buttons = shell.windows[_shell_window_tools]; buttons && buttons->isVisible()) buttons->raise();
}

uint32_t last_toolbar_tick = 0;
bool toolbar_clicked_before = false;

}  // namespace

tool_record tool_records[NUMBER_OF_TOOLS] = {
    make_record(0),  make_record(1),  make_record(2),  make_record(3),  make_record(4),  make_record(5),
    make_record(6),  make_record(7),  make_record(8),  make_record(9),  make_record(10), make_record(11),
    make_record(12), make_record(13), make_record(14), make_record(15),
};

const char* tool_name(int32_t index) { return tool_index_valid(index) ? tools[index].name : ""; }

int16_t tool_marker_type(int32_t index) { return tool_index_valid(index) ? tools[index].marker_type : -1; }

int16_t tool_palette_entry(int32_t index) {
  if (!tool_index_valid(index) || tool_records[index].marker_type < 0 || !mesh_is_open()) return -1;
  const int16_t count = palette_entry_count_of_type(tool_records[index].marker_type);
  const int16_t entry = tool_records[index].current_entry;
  // A palette that shrank under the choice falls back to its first entry, as a refilled combo box does.
  if (entry >= 1 && entry <= count) return entry;
  return count > 0 ? 1 : -1;
}

void tool_set_palette_entry(int32_t index, int16_t entry) {
  if (!tool_index_valid(index) || tool_records[index].palette_key == -1) return;
  tool_records[index].current_entry = entry;
  scenery_window_select_entry(index, entry);
  if (index == shell.current_tool && (index == _tool_place_model || index == _tool_place_model_animation))
    tool_overlay_changed();
}

void SelectTool(int32_t index) {
  if (!tool_index_valid(index)) return;
  const int32_t old_tool = shell.current_tool;
  shell.current_tool = index;
  vertex_selection_clear();
  connector_selection_clear();
  if (old_tool == _tool_height_painter) height_painter_stop();
  if (index == _tool_height_painter) height_painter_start();
  if (old_tool == _tool_terrain_painting) tool_terrain_select(false);
  if (index == _tool_terrain_painting) tool_terrain_select(true);
  apply_view_preset(index);
  tool_overlay_set_brush(false, 0, 0);
  tool_overlay_set_hovered(-1);
  // The renderer reads its overlay from here from the first tool change on.
  render_set_overlay_procedures(tool_overlay_procedures());
  show_tool_windows(index);
  tool_drag.dragging = false;
  tool_drag.armed_time = 0;
  tool_cursor_update();
  visual_view_invalidate();
  UpdateMenuState();
}

void ToolbarCommand(int32_t id) {
  const int32_t index = id - FIRST_TOOL_COMMAND;
  SelectTool(index);
  const uint32_t now = shell_tick_count();
  const bool double_click = toolbar_clicked_before && now - last_toolbar_tick < uint32_t(QGuiApplication::styleHints()->mouseDoubleClickInterval());
  last_toolbar_tick = now;
  toolbar_clicked_before = true;
  // A double-click opens the tool's marker palette; the map counts as changed however it closes.
  if (double_click && tool_marker_type(index) >= 0 && shell_map_is_open()) {
    OpenMarkerPalette(tool_marker_type(index));
    SetMapModified(true);
  }
}

void ToolKey(uint8_t key, uint8_t, uint16_t modifiers) {
  if (!shell_map_is_open()) return;
  if (tool_models_key(shell.current_tool, key)) return;
  // The painters take the virtual key as it came: upper-casing would turn F7..F12 (0x76..0x7B)
  // into letters.
  const uint8_t virtual_key = key;
  if (key >= 'a' && key <= 'z') key = uint8_t(key - 'a' + 'A');
  render_view_settings* settings = render_get_view_settings();
  const vertex_key_outcome outcome =
      vertex_selection_key(key, modifiers, shell.current_tool, settings->reduced_lod != 0);
  if (outcome.handled) {
    if (outcome.wireframe != WIREFRAME_UNCHANGED) settings->wireframe_mode = outcome.wireframe;
    if (outcome.toggle_reduced_lod) settings->reduced_lod = !settings->reduced_lod;
    if (!outcome.message.empty()) screen_message_show("%s", outcome.message.c_str());
    if (outcome.select_tool >= 0) SelectTool(outcome.select_tool);
    visual_view_invalidate();
    UpdateMenuState();
  }
  if (shell.current_tool == _tool_height_painter) {
    const std::string message = height_painter_key(virtual_key);
    if (!message.empty()) {
      screen_message_show("%s", message.c_str());
      visual_view_invalidate();
    }
    UpdateMenuState();
  }
  if (shell.current_tool == _tool_terrain_painting) {
    tool_terrain_key(virtual_key);
    UpdateMenuState();
  }
}

// The height painter's brush follows the cursor; Preview and the marker placement tools highlight
// the marker under it, looked up at most every 16 sixtieths. The model previews come with the
// marker palette.
void ToolIdle() {
  if (!shell_map_is_open()) return;
  const int32_t tool = shell.current_tool;
  int16_t client_x = 0, client_y = 0;
  GetCursorInView(&client_x, &client_y);
  int32_t x = 0, y = 0;
  render_client_to_view(client_x, client_y, &x, &y);
  render_pick_hit hit;
  if (tool == _tool_height_painter) {
    if (render_pick_point(x, y, _pick_ground, &hit, 1) > 0)
      tool_overlay_set_brush(true, hit.a / 512.0, hit.b / 512.0);
    return;
  }
  if (tool == _tool_terrain_painting) {
    tool_terrain_idle(x, y);
    return;
  }
  if (tool == _tool_place_model || tool == _tool_place_model_animation) {
    const bool ground = render_pick_point(x, y, _pick_ground, &hit, 1) > 0;
    tool_models_follow_cursor(tool, ground, hit.point);
    return;
  }
  const bool hovers = tool == _tool_preview || (tool_marker_type(tool) >= 0 && tool != _tool_place_model &&
                                                tool != _tool_place_model_animation);
  if (!hovers) return;
  static uint32_t last_look = 0;
  const uint32_t now = tool_time_now();
  if (now - last_look < 16 && now >= last_look) return;
  last_look = now;
  const int32_t hovered = render_pick_point(x, y, _pick_marker, &hit, 1) > 0 ? hit.a : -1;
  tool_overlay_set_hovered(hovered);
}
