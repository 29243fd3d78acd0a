// The height painter: sculpts vertex heights with a brush dragged over the terrain. While it is
// active it keeps the whole grid's heights in floating point (cell units, world / 512) in three
// grids: source (before the current batch), weight (filter coverage) and output (as painted).
// Each stroke step writes the brush rectangle's output heights through the vertex height setter;
// strokes that follow one another closely form a batch, which is one step of the edit journal
// and which the toggle (the painter's Delete key) takes off and puts back.
//
// Anything else that changes the heights or the grid while the painter is active (a menu
// command, an import, a resize, Undo past the batch) ends the batch: the painter notices it at
// its next call and fills its grids again from the map.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/value_types.h"
#include "engine/preferences.h"

enum height_painter_stroke_state : int16_t {
  _height_painter_idle = 0,         // no batch
  _height_painter_stroking = 1,     // a stroke is in progress
  _height_painter_toggled_off = 2,  // the batch is taken off: the map shows the source heights
  _height_painter_painted = 3,      // the batch is on: the map shows the output heights
};

enum height_painter_brush : int16_t { _height_painter_circle = 0, _height_painter_square = 1 };
enum height_painter_tool : int16_t { _height_painter_raise = 0, _height_painter_flatten, _height_painter_filter };
enum height_painter_filter : int16_t {
  _height_painter_elevation_adjustment = 0,
  _height_painter_absolute_elevation,
  _height_painter_smooth,
  _height_painter_noise,
  NUMBER_OF_HEIGHT_PAINTER_FILTERS
};

enum {
  HEIGHT_PAINTER_MERGE_TICKS = 30,  // a stroke starting within this of the last one joins its batch
  // A step never counts for more than half a second, however long the editor stalled.
  HEIGHT_PAINTER_MAXIMUM_TICK_STEP = 15,
  HEIGHT_PAINTER_MAXIMUM_OUTLINE_SEGMENTS = 1024,
  HEIGHT_PAINTER_JOIN_STEPS = 64,  // a stroke's journal steps are joined into its batch this often
};

inline constexpr char HEIGHT_PAINTER_STEP_NAME[] = "Height Painter stroke";

// ---- preferences ----

void height_painter_set_defaults(height_painter_preferences* preferences);
// Finite values, brush, tool and filter in range, radius > 0, feather >= 0, smoothing radius >= 1.
bool height_painter_preferences_valid(const height_painter_preferences& preferences);
// The record the keys and the dialog change: the editor's preference record's block when it is
// loaded, else one of the painter's own.
height_painter_preferences* height_painter_stored_preferences();

// ---- life ----

// Allocates the grids for the open map and fills them; false (reported) when that fails, and the
// painter then stays absent.
bool height_painter_start();
void height_painter_stop();
bool height_painter_active();
// Copies the stored record in (the defaults when it is invalid); ignored during a stroke.
void height_painter_reload_preferences();
// Uses this record instead of the stored one (the command-line tool); invalid ones are refused.
bool height_painter_use_preferences(const height_painter_preferences& preferences);
const height_painter_preferences* height_painter_preferences_in_use();
void height_painter_seed(uint32_t seed);  // the Noise filter's random numbers

// Ticks of 1/30 second of a steady clock.
int64_t height_painter_tick_now();

// ---- strokes ----

// One stroke step at (x, y) in cells (the terrain point under the cursor / 512); shift: Shift held.
void height_painter_apply(bool shift, double x, double y, int64_t tick);
// Mouse-up: the stroke joins its batch, which becomes one journal step.
void height_painter_end_stroke();
// The painter's Delete key: takes the last batch off, or puts it back. False when there is none.
bool height_painter_toggle();
height_painter_stroke_state height_painter_state();
bool height_painter_has_undo();

// ---- keys and outline ----

// A key-down in the visual view (the low byte of the virtual key code): F1..F4, F7..F12, "-",
// "=", "[", "]" and Delete. The on-screen message, "" when none.
std::string height_painter_key(uint8_t virtual_key);

// Two closed polylines on the ground, at radius and at radius + feather around (x, y) in cells.
struct height_painter_outline {
  std::vector<world_point3d> inner, outer;
};
bool height_painter_get_outline(double x, double y, height_painter_outline* outline);
