#include "tools/model_animation_shadows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "cseries/byte_swapping.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "engine/definitions.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "tag_files/tag_files.h"
#include "tools/shadow_map_utils.h"
#include "world/models.h"

namespace {

enum { SHADOW_HEADER_SIZE = 1024, CROP_THRESHOLD = 254 };
constexpr int32_t SEGMENT_LENGTH = 5120;  // world units up from the ground

// Shows the frame the animation showed before, on every way out.
class frame_restorer {
 public:
  explicit frame_restorer(int32_t animation) : animation_(animation), frame_(model_animation_get(animation)->frame) {}
  ~frame_restorer() { model_animation_set_frame(animation_, frame_); }
  frame_restorer(const frame_restorer&) = delete;
  frame_restorer& operator=(const frame_restorer&) = delete;

 private:
  int32_t animation_;
  int16_t frame_;
};

bool fits_int16(int64_t value) { return value >= INT16_MIN && value <= INT16_MAX; }

// The header as stored with the shadow fields of the set, then the maps: one replacement of the
// tag, so a failure leaves the old header and maps in place. The loaded definition follows.
bool write_shadows(int16_t definition_index, const model_animation_shadow_set& set) {
  int32_t tag_index = definition_get_tag(&model_animation_definitions, definition_index);
  if (tag_index == NONE || tag_file_get_size(tag_index) < SHADOW_HEADER_SIZE) {
    POST_ERROR(error_file_write, "Error while writing model animation");
    return false;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(SHADOW_HEADER_SIZE + set.data.size());
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_warning, "couldn't allocate %d bytes for model animation shadow maps", int(set.data.size()));
    return false;
  }
  // The stored header keeps every field the editor does not interpret byte for byte.
  model_animation_definition header;
  static_assert(sizeof(header) == SHADOW_HEADER_SIZE);
  if (!tag_file_read(tag_index, 0, SHADOW_HEADER_SIZE, &header) ||
      !byte_swap_data(*model_animation_definitions.description, &header, SHADOW_HEADER_SIZE, 1)) {
    POST_ERROR(error_file_write, "Error while writing model animation");
    return false;
  }
  header.shadow_width = int16_t(set.width);
  header.shadow_height = int16_t(set.height);
  header.shadow_stride = int16_t(set.stride);
  header.shadow_origin_x = int16_t(set.origin_x);
  header.shadow_origin_y = int16_t(set.origin_y);
  header.shadow_data_offset = set.data.empty() ? 0 : SHADOW_HEADER_SIZE;
  header.shadow_data_size = int32_t(set.data.size());
  header.shadow_data_pointer = 0;
  const model_animation_definition native = header;
  byte_swap_data(*model_animation_definitions.description, &header, SHADOW_HEADER_SIZE, 1);
  std::memcpy(bytes.data(), &header, SHADOW_HEADER_SIZE);
  if (!set.data.empty()) std::memcpy(bytes.data() + SHADOW_HEADER_SIZE, set.data.data(), set.data.size());
  if (!tag_file_replace_contents(&tag_index, bytes.data(), int32_t(bytes.size()))) {
    POST_ERROR(error_file_write, set.data.empty() ? "Error while writing model animation"
                                                  : "Error while writing shadow maps for model animation");
    return false;
  }
  if (auto* loaded = static_cast<model_animation_definition*>(
          definition_get_if_loaded(&model_animation_definitions, definition_index))) {
    loaded->shadow_width = native.shadow_width;
    loaded->shadow_height = native.shadow_height;
    loaded->shadow_stride = native.shadow_stride;
    loaded->shadow_origin_x = native.shadow_origin_x;
    loaded->shadow_origin_y = native.shadow_origin_y;
    loaded->shadow_data_offset = native.shadow_data_offset;
    loaded->shadow_data_size = native.shadow_data_size;
    loaded->shadow_data_pointer = 0;
  }
  return true;
}

}  // namespace

int32_t model_animation_shadow_stride(int32_t width) { return (width + 3) & ~3; }

