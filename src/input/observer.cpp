#include "input/observer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "engine/definitions.h"
#include "input/keyboard_configurations.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "tag_files/tag_files.h"
#include "world/trigonometry.h"

namespace {

constexpr int32_t SMOOTHING_SIZE = 2 * OBSERVER_SMOOTHING_RADIUS + 1;

struct observer_globals {
  observer_data data;
  observer_physics_constants constants;
  float weights[SMOOTHING_SIZE][SMOOTHING_SIZE];
  uint32_t height_cache_generation;
  uint32_t clock;          // ticks, advanced by the camera step
  uint32_t random_seed;
};
observer_globals observer;

// Motion arithmetic runs in 64 bits: the constants come from outside and the products of 2.14
// values with speeds may pass 32 bits.
int32_t clamp32(int64_t value, int64_t low, int64_t high) { return int32_t(std::clamp(value, low, high)); }

int64_t ahead_x(uint32_t facing, int64_t distance) { return (distance * world_cosine(facing)) >> TRIG_SHIFT; }
int64_t ahead_y(uint32_t facing, int64_t distance) { return (distance * world_sine(facing)) >> TRIG_SHIFT; }

// ---- the map ----

bool map_present() { return mesh_is_open() && mesh_cells_across() > 0 && mesh_cells_down() > 0; }
int32_t map_extent_x() { return mesh_cells_across() * WORLD_ONE; }
int32_t map_extent_y() { return mesh_cells_down() * WORLD_ONE; }

// Every point the observer keeps or reads lies on the map, also when it is not bounded.
void clamp_to_map(int32_t* x, int32_t* y) {
  if (!map_present()) return;
  *x = std::clamp(*x, 0, map_extent_x() - 1);
  *y = std::clamp(*y, 0, map_extent_y() - 1);
}

int32_t margin_cells(int16_t margin, int32_t cells) { return std::clamp<int32_t>(margin, 0, cells); }

// ---- bounded mode ----

// One axis's bounds; an empty or inverted pair bounds nothing.
struct axis_bounds {
  int32_t low, high;
  bool valid;
};
struct observer_bounds {
  axis_bounds x, y;
};

// A margin of more than 4 cells gives way by 6272 x (1 - cos) of the angle between the facing and
// its side, so that turning at a bound can see past it, but never below 2048.
int32_t effective_margin(int32_t cells, uint16_t facing, uint16_t side_direction) {
  int64_t margin = int64_t(cells) * WORLD_ONE;
  if (cells > 4) {
    const int64_t give = (int64_t(OBSERVER_LOOK_AHEAD) * (TRIG_ONE - world_cosine(uint16_t(facing - side_direction)))) >> TRIG_SHIFT;
    margin = std::max<int64_t>(margin - give, 2048);
  }
  return int32_t(margin);
}

axis_bounds make_axis_bounds(int64_t low, int64_t high, int32_t extent) {
  axis_bounds b;
  b.low = clamp32(low, 0, extent - 1);
  b.high = clamp32(high, 0, extent - 1);
  b.valid = b.high > b.low;
  return b;
}

observer_bounds current_bounds(uint16_t facing) {
  const mesh_definition* header = mesh_header();
  if (!header || !map_present()) return {{0, 0, false}, {0, 0, false}};
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const int32_t left = effective_margin(margin_cells(header->observer_margin_left, across), facing, 0x8000);
  const int32_t right = effective_margin(margin_cells(header->observer_margin_right, across), facing, 0);
  const int32_t top = effective_margin(margin_cells(header->observer_margin_top, down), facing, 0xC000);
  const int32_t bottom = effective_margin(margin_cells(header->observer_margin_bottom, down), facing, 0x4000);
  return {make_axis_bounds(left, int64_t(map_extent_x()) - right - WORLD_ONE, map_extent_x()),
          make_axis_bounds(top, int64_t(map_extent_y()) - bottom - WORLD_ONE, map_extent_y())};
}

// Before a pass moves the target along one axis: a target beyond the bound it moves toward is put
// back on it. Answers the room left toward that bound (INT64_MAX when it moves toward none).
int64_t room_toward_bound(int32_t* position, int64_t movement, const axis_bounds& b) {
  if (!b.valid || movement == 0) return INT64_MAX;
  if (movement < 0) {
    if (*position < b.low) *position = b.low;
    return int64_t(*position) - b.low;
  }
  if (*position > b.high) *position = b.high;
  return int64_t(b.high) - *position;
}

// Within 512 of the bound, movement slows in proportion to the room left: never reversed, never
// sped up.
int64_t slowed(int64_t movement, int64_t room) {
  if (room >= OBSERVER_BOUND_SLOWDOWN) return movement;
  return movement * std::clamp<int64_t>(room, 0, OBSERVER_BOUND_SLOWDOWN) / OBSERVER_BOUND_SLOWDOWN;
}

// ---- motion ----

void update_axis(int32_t* velocity, bool positive, bool negative, float magnitude, const observer_axis_constants& c) {
  int64_t v = *velocity;
  if (positive && !negative) {
    v += c.positive_acceleration;
    const int64_t limit = int64_t(magnitude * float(c.positive_maximum));
    if (v > limit) v = limit;
  } else if (negative && !positive) {
    v -= c.negative_acceleration;
    const int64_t limit = -int64_t(magnitude * float(c.negative_maximum));
    if (v < limit) v = limit;
  } else if (v < 0) {
    v = std::min<int64_t>(v + c.negative_deceleration, 0);
  } else {
    v = std::max<int64_t>(v - c.positive_deceleration, 0);
  }
  *velocity = clamp32(v, -65535, 65535);
}

// One translation pass: (dx, dy) slowed at the bounds in bounded mode, then applied.
void apply_pass(observer_data& d, int64_t dx, int64_t dy, bool bounded, const observer_bounds& bounds, int64_t* moved) {
  if (bounded) {
    dx = slowed(dx, room_toward_bound(&d.target.x, dx, bounds.x));
    dy = slowed(dy, room_toward_bound(&d.target.y, dy, bounds.y));
  }
  int32_t x = clamp32(int64_t(d.target.x) + dx, INT32_MIN / 2, INT32_MAX / 2);
  int32_t y = clamp32(int64_t(d.target.y) + dy, INT32_MIN / 2, INT32_MAX / 2);
  clamp_to_map(&x, &y);
  *moved = std::abs(int64_t(x) - d.target.x) + std::abs(int64_t(y) - d.target.y);
  d.target.x = x;
  d.target.y = y;
}

// The target's movement when the observer turns by angle about the point ahead of it.
void orbit_movement(uint16_t facing, int32_t angle, int64_t* dx, int64_t* dy) {
  const uint16_t turned = uint16_t(facing + angle);
  *dx = ahead_x(facing, OBSERVER_LOOK_AHEAD) - ahead_x(turned, OBSERVER_LOOK_AHEAD);
  *dy = ahead_y(facing, OBSERVER_LOOK_AHEAD) - ahead_y(turned, OBSERVER_LOOK_AHEAD);
}

// ---- the smoothed ground ----

int32_t vertex_height(int32_t x, int32_t y) { return mesh_get_cell(x, y)->ground_height; }

// A vertex's height raised toward the highest neighbour within the window, each weighed by its
// distance. Weighing the rise rather than the height keeps terrain below zero where it is.
float smoothed_vertex_height(int32_t cx, int32_t cy) {
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const float centre = float(vertex_height(cx, cy));
  float rise = 0.0f;
  for (int32_t j = -OBSERVER_SMOOTHING_RADIUS; j <= OBSERVER_SMOOTHING_RADIUS; ++j) {
    const int32_t y = cy + j;
    if (y < 0 || y >= down) continue;
    for (int32_t i = -OBSERVER_SMOOTHING_RADIUS; i <= OBSERVER_SMOOTHING_RADIUS; ++i) {
      const int32_t x = cx + i;
      if (x < 0 || x >= across) continue;
      const float r = (float(vertex_height(x, y)) - centre) *
                      observer.weights[j + OBSERVER_SMOOTHING_RADIUS][i + OBSERVER_SMOOTHING_RADIUS];
      rise = std::max(rise, r);
    }
  }
  return centre + rise;
}

void fill_height_cache(int32_t cx, int32_t cy) {
  observer_data& d = observer.data;
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const int32_t x1 = std::min(cx + 1, across - 1), y1 = std::min(cy + 1, down - 1);
  d.height_cache[0] = smoothed_vertex_height(cx, cy);
  d.height_cache[1] = smoothed_vertex_height(x1, cy);
  d.height_cache[2] = smoothed_vertex_height(cx, y1);
  d.height_cache[3] = smoothed_vertex_height(x1, y1);
  d.height_cache_x = int16_t(cx);
  d.height_cache_y = int16_t(cy);
  observer.height_cache_generation = mesh_cells_generation();
}

// ---- shaking ----

int32_t next_random(int32_t amplitude) {
  if (amplitude <= 0) return 0;
  uint32_t& s = observer.random_seed;
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return int32_t(s % uint32_t(2 * amplitude + 1)) - amplitude;
}

float shake_fraction(const observer_data& d, float elapsed) {
  const float duration = float(d.shake_duration);
  switch (d.shake_kind) {
    case _shake_rise_and_fall: {
      const float half = duration / 2;
      return elapsed < half ? elapsed / half : (duration - elapsed) / half;
    }
    case _shake_decay:
      return 1.0f - elapsed / duration;
    default:
      return d.shake_fraction;
  }
}

void reset_state(observer_data& d) {
  d = observer_data{};
  d.height_cache_x = d.height_cache_y = -1;
}

bool behind_inside_bounds(int32_t x, int32_t y, uint16_t facing, const mesh_definition& header) {
  const int64_t bx = int64_t(x) - ahead_x(facing, OBSERVER_LOOK_AHEAD);
  const int64_t by = int64_t(y) - ahead_y(facing, OBSERVER_LOOK_AHEAD);
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const int64_t cx = bx >> WORLD_FRACTIONAL_BITS, cy = by >> WORLD_FRACTIONAL_BITS;
  return cx >= margin_cells(header.observer_margin_left, across) &&
         cx < across - margin_cells(header.observer_margin_right, across) &&
         cy >= margin_cells(header.observer_margin_top, down) &&
         cy < down - margin_cells(header.observer_margin_bottom, down);
}

// Into [low margin, extent - high margin) of one axis, or onto the map when that is empty.
int32_t clamp_into_margins(int32_t value, int32_t low_cells, int32_t high_cells, int32_t cells) {
  const int64_t low = int64_t(low_cells) * WORLD_ONE;
  const int64_t high = int64_t(cells - high_cells) * WORLD_ONE - 1;
  if (high < low) return std::clamp(value, 0, cells * WORLD_ONE - 1);
  return clamp32(value, low, high);
}

}  // namespace

