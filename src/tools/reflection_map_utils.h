// The reflection map: where the map's water is, as the media coverage region (per texel row, the
// columns at which coverage toggles, starting covered) and the cells' media flags. Its image is
// the whole map, 255 where covered and 0 over water, mirrored left to right like every map image.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/bitmap_file.h"

// The coverage region of a 0/1 picture in mesh orientation (1 = covered), width x height texels:
// each row's toggle columns (water from the first, covered again from the second, ...) closed by
// the width.
std::vector<int16_t> reflection_map_coverage_region(const std::vector<uint8_t>& covered, int32_t width, int32_t height);

// The open map's coverage as an image (grey palette left to the caller).
void reflection_map_build_image(bitmap_image* image);
// Applies a whole-map image: a pixel is covered when its palette entry, read as one 32-bit value,
// is not zero. Replaces the coverage region, sets the cells' media and reflection flags and their
// terrain types, spreads the water heights to the cells round the water and recomputes the LOD
// data. False (reported) when the region can't be allocated; the map is then unchanged.
[[nodiscard]] bool reflection_map_apply_image(const bitmap_image& image);

// The Reflection Painting tool's click: toggles the media flag of the triangle under the world
// point (0x1000 for the odd triangle of its cell, 0x0800 for the even one), then prepares the cells
// round it and brings the LOD data round it up to date, as one journal step "Reflection Painting".
// False outside the grid.
[[nodiscard]] bool reflection_paint_toggle(int32_t world_x, int32_t world_y);
