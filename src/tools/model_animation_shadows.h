// Ground shadows of a model animation: one 8-bit map per frame, cast by the map's light, stored in
// the `model animation` tag after its 1024-byte header (255 unshadowed, else the shadow level).
// Calculate poses every frame, projects the boxes along the light for the extent, casts a segment
// toward the light from every ground pixel, blurs each frame, crops to the shadowed pixels and
// writes header and data as one atomic replacement of the tag. Remove writes the header with no
// shadows. The animation shows the frame it showed before on every way out.
#pragma once

#include <cstdint>
#include <vector>

// The shadow fields of a model animation and its maps, frame after frame, height rows of stride
// bytes each (padding 255).
struct model_animation_shadow_set {
  int32_t frame_count = 0;
  int32_t width = 0, height = 0, stride = 0;
  int32_t origin_x = 0, origin_y = 0;  // world offset of pixel (0, 0) from the marker
  std::vector<uint8_t> data;
};

// Rounds a width up to a multiple of 4.
int32_t model_animation_shadow_stride(int32_t width);

// Crops uncropped frames (width x height each, rows width apart) to the smallest rectangle holding
// every pixel below 254 in any frame, moving the origin; no such pixel gives the empty set.
// False when the cropped maps can't be allocated (reported).
bool model_animation_shadows_crop(const std::vector<uint8_t>& frames, int32_t frame_count, int32_t width,
                                  int32_t height, int32_t origin_x, int32_t origin_y, model_animation_shadow_set* set);

// The model animation the marker places (the marker index in the open map's list), or -1 when it
// is not a model animation marker with an animation.
int32_t model_animation_shadows_animation_of(int32_t marker_index);

// Calculate and Remove for the animation of the marker. False when refused (reported): not a model
// animation marker, lighting missing, a light that does not fall (z >= 0), an extent beyond 16
// bits, an allocation or the write failing; nothing is changed then.
[[nodiscard]] bool model_animation_shadows_calculate(int32_t marker_index);
// The same for a model animation of the world (the slot), whichever marker placed it.
[[nodiscard]] bool model_animation_shadows_calculate_animation(int32_t animation);
[[nodiscard]] bool model_animation_shadows_remove(int32_t marker_index);