bool observer_initialize() {
  reset_state(observer.data);
  for (int32_t j = 0; j < SMOOTHING_SIZE; ++j) {
    for (int32_t i = 0; i < SMOOTHING_SIZE; ++i) {
      const int32_t di = i - OBSERVER_SMOOTHING_RADIUS, dj = j - OBSERVER_SMOOTHING_RADIUS;
      observer.weights[j][i] = std::exp(-float(di * di + dj * dj) / 32.0f);
    }
  }
  observer.random_seed = 0x2545F491;
  observer.clock = 0;
  return true;
}

bool observer_place(int16_t local_team) {
  observer_data& d = observer.data;
  reset_state(d);
  d.flags = _observer_bounded | _observer_at_rest;
  // Asked first, so that a missing tag is reported as missing (code 11), not as a failed read.
  const bool present = tag_file_find(observer_physics_definitions.group_tag, OBSERVER_PHYSICS_TAG) != NONE;
  const int16_t index = present ? definition_load(&observer_physics_definitions, OBSERVER_PHYSICS_TAG) : -1;
  // A record whose version could not be checked may have another layout: it is not used.
  const bool checked = index >= 0 && (observer_physics_definitions.definition_flags[index] & DEFINITION_CHECKED);
  const auto* constants =
      checked ? definition_get_as<observer_physics_constants>(&observer_physics_definitions, index) : nullptr;
  if (!constants) {
    POST_ERROR(error_data_missing, "observer physics constants missing.");
    return false;
  }
  observer_set_constants(*constants);
  d.target = {mesh_cells_across() * 256, mesh_cells_down() * 256, 0};
  d.facing = 0;
  const marker_data* markers = mesh_markers();
  const int16_t observer_entries = palette_entry_count_of_type(0);
  for (int32_t i = 0, count = mesh_marker_count(); i < count; ++i) {
    const marker_data& marker = markers[i];
    if (marker.type != 0 || marker.palette_index < 0 || marker.palette_index >= observer_entries) continue;
    const marker_palette_entry* entry = palette_entry_get(0, marker.palette_index);
    if (!entry) continue;
    const bool local = local_team >= 0 && entry->team == local_team;
    if (local || (local_team < 0 && entry->team == 0)) {
      d.target.x = marker.location.x;
      d.target.y = marker.location.y;
      d.facing = marker.yaw;
      if (local) break;
    }
  }
  clamp_to_map(&d.target.x, &d.target.y);
  d.target.z = OBSERVER_HEIGHT;
  d.pitch = OBSERVER_PLACED_PITCH;
  observer_get_camera(&d.camera, 0.0f);
  return true;
}

