// The terrain painter: paints the cells' terrain types (two per cell, one per triangle) with a
// circle or square brush, one triangle at a time, or by flood fill. While it is active it keeps
// the whole grid's types in three grids: before (the state under the current batch), working
// (what the batch painted, cell by cell) and after (before with the batch applied). Strokes that
// follow one another within a second form a batch, which is one step of the edit journal and which
// the toggle (the painter's Delete key) takes off and puts back.
//
// A brush step writes only the cells inside the brush. Anything else that changes the cells while
// the painter is active (a right-button triangle, a flood fill, an import, Undo past the batch)
// ends the batch: the painter notices it at its next call and fills its grids again from the map.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/value_types.h"
#include "engine/preferences.h"

enum terrain_painter_stroke_state : int16_t {
  _terrain_painter_idle = 0,      // no batch
  _terrain_painter_painting = 1,  // a stroke is in progress
  _terrain_painter_undone = 2,    // the batch is taken off: the map shows the before grid
  _terrain_painter_finished = 3,  // the batch is on: the map shows the after grid
};

enum terrain_painter_brush : int16_t { _terrain_painter_circle = 0, _terrain_painter_square = 1 };

enum {
  TERRAIN_TYPE_COUNT = 16,
  TERRAIN_PAINTER_DEFAULT_TYPE = 6,   // grass
  TERRAIN_PAINTER_MERGE_TICKS = 30,   // a stroke starting within this of the last paint joins its batch
  TERRAIN_PAINTER_JOIN_STEPS = 64,    // a stroke's journal steps are joined into its batch this often
  TERRAIN_PAINTER_MAXIMUM_OUTLINE_SEGMENTS = 1024,
};

inline constexpr char TERRAIN_PAINTER_STEP_NAME[] = "Terrain Painter stroke";
inline constexpr char TERRAIN_PAINTER_TRIANGLE_STEP_NAME[] = "Paint Terrain Triangle";
inline constexpr char TERRAIN_PAINTER_FILL_STEP_NAME[] = "Flood Fill Terrain";

// ---- terrain types ----

// 0..11, 14 and 15; 12 and 13 are unused and can't be chosen.
bool terrain_type_paintable(int32_t type);
// The type the painter paints; grass until another is chosen.
int16_t terrain_painter_current_type();
// False (and no change) for a type that can't be painted.
bool terrain_painter_set_current_type(int32_t type);

// ---- preferences ----

void terrain_painter_set_defaults(terrain_painter_preferences* preferences);
// Shape 0 or 1 and a finite radius above 0.
bool terrain_painter_preferences_valid(const terrain_painter_preferences& preferences);
// The record the keys change: the editor's preference record's block when it is loaded, else one
// of the painter's own.
terrain_painter_preferences* terrain_painter_stored_preferences();

// ---- life ----

// Allocates the grids for the open map and fills them; false (reported) when that fails, and the
// painter then stays absent.
bool terrain_painter_start();
void terrain_painter_stop();
bool terrain_painter_active();
// Copies the stored record in (the defaults when it is invalid); ignored during a stroke.
void terrain_painter_reload_preferences();
// Uses this record instead of the stored one (the command-line tool); invalid ones are refused.
bool terrain_painter_use_preferences(const terrain_painter_preferences& preferences);
const terrain_painter_preferences* terrain_painter_preferences_in_use();
// Ticks of 1/30 second of a steady clock.
int64_t terrain_painter_tick_now();

// ---- painting ----

// Without the right button, one brush step centred on the world point; with it, only the
// triangle under the point, as a journal step of its own. False when nothing could be painted
// there (no painter, a point off the map).
bool terrain_painter_paint(bool right_button, int32_t world_x, int32_t world_y, int64_t tick);
// Mouse-up: the stroke joins its batch, which becomes one journal step.
void terrain_painter_end_stroke();

struct terrain_fill_result {
  bool filled = false;        // the fill ran (it may have changed nothing)
  int32_t cells_visited = 0;  // cells of the region listed
  int32_t triangles_set = 0;  // triangles whose type changed
};
// Fills the region of triangles not in kept_types (bit t set: type t is kept) that holds the
// cell at (column, row), whole, with the current type: one journal step. Refused off the map.
terrain_fill_result terrain_painter_flood_fill(int32_t column, int32_t row, uint16_t kept_types);
// The same from the triangle under a world point: every type but that triangle's is kept.
terrain_fill_result terrain_painter_flood_fill_at(int32_t world_x, int32_t world_y);

// The painter's Delete key and Edit > Undo: takes the last batch off, or puts it back. False when
// there is none.
bool terrain_painter_toggle();
terrain_painter_stroke_state terrain_painter_state();
bool terrain_painter_has_undo();

// ---- keys and outline ----

// A key-down in the visual view (the low byte of the virtual key code): F8, F9, F10 and Delete.
// The on-screen message, "" when none.
std::string terrain_painter_key(uint8_t virtual_key);

// The brush's closed outline on the ground round the world point (a circle or a square).
bool terrain_painter_get_outline(int32_t world_x, int32_t world_y, std::vector<world_point3d>* outline);