bool model_animation_shadows_crop(const std::vector<uint8_t>& frames, int32_t frame_count, int32_t width,
                                  int32_t height, int32_t origin_x, int32_t origin_y, model_animation_shadow_set* set) {
  int32_t left = width, right = -1, top = height, bottom = -1;
  for (int32_t f = 0; f < frame_count; ++f) {
    const uint8_t* frame = frames.data() + size_t(f) * size_t(width) * size_t(height);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        if (frame[size_t(y) * size_t(width) + size_t(x)] >= CROP_THRESHOLD) continue;
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
    }
  }
  *set = model_animation_shadow_set{};
  set->frame_count = frame_count;
  if (right < 0) return true;  // no shadow at all: an empty set
  set->width = right - left + 1;
  set->height = bottom - top + 1;
  set->stride = model_animation_shadow_stride(set->width);
  set->origin_x = origin_x + left * WORLD_UNITS_PER_TEXEL;
  set->origin_y = origin_y + top * WORLD_UNITS_PER_TEXEL;
  try {
    set->data.assign(size_t(frame_count) * size_t(set->height) * size_t(set->stride), SHADOW_UNSHADOWED);
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_warning, "couldn't allocate %d bytes for temp shadow map buffer",
               int(std::min<size_t>(size_t(frame_count) * size_t(set->height) * size_t(set->stride), INT32_MAX)));
    return false;
  }
  for (int32_t f = 0; f < frame_count; ++f) {
    const uint8_t* frame = frames.data() + size_t(f) * size_t(width) * size_t(height);
    for (int32_t y = 0; y < set->height; ++y) {
      std::memcpy(set->data.data() + (size_t(f) * size_t(set->height) + size_t(y)) * size_t(set->stride),
                  frame + size_t(top + y) * size_t(width) + size_t(left), size_t(set->width));
    }
  }
  return true;
}

int32_t model_animation_shadows_animation_of(int32_t marker_index) {
  if (!mesh_is_open() || marker_index < 0 || marker_index >= mesh_marker_count()) return -1;
  const marker_data& marker = mesh_markers()[marker_index];
  if (marker.type != _marker_model_animation || !model_animation_get(marker.object_index)) return -1;
  return marker.object_index;
}

bool model_animation_shadows_calculate(int32_t marker_index) {
  const int32_t animation = model_animation_shadows_animation_of(marker_index);
  if (animation < 0) {
    POST_ERROR(error_data_mismatch, "marker #%d doesn't place a model animation.", marker_index);
    return false;
  }
  return model_animation_shadows_calculate_animation(animation);
}

