// The vertex selection of the visual view (Select Vertex and Select Cell) and the current vertex,
// the last one clicked or changed, which gives the height dialogs their first value. Vertex (x, y)
// is the top-left corner of cell (x, y): only vertices inside the grid can be selected. The
// selection is cleared when a map opens, when the tool changes and whenever the grid's size
// changes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum : uint16_t {
  TOOL_MODIFIER_ALT = 0x0100,
  TOOL_MODIFIER_SHIFT = 0x0200,
};

struct vertex_location {
  int32_t x, y;
};

void vertex_selection_clear();
bool vertex_selection_any();
int32_t vertex_selection_count();
bool vertex_selection_contains(int32_t x, int32_t y);
// Selects or deselects one vertex; false outside the grid.
bool vertex_selection_set(int32_t x, int32_t y, bool selected);
// Selects the vertex columns x0..x1 and rows y0..y1 (inclusive, either order, clipped into the
// grid); extend adds them to the selection, otherwise they replace it.
void vertex_selection_select_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1, bool extend);
void vertex_selection_deselect_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// The selected vertices in row-major order.
std::vector<vertex_location> vertex_selection_list();

// The current vertex; false when there is none (or it left the grid).
bool vertex_selection_current(int32_t* x, int32_t* y);
void vertex_selection_set_current(int32_t x, int32_t y);

// ---- the mouse ----

// Select Vertex: a click on a vertex. Without Shift or Alt the selection is cleared first; Alt
// deselects the vertex, else it is selected; it becomes the current vertex.
void vertex_selection_click_vertex(int32_t x, int32_t y, uint16_t modifiers);
// Select Cell: a click on the ground at a world point. The corners of its cell that lie inside the
// grid: the first with the click's modifiers, the others added (removed with Alt). The current
// vertex is the last of them.
void vertex_selection_click_cell(int32_t world_x, int32_t world_y, uint16_t modifiers);

enum vertex_drag_kind : int16_t { _vertex_drag_rectangle, _vertex_drag_height };
// What a drag is, from its first movement in view pixels.
vertex_drag_kind vertex_selection_drag_kind(int32_t dx, int32_t dy, bool pressed_on_vertex);
// A rectangle drag: clears the selection unless Shift or Alt is held; then each vertex inside is
// marked (deselected with Alt).
void vertex_selection_rectangle_begin(uint16_t modifiers);
void vertex_selection_rectangle_mark(std::span<const vertex_location> vertices, uint16_t modifiers);

// Adds amount world units to every selected vertex through the height setter, saturating at the
// 16-bit limits; one journal step named `step_name`. False when nothing is selected.
bool vertex_selection_raise(int32_t amount, const char* step_name);
// A height drag: each movement raises the selection by 10 world units a pixel moved up; the whole
// drag is one journal step.
void vertex_selection_height_drag_begin();
void vertex_selection_height_drag_move(int32_t pixels_up);
void vertex_selection_height_drag_end();

// ---- the keys of Select Vertex and Select Cell ----

enum : int16_t {
  WIREFRAME_UNCHANGED = -2,
  WIREFRAME_NONE = -1,
  WIREFRAME_TRIANGLES = 0,
  WIREFRAME_CELLS = 1,
  WIREFRAME_SUBMESHES = 2,
  WIREFRAME_TERRAIN_FILLED = 3,
  WIREFRAME_REFLECTION_FILLED = 7,
};

// What a key asks of the shell besides what it did to the selection.
struct vertex_key_outcome {
  bool handled = false;
  std::string message;                    // the on-screen message, "" for none
  int32_t select_tool = -1;               // Space: the tool to change to
  int16_t wireframe = WIREFRAME_UNCHANGED;  // Alt+1..6
  bool toggle_reduced_lod = false;        // Alt+L
};
// Space, Up, Down, H, the back-quote (and keypad 0), Alt+1..6 and Alt+L. current_tool and
// reduced_lod are the shell's (for Space and for Alt+L's message).
vertex_key_outcome vertex_selection_key(uint8_t virtual_key, uint16_t modifiers, int32_t current_tool,
                                        bool reduced_lod);