void observer_set_bounded(bool bounded) {
  if (bounded) {
    observer.data.flags |= _observer_bounded;
  } else {
    observer.data.flags &= ~uint32_t(_observer_bounded);
  }
}

bool observer_is_bounded() { return (observer.data.flags & _observer_bounded) != 0; }

void observer_jump_to(world_point2d point) {
  observer_data& d = observer.data;
  const mesh_definition* header = mesh_header();
  const int32_t old_x = point.x, old_y = point.y;
  clamp_to_map(&point.x, &point.y);
  d.target.x = point.x;
  d.target.y = point.y;
  if (header && map_present()) {
    bool found = behind_inside_bounds(point.x, point.y, d.facing, *header);
    uint16_t facing = d.facing;
    for (int32_t k = 1; !found && 2048 * k <= 32768; ++k) {
      for (int32_t sign : {-1, 1}) {
        facing = uint16_t(d.facing + sign * 2048 * k);
        if ((found = behind_inside_bounds(point.x, point.y, facing, *header))) break;
      }
    }
    if (found) {
      d.facing = facing;
    } else {
      const int32_t across = mesh_cells_across(), down = mesh_cells_down();
      d.target.x = clamp_into_margins(point.x, margin_cells(header->observer_margin_left, across),
                                      margin_cells(header->observer_margin_right, across), across);
      d.target.y = clamp_into_margins(point.y, margin_cells(header->observer_margin_top, down),
                                      margin_cells(header->observer_margin_bottom, down), down);
      // Facing the clicked point; a click on the clamped point itself gives no direction to face.
      const int64_t dx = int64_t(old_x) - d.target.x, dy = int64_t(old_y) - d.target.y;
      if (dx != 0 || dy != 0) d.facing = world_arctangent(clamp32(dx, INT32_MIN, INT32_MAX), clamp32(dy, INT32_MIN, INT32_MAX));
    }
  }
  d.target.z = OBSERVER_HEIGHT;
  d.pitch = OBSERVER_PLACED_PITCH;
  d.zoom = std::min(d.zoom, 0);
  d.vertical_velocity = d.pitch_velocity = d.forward_velocity = d.sideways_velocity = 0;
  d.turn_velocity = d.orbit_velocity = 0;
}

