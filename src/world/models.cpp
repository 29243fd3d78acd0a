#include "world/models.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "cseries/data.h"
#include "engine/definition_groups.h"
#include "map/mesh_geometry.h"

namespace {

declared_data_array models = data_array_declare("model", MAXIMUM_MODELS_PER_MAP, sizeof(world_model));
declared_data_array model_animations =
    data_array_declare("model animation", MAXIMUM_MODEL_ANIMATIONS_PER_MAP, sizeof(world_model_animation));

struct turn {
  double cosine, sine;
};

turn turn_of(uint16_t facing) {
  double radians = facing * (2.0 * std::numbers::pi / 65536.0);
  return {std::cos(radians), std::sin(radians)};
}

// A model-space point (x forward, y left) turned by the facing, in world units.
void turn_point(const turn& t, double x, double y, double* out_x, double* out_y) {
  *out_x = x * t.cosine - y * t.sine;
  *out_y = x * t.sine + y * t.cosine;
}

int32_t to_world(double value) {
  return static_cast<int32_t>(std::clamp(std::lround(value), long(INT32_MIN), long(INT32_MAX)));
}

// The geometry's box turned by the facing about the origin and moved to the location.
bool geometry_box(int16_t geometry_index, const world_point3d& location, uint16_t facing, world_box* box) {
  auto* geometry = static_cast<geometry_definition*>(definition_get_if_loaded(&geometry_definitions, geometry_index));
  if (!geometry || geometry->minimum_x > geometry->maximum_x || geometry->minimum_y > geometry->maximum_y ||
      geometry->minimum_z > geometry->maximum_z)
    return false;
  turn t = turn_of(facing);
  double low_x = 0, high_x = 0, low_y = 0, high_y = 0;
  const double xs[2] = {double(geometry->minimum_x), double(geometry->maximum_x)};
  const double ys[2] = {double(geometry->minimum_y), double(geometry->maximum_y)};
  for (int corner = 0; corner < 4; ++corner) {
    double x, y;
    turn_point(t, xs[corner & 1], ys[corner >> 1], &x, &y);
    low_x = corner ? std::min(low_x, x) : x;
    high_x = corner ? std::max(high_x, x) : x;
    low_y = corner ? std::min(low_y, y) : y;
    high_y = corner ? std::max(high_y, y) : y;
  }
  box->minimum = {to_world(location.x + low_x), to_world(location.y + low_y),
                  to_world(double(location.z) + geometry->minimum_z)};
  box->maximum = {to_world(location.x + high_x), to_world(location.y + high_y),
                  to_world(double(location.z) + geometry->maximum_z)};
  return true;
}

// Slab test of the segment from + t (to - from), t in [0, 1], against an axis-aligned box.
bool segment_meets_box(const double from[3], const double to[3], const double low[3], const double high[3]) {
  double enter = 0.0, leave = 1.0;
  for (int axis = 0; axis < 3; ++axis) {
    const double delta = to[axis] - from[axis];
    if (delta == 0.0) {
      if (from[axis] < low[axis] || from[axis] > high[axis]) return false;
      continue;
    }
    double t0 = (low[axis] - from[axis]) / delta, t1 = (high[axis] - from[axis]) / delta;
    if (t0 > t1) std::swap(t0, t1);
    enter = std::max(enter, t0);
    leave = std::min(leave, t1);
    if (enter > leave) return false;
  }
  return true;
}

bool geometry_shape(int16_t geometry_index, const world_point3d& location, uint16_t facing, model_segment_shape* shape) {
  world_box bounds;
  if (!geometry_box(geometry_index, location, facing, &bounds)) return false;
  const auto* geometry = static_cast<geometry_definition*>(definition_get_if_loaded(&geometry_definitions, geometry_index));
  const turn t = turn_of(facing);
  *shape = {{double(bounds.minimum.x), double(bounds.minimum.y), double(bounds.minimum.z)},
            {double(bounds.maximum.x), double(bounds.maximum.y), double(bounds.maximum.z)},
            {double(location.x), double(location.y), double(location.z)},
            t.cosine,
            t.sine,
            {double(geometry->minimum_x), double(geometry->minimum_y), double(geometry->minimum_z)},
            {double(geometry->maximum_x), double(geometry->maximum_y), double(geometry->maximum_z)}};
  return true;
}

model_definition* loaded_model_definition(int16_t definition_index) {
  return static_cast<model_definition*>(definition_get_if_loaded(&model_definitions, definition_index));
}

model_animation_definition* loaded_animation_definition(int16_t definition_index) {
  return static_cast<model_animation_definition*>(
      definition_get_if_loaded(&model_animation_definitions, definition_index));
}

int16_t frame_count_of(const model_animation_definition* definition) {
  return std::clamp<int16_t>(definition->frame_count, 0, MAXIMUM_MODEL_ANIMATION_FRAMES);
}

}  // namespace

