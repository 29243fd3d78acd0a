#include "tools/vertex_selection.h"

#include <algorithm>
#include <cstdio>

#include "map/mesh.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

enum : int32_t { HEIGHT_DRAG_UNITS_PER_PIXEL = 10, KEY_RAISE_UNITS = 10 };

struct selection_state {
  int32_t columns = 0, rows = 0;
  std::vector<uint8_t> selected;  // columns x rows
  int32_t count = 0;
  int32_t current_x = -1, current_y = -1;
  bool registered = false;
  uint64_t drag_base_serial = 0;
  bool dragging = false;
};
selection_state selection;

const map_session_client session_client = {"vertex selection", [] { vertex_selection_clear(); }, nullptr,
                                           [] { vertex_selection_clear(); }};

// The selection describes the grid it was made on: any other size (a resize, another map) clears it.
void follow_grid() {
  if (!selection.registered) selection.registered = map_session_register(&session_client);
  const int32_t columns = mesh_is_open() ? mesh_cells_across() : 0;
  const int32_t rows = mesh_is_open() ? mesh_cells_down() : 0;
  if (columns == selection.columns && rows == selection.rows) return;
  selection.columns = columns;
  selection.rows = rows;
  selection.selected.assign(size_t(columns) * size_t(rows), 0);
  selection.count = 0;
  selection.current_x = selection.current_y = -1;
}

bool inside(int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < selection.columns && y < selection.rows; }

void put(int32_t x, int32_t y, bool selected) {
  uint8_t& bit = selection.selected[size_t(y) * size_t(selection.columns) + size_t(x)];
  if (bit == uint8_t(selected)) return;
  bit = uint8_t(selected);
  selection.count += selected ? 1 : -1;
}

void mark_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1, bool selected) {
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, selection.columns - 1);
  y1 = std::min(y1, selection.rows - 1);
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x) put(x, y, selected);
  }
}

int32_t saturate16(int64_t value) { return int32_t(std::clamp<int64_t>(value, INT16_MIN, INT16_MAX)); }

}  // namespace

void vertex_selection_clear() {
  follow_grid();
  std::fill(selection.selected.begin(), selection.selected.end(), 0);
  selection.count = 0;
  selection.current_x = selection.current_y = -1;
}

bool vertex_selection_any() { return vertex_selection_count() > 0; }

int32_t vertex_selection_count() {
  follow_grid();
  return selection.count;
}

bool vertex_selection_contains(int32_t x, int32_t y) {
  follow_grid();
  return inside(x, y) && selection.selected[size_t(y) * size_t(selection.columns) + size_t(x)] != 0;
}

bool vertex_selection_set(int32_t x, int32_t y, bool selected) {
  follow_grid();
  if (!inside(x, y)) return false;
  put(x, y, selected);
  return true;
}

void vertex_selection_select_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1, bool extend) {
  follow_grid();
  if (!extend) {
    std::fill(selection.selected.begin(), selection.selected.end(), 0);
    selection.count = 0;
  }
  mark_rectangle(x0, y0, x1, y1, true);
}

void vertex_selection_deselect_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  follow_grid();
  mark_rectangle(x0, y0, x1, y1, false);
}

std::vector<vertex_location> vertex_selection_list() {
  follow_grid();
  std::vector<vertex_location> list;
  list.reserve(size_t(selection.count));
  for (int32_t y = 0; y < selection.rows; ++y) {
    const uint8_t* row = &selection.selected[size_t(y) * size_t(selection.columns)];
    for (int32_t x = 0; x < selection.columns; ++x) {
      if (row[x]) list.push_back({x, y});
    }
  }
  return list;
}

bool vertex_selection_current(int32_t* x, int32_t* y) {
  follow_grid();
  if (!inside(selection.current_x, selection.current_y)) return false;
  *x = selection.current_x;
  *y = selection.current_y;
  return true;
}

void vertex_selection_set_current(int32_t x, int32_t y) {
  follow_grid();
  if (!inside(x, y)) return;
  selection.current_x = x;
  selection.current_y = y;
}

// ---- the mouse ----

void vertex_selection_click_vertex(int32_t x, int32_t y, uint16_t modifiers) {
  follow_grid();
  if (!inside(x, y)) return;
  if (!(modifiers & (TOOL_MODIFIER_SHIFT | TOOL_MODIFIER_ALT))) vertex_selection_clear();
  put(x, y, !(modifiers & TOOL_MODIFIER_ALT));
  vertex_selection_set_current(x, y);
}

void vertex_selection_click_cell(int32_t world_x, int32_t world_y, uint16_t modifiers) {
  follow_grid();
  const int32_t x = world_x >> WORLD_FRACTIONAL_BITS, y = world_y >> WORLD_FRACTIONAL_BITS;
  const vertex_location corners[4] = {{x, y}, {x + 1, y}, {x, y + 1}, {x + 1, y + 1}};
  bool first = true;
  for (const vertex_location& corner : corners) {
    if (!inside(corner.x, corner.y)) continue;
    if (first) {
      vertex_selection_click_vertex(corner.x, corner.y, modifiers);
      first = false;
    } else {
      put(corner.x, corner.y, !(modifiers & TOOL_MODIFIER_ALT));
      vertex_selection_set_current(corner.x, corner.y);
    }
  }
}

vertex_drag_kind vertex_selection_drag_kind(int32_t dx, int32_t dy, bool pressed_on_vertex) {
  const int64_t across = std::abs(int64_t(dx)), down = std::abs(int64_t(dy));
  return across <= down && pressed_on_vertex ? _vertex_drag_height : _vertex_drag_rectangle;
}