void observer_shake(int16_t kind, int32_t amplitude, int32_t duration, float fraction) {
  observer_data& d = observer.data;
  if (kind == _shake_decay) {
    if (amplitude <= 0) amplitude = 128;
    if (duration <= 0) duration = 120;
  } else {
    if (amplitude <= 0) amplitude = 256;
    if (duration <= 0) duration = 240;
  }
  d.shake_kind = kind;
  d.shake_amplitude = amplitude;
  d.shake_duration = duration;
  d.shake_start_tick = observer.clock;
  d.shake_fraction = std::clamp(fraction, 0.0f, 1.0f);
  d.flags |= _observer_shaking;
}

void observer_update_from_actions(const uint32_t action_words[2]) {
  auto magnitude = [&](int16_t positive, int16_t negative) {
    return float(std::abs(int(action_bit_is_set(action_words, positive)) - int(action_bit_is_set(action_words, negative))));
  };
  float* m = observer.data.magnitudes;
  m[_magnitude_turn] = magnitude(_action_turn_positive, _action_turn_negative);
  m[_magnitude_forward] = magnitude(_action_forward, _action_backward);
  m[_magnitude_sideways] = magnitude(_action_sideways_positive, _action_sideways_negative);
  m[_magnitude_orbit] = magnitude(_action_orbit_positive, _action_orbit_negative);
  m[_magnitude_zoom] = magnitude(_action_zoom_positive, _action_zoom_negative);
  // The velocity rules read the bits themselves: both keys down decelerates.
  observer_data& d = observer.data;
  const observer_axis_constants* c = observer.constants.axes;
  auto bit = [&](int16_t b) { return action_bit_is_set(action_words, b); };
  update_axis(&d.forward_velocity, bit(_action_forward), bit(_action_backward), m[_magnitude_forward],
              c[_observer_forward_constants]);
  update_axis(&d.sideways_velocity, bit(_action_sideways_positive), bit(_action_sideways_negative),
              m[_magnitude_sideways], c[_observer_sideways_constants]);
  update_axis(&d.turn_velocity, bit(_action_turn_positive), bit(_action_turn_negative), m[_magnitude_turn],
              c[_observer_turn_constants]);
  update_axis(&d.orbit_velocity, bit(_action_orbit_positive), bit(_action_orbit_negative), m[_magnitude_orbit],
              c[_observer_orbit_constants]);
  update_axis(&d.zoom_velocity, bit(_action_zoom_positive), bit(_action_zoom_negative), m[_magnitude_zoom],
              c[_observer_zoom_constants]);
  observer_update();
}