bool models_initialize() {
  if (data_array_state_of(&models)->records) return true;  // once for the life of the process
  return data_array_allocate(&models) && data_array_allocate(&model_animations);
}

bool models_start_level() { return data_array_validate(&models) && data_array_validate(&model_animations); }

void models_dispose_level() {
  data_array_invalidate(&models);
  data_array_invalidate(&model_animations);
}

// ---- models ----

int32_t model_new(int16_t definition_index, const world_point3d& location, uint16_t facing, int16_t variant) {
  if (!loaded_model_definition(definition_index)) return NONE;
  int32_t slot = data_array_new_element(&models);
  world_model* model = data_array_get_as<world_model>(&models, slot);
  if (!model) return NONE;
  model->definition_index = definition_index;
  model->variant = variant;
  model->location = location;
  model->facing = facing;
  return slot;
}

int32_t model_placement_height(int16_t definition_index, int32_t world_x, int32_t world_y, uint16_t facing) {
  const model_definition* definition = loaded_model_definition(definition_index);
  if (!mesh_is_open()) return 0;
  if (!definition || definition->footprint_left >= definition->footprint_right ||
      definition->footprint_top >= definition->footprint_bottom)
    return mesh_height_at(world_x, world_y, _mesh_height_ground);

  // The centres of the footprint's cells, one cell (512 units) apart, in model space.
  turn t = turn_of(facing);
  int64_t total = 0;
  int32_t samples = 0;
  for (int32_t y = definition->footprint_top; y < definition->footprint_bottom; y += WORLD_ONE) {
    for (int32_t x = definition->footprint_left; x < definition->footprint_right; x += WORLD_ONE) {
      double centre_x = x + std::min<int32_t>(WORLD_ONE, definition->footprint_right - x) / 2.0;
      double centre_y = y + std::min<int32_t>(WORLD_ONE, definition->footprint_bottom - y) / 2.0;
      double turned_x, turned_y;
      turn_point(t, centre_x, centre_y, &turned_x, &turned_y);
      total += mesh_height_at(to_world(world_x + turned_x), to_world(world_y + turned_y), _mesh_height_surface);
      ++samples;
    }
  }
  return static_cast<int32_t>(total / samples);
}

int32_t model_place(int16_t definition_index, int32_t world_x, int32_t world_y, uint16_t facing, int16_t variant) {
  world_point3d location = {world_x, world_y, model_placement_height(definition_index, world_x, world_y, facing)};
  return model_new(definition_index, location, facing, variant);
}

bool model_delete(int32_t model_index) { return data_array_delete_element(&models, model_index); }

world_model* model_get(int32_t model_index) { return data_array_get_as<world_model>(&models, model_index); }

int32_t model_count() { return data_array_is_valid(&models) ? data_array_state_of(&models)->used_count : 0; }

bool model_get_bounding_box(int32_t model_index, world_box* box) {
  const world_model* model = model_get(model_index);
  const model_definition* definition = model ? loaded_model_definition(model->definition_index) : nullptr;
  return definition && geometry_box(definition->geometry_index, model->location, model->facing, box);
}

// ---- model animations ----

