// What the tool modules (switching and keys, the mouse, the overlay) share: the per-tool records
// and the drag state of the held button.
#pragma once

#include <cstdint>

class QPoint;
class QWidget;

#include "view/render.h"

// One per tool, in tool order.
struct tool_record {
  int16_t marker_type;    // -1: the tool places no markers
  int16_t unused;
  int16_t palette_key;    // -1 for the tools without a palette combo box
  int16_t current_entry;  // 1-based; -1 or 0: none
};
static_assert(sizeof(tool_record) == 8);

enum tool_drag_kind : int16_t {
  _tool_drag_none = 0,
  _tool_drag_rubber_band = 1,
  _tool_drag_facing = 2,
  _tool_drag_move = 3,
};

struct tool_drag_state {
  int16_t start_x, start_y;    // view-buffer position of the last press, moved along during drags
  int32_t anchor_x, anchor_y;  // the world point a facing drag turns around; -1, -1 for none
  int32_t anchor_z;
  uint32_t armed_time;         // sixtieths of a second; 0 when no drag is armed
  bool dragging;
  bool vertex_grabbed;
  bool height_drag;
  bool left_button;            // the held button is the left one (the dashed rectangle)
  int16_t kind;                // tool_drag_kind
  uint16_t facing;
  int16_t cursor_x, cursor_y;  // the last held position, for the rectangle
};

extern tool_record tool_records[];
extern tool_drag_state tool_drag;

// Sixtieths of a second since the program started.
uint32_t tool_time_now();
// The tool's overlay hooks for the renderer.
const render_overlay_procedures* tool_overlay_procedures();
// Something the overlay shows changed: the next frame draws it.
void tool_overlay_changed();
// The height painter's brush centre in cells, kept by the mouse and drawn by the overlay.
void tool_overlay_set_brush(bool shown, double x, double y);
// The marker under the cursor (-1 for none), drawn highlighted while it is not selected.
void tool_overlay_set_hovered(int32_t marker_index);

// The visual view's cursor for the current tool and drag (tool_cursor.cpp).
void tool_cursor_update();

// Place Model and Place Model Animation (tool_models.cpp). The current model or model animation as
// a marker index (-1 for none), resolved afresh on every call.
int32_t tool_models_current_marker(int16_t marker_type);
void tool_models_forget();
// A press on a model (an index of the model or model animation array): Preview and the tool of its
// kind make it current.
void tool_models_press_model(int32_t tool, int32_t object_index, bool animation);
void tool_models_follow_cursor(int32_t tool, bool ground_hit, const world_point3d& ground);
// Places the tool's current palette entry at the ground point (snapped) with the preview's facing.
bool tool_models_place(int32_t tool, const world_point3d& ground);
// Moves the current model to the ground point (snapped); false, model untouched, when refused.
bool tool_models_move_current(int32_t tool, const world_point3d& ground);
// Turns the current model to face the ground point.
bool tool_models_turn_current(int32_t tool, const world_point3d& ground, uint16_t* facing);
// Left and Right turn the preview; false for other keys and tools.
bool tool_models_key(int32_t tool, uint8_t key);
uint16_t tool_models_preview_facing(int32_t tool);
bool tool_models_delete_current();
// The preview as the overlay draws it: the corners of its geometry's box (bit 0 of the index: x high,
// bit 1: y high, bit 2: z high), a point ahead of it for its facing, and its definition's name.
struct tool_model_outline {
  world_point3d location;
  world_point3d corners[8];
  world_point3d front;
  uint16_t facing, pitch;
  const char* name;
};
// False when there is no preview to draw (another tool, no palette entry, the cursor off the map).
bool tool_models_preview_outline(int32_t tool, tool_model_outline* outline);
// An Alt drag on the current model: a pop-up of its variants, the current one checked; the choice
// becomes the model's variant. False when there is no model to choose for (nothing shown).
bool tool_models_variant_popup(int32_t tool, QWidget* parent, const QPoint& global_position);