void vertex_selection_rectangle_begin(uint16_t modifiers) {
  if (!(modifiers & (TOOL_MODIFIER_SHIFT | TOOL_MODIFIER_ALT))) vertex_selection_clear();
}

void vertex_selection_rectangle_mark(std::span<const vertex_location> vertices, uint16_t modifiers) {
  follow_grid();
  for (const vertex_location& v : vertices) {
    if (inside(v.x, v.y)) put(v.x, v.y, !(modifiers & TOOL_MODIFIER_ALT));
  }
}

bool vertex_selection_raise(int32_t amount, const char* step_name) {
  const std::vector<vertex_location> vertices = vertex_selection_list();
  if (vertices.empty() || !mesh_is_open()) return false;
  journal_step step(step_name);
  for (const vertex_location& v : vertices) {
    (void)mesh_store_vertex_height(v.x, v.y, saturate16(int64_t(mesh_get_cell(v.x, v.y)->ground_height) + amount));
  }
  // The neighbourhoods once over the selection's bounds, not vertex by vertex.
  int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  for (const vertex_location& v : vertices) {
    x0 = std::min(x0, v.x), y0 = std::min(y0, v.y), x1 = std::max(x1, v.x), y1 = std::max(y1, v.y);
  }
  mesh_update_cells(x0, y0, x1, y1);
  return step.commit();
}

void vertex_selection_height_drag_begin() {
  selection.drag_base_serial = edit_journal_undo_serial();
  selection.dragging = true;
}

void vertex_selection_height_drag_move(int32_t pixels_up) {
  if (pixels_up == 0) return;
  vertex_selection_raise(saturate16(int64_t(pixels_up) * HEIGHT_DRAG_UNITS_PER_PIXEL), "Height Drag");
}

void vertex_selection_height_drag_end() {
  if (!selection.dragging) return;
  selection.dragging = false;
  (void)edit_journal_merge_after(selection.drag_base_serial, "Height Drag");
}

// ---- keys ----

namespace {

enum : uint8_t {
  KEY_SPACE = 0x20,
  KEY_UP = 0x26,
  KEY_DOWN = 0x28,
  KEY_1 = 0x31,
  KEY_6 = 0x36,
  KEY_H = 0x48,
  KEY_L = 0x4C,
  KEY_NUMPAD_0 = 0x60,
  KEY_BACK_QUOTE = 0xC0,
};

enum : int32_t { TOOL_PREVIEW = 0, TOOL_SELECT_VERTEX = 1 };

struct wireframe_choice {
  int16_t mode;
  const char* message;
};
const wireframe_choice wireframe_choices[6] = {
    {WIREFRAME_NONE, "Wireframe mode: None\n"},
    {WIREFRAME_TRIANGLES, "Wireframe mode: Triangles\n"},
    {WIREFRAME_CELLS, "Wireframe mode: Cells\n"},
    {WIREFRAME_SUBMESHES, "Wireframe mode: Submeshes\n"},
    {WIREFRAME_TERRAIN_FILLED, "Wireframe mode: Terrain-filled triangles\n"},
    {WIREFRAME_REFLECTION_FILLED, "Wireframe mode: Reflection-filled triangles\n"},
};

}  // namespace

vertex_key_outcome vertex_selection_key(uint8_t virtual_key, uint16_t modifiers, int32_t current_tool,
                                        bool reduced_lod) {
  vertex_key_outcome outcome;
  if (modifiers & TOOL_MODIFIER_ALT) {
    if (virtual_key >= KEY_1 && virtual_key <= KEY_6) {
      const wireframe_choice& choice = wireframe_choices[virtual_key - KEY_1];
      outcome.handled = true;
      outcome.wireframe = choice.mode;
      outcome.message = choice.message;
      return outcome;
    }
    if (virtual_key == KEY_L) {
      outcome.handled = true;
      outcome.toggle_reduced_lod = true;
      outcome.message = reduced_lod ? "Reduced LOD: OFF\n" : "Reduced LOD: ON\n";
      return outcome;
    }
  }
  switch (virtual_key) {
    case KEY_SPACE:
      outcome.handled = true;
      outcome.select_tool = current_tool == TOOL_SELECT_VERTEX ? TOOL_PREVIEW : TOOL_SELECT_VERTEX;
      break;
    case KEY_UP:
    case KEY_DOWN:
      outcome.handled = vertex_selection_raise(virtual_key == KEY_UP ? KEY_RAISE_UNITS : -KEY_RAISE_UNITS,
                                               virtual_key == KEY_UP ? "Raise Vertices" : "Lower Vertices");
      break;
    case KEY_H: {
      int32_t x = 0, y = 0;
      if (!vertex_selection_any() || !mesh_is_open()) break;
      // The current vertex, or the first selected one when none was clicked.
      if (!vertex_selection_current(&x, &y)) {
        const std::vector<vertex_location> vertices = vertex_selection_list();
        x = vertices.front().x;
        y = vertices.front().y;
      }
      char message[64];
      std::snprintf(message, sizeof(message), "Vertex height %.2f\n", double(mesh_get_cell(x, y)->ground_height) / 512.0);
      outcome.handled = true;
      outcome.message = message;
      break;
    }
    case KEY_BACK_QUOTE:
    case KEY_NUMPAD_0:
      vertex_selection_clear();
      outcome.handled = true;
      break;
    default:
      break;
  }
  return outcome;
}