int32_t model_animation_new(int16_t definition_index, const world_point3d& location, uint16_t facing) {
  if (!loaded_animation_definition(definition_index)) return NONE;
  int32_t slot = data_array_new_element(&model_animations);
  world_model_animation* animation = data_array_get_as<world_model_animation>(&model_animations, slot);
  if (!animation) return NONE;
  animation->definition_index = definition_index;
  animation->location = location;
  animation->facing = facing;
  return slot;
}

bool model_animation_delete(int32_t animation_index) {
  return data_array_delete_element(&model_animations, animation_index);
}

world_model_animation* model_animation_get(int32_t animation_index) {
  return data_array_get_as<world_model_animation>(&model_animations, animation_index);
}

int32_t model_animation_count() {
  return data_array_is_valid(&model_animations) ? data_array_state_of(&model_animations)->used_count : 0;
}

int16_t model_animation_frame_count(int32_t animation_index) {
  const world_model_animation* animation = model_animation_get(animation_index);
  const model_animation_definition* definition =
      animation ? loaded_animation_definition(animation->definition_index) : nullptr;
  return definition ? frame_count_of(definition) : 0;
}

bool model_animation_set_frame(int32_t animation_index, int16_t frame) {
  world_model_animation* animation = model_animation_get(animation_index);
  if (!animation) return false;
  int16_t count = model_animation_frame_count(animation_index);
  animation->frame = count > 0 ? std::clamp<int16_t>(frame, 0, static_cast<int16_t>(count - 1)) : 0;
  return true;
}

bool model_animation_get_bounding_box(int32_t animation_index, world_box* box) {
  const world_model_animation* animation = model_animation_get(animation_index);
  const model_animation_definition* definition =
      animation ? loaded_animation_definition(animation->definition_index) : nullptr;
  if (!definition || animation->frame < 0 || animation->frame >= frame_count_of(definition)) return false;
  return geometry_box(definition->frame_geometry_indexes[animation->frame], animation->location, animation->facing,
                      box);
}

// ---- segments against model geometry ----

bool model_segment_shape_of(int32_t model_index, model_segment_shape* shape) {
  const world_model* model = model_get(model_index);
  const model_definition* definition = model ? loaded_model_definition(model->definition_index) : nullptr;
  return definition && geometry_shape(definition->geometry_index, model->location, model->facing, shape);
}

// The turned box's bounds first (cheap, and most segments miss), then the segment turned back into
// model space against the geometry's own box.
bool model_segment_shape_hits(const model_segment_shape& shape, const world_point3d& from, const world_point3d& to) {
  const double a[3] = {double(from.x), double(from.y), double(from.z)};
  const double b[3] = {double(to.x), double(to.y), double(to.z)};
  if (!segment_meets_box(a, b, shape.bounds_low, shape.bounds_high)) return false;
  // The inverse turn: x' = x cos + y sin, y' = -x sin + y cos.
  auto to_model = [&](const double p[3], double out[3]) {
    const double x = p[0] - shape.location[0], y = p[1] - shape.location[1];
    out[0] = x * shape.cosine + y * shape.sine;
    out[1] = -x * shape.sine + y * shape.cosine;
    out[2] = p[2] - shape.location[2];
  };
  double ma[3], mb[3];
  to_model(a, ma);
  to_model(b, mb);
  return segment_meets_box(ma, mb, shape.box_low, shape.box_high);
}

bool model_segment_hits(int32_t model_index, const world_point3d& from, const world_point3d& to) {
  model_segment_shape shape;
  return model_segment_shape_of(model_index, &shape) && model_segment_shape_hits(shape, from, to);
}

bool model_animation_segment_hits(int32_t animation_index, const world_point3d& from, const world_point3d& to) {
  const world_model_animation* animation = model_animation_get(animation_index);
  const model_animation_definition* definition =
      animation ? loaded_animation_definition(animation->definition_index) : nullptr;
  if (!definition || animation->frame < 0 || animation->frame >= frame_count_of(definition)) return false;
  model_segment_shape shape;
  return geometry_shape(definition->frame_geometry_indexes[animation->frame], animation->location, animation->facing,
                        &shape) &&
         model_segment_shape_hits(shape, from, to);
}

const declared_data_array* models_array() { return &models; }
const declared_data_array* model_animations_array() { return &model_animations; }
