// The Terrain Painting tool's share of the tool modes: what its press, held button, release,
// keys, idle pass and overlay do, handed on to the terrain painter.
#pragma once

#include <cstdint>

#include "view/render.h"

void tool_terrain_select(bool entering);
// A press on the ground: Shift flood-fills from the cell under it; otherwise a brush step, or with
// the right button the triangle under it. True when the press arms a drag.
bool tool_terrain_press(const render_pick_hit& ground, uint16_t modifiers);
// Every main-loop pass of a drag: paints at the ground point under the cursor. True when that
// changed the map.
bool tool_terrain_held(const render_pick_hit& ground, uint16_t modifiers);
void tool_terrain_release();
void tool_terrain_key(uint8_t key);
// The brush follows the cursor.
void tool_terrain_idle(int32_t view_x, int32_t view_y);
// The brush outline at the cursor's ground point.
void tool_terrain_draw_overlay(render_view* view, bool shown, double x, double y);