bool model_animation_shadows_calculate_animation(int32_t animation) {
  if (!mesh_is_open() || !model_animation_get(animation)) return false;
  mesh_lighting lighting;
  if (!shadow_lighting_load(&lighting)) return false;
  if (lighting.light_z >= 0) {
    // gx = Lx / Lz needs a light that falls; a level or rising light casts no ground shadow.
    POST_ERROR(error_data_mismatch, "the mesh lighting's light doesn't fall (z >= 0): no model animation shadows.");
    return false;
  }
  const double gx = double(lighting.light_x) / double(lighting.light_z);
  const double gy = double(lighting.light_y) / double(lighting.light_z);
  const int16_t definition_index = model_animation_get(animation)->definition_index;
  const int32_t frame_count = model_animation_frame_count(animation);
  const world_point3d marker = model_animation_get(animation)->location;
  frame_restorer restore(animation);

  // The extent: every frame's box projected onto the marker's height along the light.
  double low_x = std::numeric_limits<double>::max(), low_y = low_x;
  double high_x = std::numeric_limits<double>::lowest(), high_y = high_x;
  for (int32_t f = 0; f < frame_count; ++f) {
    world_box box;
    model_animation_set_frame(animation, int16_t(f));
    if (!model_animation_get_bounding_box(animation, &box)) continue;
    for (int corner = 0; corner < 8; ++corner) {
      const double x = (corner & 1) ? box.maximum.x : box.minimum.x;
      const double y = (corner & 2) ? box.maximum.y : box.minimum.y;
      const double z = double((corner & 4) ? box.maximum.z : box.minimum.z) - marker.z;
      low_x = std::min(low_x, x - gx * z), high_x = std::max(high_x, x - gx * z);
      low_y = std::min(low_y, y - gy * z), high_y = std::max(high_y, y - gy * z);
    }
  }
  if (low_x > high_x) {
    POST_ERROR(error_data_mismatch, "the model animation '%s' has no geometry to cast a shadow.",
               definition_get_name(&model_animation_definitions, definition_index));
    return false;
  }
  const int64_t minimum_x = int64_t(std::floor(low_x)), minimum_y = int64_t(std::floor(low_y));
  const int64_t width = (int64_t(std::floor(high_x)) - minimum_x) >> 6;
  const int64_t height = (int64_t(std::floor(high_y)) - minimum_y) >> 6;
  const int64_t origin_x = minimum_x - marker.x, origin_y = minimum_y - marker.y;
  // Every field is 16 bits in the header; a low light stretches the shadow past them.
  if (!fits_int16(model_animation_shadow_stride(int32_t(std::min<int64_t>(width, INT16_MAX + 1)))) ||
      !fits_int16(height) || !fits_int16(origin_x) || !fits_int16(origin_y) ||
      !fits_int16(origin_x + width * WORLD_UNITS_PER_TEXEL) || !fits_int16(origin_y + height * WORLD_UNITS_PER_TEXEL)) {
    POST_ERROR(error_data_mismatch, "the model animation's shadow (%lld x %lld pixels from %lld, %lld) doesn't fit 16 bits.",
               (long long)width, (long long)height, (long long)origin_x, (long long)origin_y);
    return false;
  }
  std::vector<uint8_t> frames, blurred;
  const size_t frame_bytes = size_t(width) * size_t(height);
  try {
    frames.resize(size_t(frame_count) * frame_bytes);
    blurred.resize(frames.size());
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_warning, "couldn't allocate %d bytes for model animation shadow maps",
               int(std::min<size_t>(size_t(frame_count) * frame_bytes, INT32_MAX)));
    return false;
  }
  const std::vector<int32_t> factors = shadow_gaussian_factors(lighting.blur_radius, lighting.blur_sigma);
  if (factors.empty()) {
    POST_ERROR(error_warning, "couldn't allocate #%d bytes for shadow gaussian factors.",
               (2 * lighting.blur_radius + 1) * (2 * lighting.blur_radius + 1) * 4);
    return false;
  }

  const uint8_t level = uint8_t(std::clamp<int64_t>(
      ((int64_t(lighting.shadow_value) + lighting.ambient) * 255) >> 16, 0, 255));
  {
    ui_progress_scope progress("Calculate Model Animation Shadows", frame_count, true);
    for (int32_t f = 0; f < frame_count; ++f) {
      model_animation_set_frame(animation, int16_t(f));
      uint8_t* frame = frames.data() + size_t(f) * frame_bytes;
      for (int64_t j = 0; j < height; ++j) {
        for (int64_t i = 0; i < width; ++i) {
          const world_point3d from = {int32_t(marker.x + origin_x + i * WORLD_UNITS_PER_TEXEL),
                                      int32_t(marker.y + origin_y + j * WORLD_UNITS_PER_TEXEL), marker.z};
          const world_point3d to = {int32_t(from.x + std::lround(gx * SEGMENT_LENGTH)),
                                    int32_t(from.y + std::lround(gy * SEGMENT_LENGTH)), from.z + SEGMENT_LENGTH};
          frame[size_t(j) * size_t(width) + size_t(i)] =
              model_animation_segment_hits(animation, from, to) ? level : uint8_t(SHADOW_UNSHADOWED);
        }
      }
      if (width > 0 && height > 0) {
        shadow_blur_region(frame, int32_t(width), int32_t(height), 0, 0, int32_t(width), int32_t(height), factors,
                           lighting.blur_radius, blurred.data() + size_t(f) * frame_bytes, int32_t(width));
      }
      if (!progress.step(f + 1)) return false;
    }
  }
  model_animation_shadow_set set;
  if (!model_animation_shadows_crop(blurred, frame_count, int32_t(width), int32_t(height), int32_t(origin_x),
                                    int32_t(origin_y), &set)) {
    return false;
  }
  return write_shadows(definition_index, set);
}

bool model_animation_shadows_remove(int32_t marker_index) {
  const int32_t animation = model_animation_shadows_animation_of(marker_index);
  if (animation < 0) {
    POST_ERROR(error_data_mismatch, "marker #%d doesn't place a model animation.", marker_index);
    return false;
  }
  frame_restorer restore(animation);
  model_animation_shadow_set none;
  none.frame_count = model_animation_frame_count(animation);
  return write_shadows(model_animation_get(animation)->definition_index, none);
}
