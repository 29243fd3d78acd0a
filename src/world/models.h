// Models (buildings and other fixed structures placed by Model markers and the Place Model tool)
// and model animations (animated models, one geometry per frame). Each is a position, a facing,
// a variant or frame and its definition; the solid box of its geometry, turned by the facing,
// gives its bounding box. They live in the data arrays "model" and "model animation", emptied when
// the level is disposed.
#pragma once

#include <cstdint>

#include "map/markers.h"

enum {
  MAXIMUM_MODELS_PER_MAP = 1024,
  MAXIMUM_MODEL_ANIMATIONS_PER_MAP = 64,
};

enum world_model_flags : uint16_t {
  _model_highlighted = 0x0001,  // drawn highlighted by the model tools
};

struct world_model {
  int16_t identifier;
  int16_t definition_index;  // `mode`
  int16_t variant;
  uint16_t flags;            // world_model_flags
  world_point3d location;    // of the model's origin
  uint16_t facing;           // angle, as the model record keeps it (the tools store the negated turn)
  uint16_t pitch;
};
static_assert(sizeof(world_model) == 24);

struct world_model_animation {
  int16_t identifier;
  int16_t definition_index;  // `anim`
  int16_t frame;             // 0..frame count - 1
  uint16_t flags;            // world_model_flags
  world_point3d location;
  uint16_t facing;
  uint16_t pitch;
};
static_assert(sizeof(world_model_animation) == 24);

// An axis-aligned box in world units.
struct world_box {
  world_point3d minimum;
  world_point3d maximum;
};

bool models_initialize();
bool models_start_level();
void models_dispose_level();

// ---- models ----

// The slot of the new model, or NONE when the array is full or the definition is not loaded.
int32_t model_new(int16_t definition_index, const world_point3d& location, uint16_t facing, int16_t variant);
// As model_new, with the height of a model standing on the map: the average surface height (the
// media surface where a cell has media) at the centres of the footprint's cells, turned by the
// facing; the ground height under the origin when the footprint is empty.
int32_t model_place(int16_t definition_index, int32_t world_x, int32_t world_y, uint16_t facing, int16_t variant);
int32_t model_placement_height(int16_t definition_index, int32_t world_x, int32_t world_y, uint16_t facing);
bool model_delete(int32_t model_index);
world_model* model_get(int32_t model_index);
int32_t model_count();
// The bounding box of the model's geometry, turned and placed; false when it has none.
bool model_get_bounding_box(int32_t model_index, world_box* box);

// ---- model animations ----

int32_t model_animation_new(int16_t definition_index, const world_point3d& location, uint16_t facing);
bool model_animation_delete(int32_t animation_index);
world_model_animation* model_animation_get(int32_t animation_index);
int32_t model_animation_count();
int16_t model_animation_frame_count(int32_t animation_index);
// Poses the animation at a frame (kept within 0..frame count - 1); false for a free slot.
bool model_animation_set_frame(int32_t animation_index, int16_t frame);
// The box of the current frame's geometry, turned and placed; false when the frame has none.
bool model_animation_get_bounding_box(int32_t animation_index, world_box* box);

// ---- segments against model geometry ----

// Whether the segment from one world point to another passes through the model's solid box (its
// geometry's box in model space, turned by the facing and placed at the location): a test of the
// turned box's bounds first, then the segment taken into model space. False for a free slot or a
// model without geometry. Reads only, so several threads may ask at once.
bool model_segment_hits(int32_t model_index, const world_point3d& from, const world_point3d& to);
// The same against the animation's current frame.
bool model_animation_segment_hits(int32_t animation_index, const world_point3d& from, const world_point3d& to);

// A model's solid box taken once, for testing many segments against it (the shadow computation
// casts one from every pixel): model_segment_hits without looking the model up each time.
struct model_segment_shape {
  double bounds_low[3], bounds_high[3];  // the turned box's bounds, world units
  double location[3];
  double cosine, sine;                   // of the facing
  double box_low[3], box_high[3];        // the geometry's box, model space
};
// False for a free slot or a model without geometry.
bool model_segment_shape_of(int32_t model_index, model_segment_shape* shape);
bool model_segment_shape_hits(const model_segment_shape& shape, const world_point3d& from, const world_point3d& to);

// The arrays themselves, for the limits report's usage lines.
struct declared_data_array;
const declared_data_array* models_array();
const declared_data_array* model_animations_array();
