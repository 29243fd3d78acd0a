// The brush outline the painters draw on the ground: a closed polyline round a square or a
// circle, in more segments the larger the brush.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cseries/value_types.h"

// Segments for a brush of this radius in cells: six a cell, at least 16.
inline int32_t painter_outline_segments(double radius_cells, int32_t maximum) {
  return int32_t(std::clamp(std::max(16.0, std::trunc(6.0 * radius_cells)), 16.0, double(maximum)));
}

// The outline as point(ux, uy) over the unit shape's boundary (ux, uy in -1..1 for the square,
// cosine and sine for the circle), closed by its first point again.
template <class Point>
void painter_trace_outline(bool square, int32_t segments, Point point, std::vector<world_point3d>* line) {
  line->clear();
  if (square) {
    // Each side in a quarter of the segments, so the square lies on the ground too.
    const int32_t per_side = std::max(segments / 4, 1);
    const double corners[5][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}};
    for (int side = 0; side < 4; ++side) {
      for (int32_t k = 0; k < per_side; ++k) {
        const double f = double(k) / per_side;
        const double ux = corners[side][0] + (corners[side + 1][0] - corners[side][0]) * f;
        const double uy = corners[side][1] + (corners[side + 1][1] - corners[side][1]) * f;
        line->push_back(point(ux, uy));
      }
    }
  } else {
    for (int32_t k = 0; k < segments; ++k) {
      const double angle = 2.0 * M_PI * k / segments;
      line->push_back(point(std::cos(angle), std::sin(angle)));
    }
  }
  line->push_back(line->front());
}