void observer_update() {
  observer_data& d = observer.data;
  d.facing = uint16_t(d.facing + d.turn_velocity);
  const bool bounded = (d.flags & _observer_bounded) != 0;

  // Pass 1: along and across the facing.
  const int64_t cosine = world_cosine(d.facing), sine = world_sine(d.facing);
  const int64_t dx1 = (cosine * d.forward_velocity - sine * d.sideways_velocity) >> TRIG_SHIFT;
  const int64_t dy1 = (cosine * d.sideways_velocity + sine * d.forward_velocity) >> TRIG_SHIFT;
  int64_t moved1 = 0, moved2 = 0;
  apply_pass(d, dx1, dy1, bounded, current_bounds(d.facing), &moved1);

  // Pass 2: the orbit about the point ahead, slowed as a whole by the nearer bound in its way.
  int32_t orbit = d.orbit_velocity;
  if (orbit != 0) {
    int64_t dx2, dy2;
    orbit_movement(d.facing, orbit, &dx2, &dy2);
    if (bounded) {
      const observer_bounds bounds = current_bounds(d.facing);
      const int64_t room = std::min(room_toward_bound(&d.target.x, dx2, bounds.x),
                                    room_toward_bound(&d.target.y, dy2, bounds.y));
      if (room < OBSERVER_BOUND_SLOWDOWN) {
        orbit = int32_t(int64_t(orbit) * std::clamp<int64_t>(room, 0, OBSERVER_BOUND_SLOWDOWN) / OBSERVER_BOUND_SLOWDOWN);
        orbit_movement(d.facing, orbit, &dx2, &dy2);
      }
    }
    apply_pass(d, dx2, dy2, false, {}, &moved2);
    d.facing = uint16_t(d.facing + orbit);
  }

  d.target.z = clamp32(int64_t(d.target.z) + d.vertical_velocity, INT16_MIN * 4, INT16_MAX * 4);
  d.pitch = uint16_t(std::clamp<int64_t>(int64_t(d.pitch) + d.pitch_velocity, OBSERVER_MINIMUM_PITCH, OBSERVER_MAXIMUM_PITCH));
  const int64_t zoom = int64_t(d.zoom) + d.zoom_velocity;
  if (zoom < -OBSERVER_MAXIMUM_ZOOM || zoom > OBSERVER_MAXIMUM_ZOOM) d.zoom_velocity = 0;
  d.zoom = clamp32(zoom, -OBSERVER_MAXIMUM_ZOOM, OBSERVER_MAXIMUM_ZOOM);

  const bool rest = std::abs(d.turn_velocity) < OBSERVER_REST_TURN && moved1 < OBSERVER_REST_DISTANCE &&
                    moved2 < OBSERVER_REST_DISTANCE;
  if (rest) {
    d.flags |= _observer_at_rest;
  } else {
    d.flags &= ~uint32_t(_observer_at_rest);
  }
}

void observer_advance_camera(int32_t ticks) {
  if (ticks > 0) observer.clock += uint32_t(ticks);
  observer_get_camera(&observer.data.camera, 0.0f);
}

