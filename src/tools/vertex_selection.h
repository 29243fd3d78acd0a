// The vertex selection: which vertices of the open map the mesh commands work on.
#pragma once

#include <cstdint>

// Selects the vertices of columns x0..x1 and rows y0..y1 (inclusive, in either order, clamped into
// the map); extend adds them to the selection, otherwise they replace it.
void vertex_selection_select_rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1, bool extend);