void observer_get_camera(observer_camera* camera, float tick_fraction) {
  observer_data& d = observer.data;
  const int32_t pitch = int32_t(d.pitch) + (d.zoom < 0 ? (d.zoom * 819) >> 15 : 0);
  const int64_t distance = (int64_t(d.zoom) * 5120) >> 16;
  const bool map = map_present();
  const mesh_definition* header = mesh_header();
  if (map && header && (header->mesh_flags & _mesh_observer_follows_ground)) {
    int32_t x = clamp32(int64_t(d.target.x) + ahead_x(d.facing, OBSERVER_LOOK_AHEAD), INT32_MIN, INT32_MAX);
    int32_t y = clamp32(int64_t(d.target.y) + ahead_y(d.facing, OBSERVER_LOOK_AHEAD), INT32_MIN, INT32_MAX);
    d.target.z = int32_t(std::lround(observer_smoothed_ground_height(x, y))) + OBSERVER_HEIGHT;
  }
  const int64_t h = (distance * world_cosine(uint32_t(pitch))) >> TRIG_SHIFT;
  const int16_t dx = int16_t((world_cosine(d.facing) * h) >> TRIG_SHIFT);
  const int16_t dy = int16_t((h * world_sine(d.facing)) >> TRIG_SHIFT);
  const int16_t dz = int16_t((distance * world_sine(uint32_t(pitch))) >> TRIG_SHIFT);
  int64_t x = int64_t(d.target.x) + dx, y = int64_t(d.target.y) + dy, z = int64_t(d.target.z) + dz;
  if (map) {
    x = std::clamp<int64_t>(x, 0, std::max(map_extent_x() - 513, 0));
    y = std::clamp<int64_t>(y, 0, std::max(map_extent_y() - 513, 0));
    z = std::max<int64_t>(z, int64_t(mesh_height_at(int32_t(x), int32_t(y), _mesh_height_ground)) + OBSERVER_MINIMUM_CLEARANCE);
  }
  if (d.flags & _observer_shaking) {
    const float elapsed = float(observer.clock - d.shake_start_tick) + std::clamp(tick_fraction, 0.0f, 1.0f);
    if (elapsed >= float(d.shake_duration)) {
      d.flags &= ~uint32_t(_observer_shaking);
    } else {
      const int32_t a = int32_t(float(d.shake_amplitude) * std::clamp(shake_fraction(d, elapsed), 0.0f, 1.0f));
      x += next_random(a);
      y += next_random(a);
      z += next_random(a);
    }
  }
  camera->position = {clamp32(x, INT32_MIN, INT32_MAX), clamp32(y, INT32_MIN, INT32_MAX), clamp32(z, INT32_MIN, INT32_MAX)};
  camera->facing = d.facing;
  camera->pitch = pitch;
  camera->distance = int32_t(distance);
}

float observer_smoothed_ground_height(int32_t world_x, int32_t world_y) {
  if (!map_present()) return 0.0f;
  clamp_to_map(&world_x, &world_y);
  const int32_t cx = world_x >> WORLD_FRACTIONAL_BITS, cy = world_y >> WORLD_FRACTIONAL_BITS;
  const observer_data& d = observer.data;
  if (d.height_cache_x != cx || d.height_cache_y != cy || observer.height_cache_generation != mesh_cells_generation())
    fill_height_cache(cx, cy);
  const float fx = float(world_x - cx * WORLD_ONE) / float(WORLD_ONE);
  const float fy = float(world_y - cy * WORLD_ONE) / float(WORLD_ONE);
  const float top = d.height_cache[0] + (d.height_cache[1] - d.height_cache[0]) * fx;
  const float bottom = d.height_cache[2] + (d.height_cache[3] - d.height_cache[2]) * fx;
  return top + (bottom - top) * fy;
}

const observer_data* observer_get() { return &observer.data; }
const observer_physics_constants* observer_constants() { return &observer.constants; }

void observer_set_constants(const observer_physics_constants& constants) {
  observer.constants = constants;
  for (observer_axis_constants& axis : observer.constants.axes) {
    for (int32_t* value : {&axis.negative_maximum, &axis.negative_acceleration, &axis.negative_deceleration,
                           &axis.positive_maximum, &axis.positive_acceleration, &axis.positive_deceleration})
      *value = std::clamp(*value, 0, 65535);
  }
}

void observer_set(const observer_data& data) { observer.data = data; }
