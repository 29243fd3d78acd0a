// The observer: the camera of the visual view. It stands on a target point, faces a direction,
// looks down at a pitch and stands back at a zoom distance; each input tick's action bits move it
// through five axes (forward, sideways, turn, orbit about the point ahead, zoom) whose speeds come
// from the observer physics constants (`obpc`). In bounded mode it keeps inside the map's observer
// margins; it never leaves the map. The camera follows the ground when the map asks for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cseries/value_types.h"

inline constexpr uint32_t OBSERVER_PHYSICS_TAG = 0x6F627063;  // 'obpc', group and identifier

enum observer_flag_bits : uint32_t {
  _observer_at_rest = 1,
  _observer_bounded = 2,
  _observer_shaking = 4,
};

enum {
  OBSERVER_LOOK_AHEAD = 6272,       // world units from the target to the point it orbits
  OBSERVER_HEIGHT = 4096,           // above the ground ahead
  OBSERVER_MINIMUM_CLEARANCE = 1024,  // of the camera above the ground under it
  OBSERVER_PLACED_PITCH = 60620,
  OBSERVER_MINIMUM_PITCH = 60108,
  OBSERVER_MAXIMUM_PITCH = 60876,
  OBSERVER_MAXIMUM_ZOOM = 65535,
  OBSERVER_REST_TURN = 365,         // below these the observer is at rest
  OBSERVER_REST_DISTANCE = 69,
  OBSERVER_BOUND_SLOWDOWN = 512,    // within this of a bound, movement toward it slows
  OBSERVER_SMOOTHING_RADIUS = 6,    // cells each way of the smoothed ground height
  NUMBER_OF_OBSERVER_CONSTANT_RECORDS = 7,
};

// One axis of motion, per tick of 1/30 s.
struct observer_axis_constants {
  int32_t negative_maximum, negative_acceleration, negative_deceleration;
  int32_t positive_maximum, positive_acceleration, positive_deceleration;
};
static_assert(sizeof(observer_axis_constants) == 24);

// The `obpc` definition's record: 0 forward, 1 sideways, 2 turn, 3 orbit, 4 vertical, 5 pitch,
// 6 zoom (4 and 5 are not moved by keys).
struct observer_physics_constants {
  observer_axis_constants axes[NUMBER_OF_OBSERVER_CONSTANT_RECORDS];
  uint8_t unused[88];
};
static_assert(sizeof(observer_physics_constants) == 256);

enum observer_constants_record : int16_t {
  _observer_forward_constants = 0,
  _observer_sideways_constants = 1,
  _observer_turn_constants = 2,
  _observer_orbit_constants = 3,
  _observer_zoom_constants = 6,
};

enum observer_magnitude : int16_t {
  _magnitude_turn = 0,
  _magnitude_forward,
  _magnitude_sideways,
  _magnitude_orbit,
  _magnitude_zoom,
  NUMBER_OF_OBSERVER_MAGNITUDES
};

enum observer_shake_kind : int16_t {
  _shake_rise_and_fall = 0,  // up to full at the middle of the duration, then down
  _shake_decay = 1,          // from full down to nothing
  _shake_given = 2,          // the caller's fraction throughout
};

// The camera as last computed.
struct observer_camera {
  world_point3d position;
  int32_t facing;    // angle, 65536 to a turn
  int32_t pitch;     // the effective pitch
  int32_t distance;  // from the target
};
static_assert(sizeof(observer_camera) == 24);

struct observer_data {
  uint32_t flags;  // observer_flag_bits
  world_point3d target;
  uint16_t facing;
  uint16_t pitch;
  int32_t zoom;  // -65535..65535
  int32_t forward_velocity, sideways_velocity, turn_velocity, orbit_velocity, zoom_velocity;
  int32_t vertical_velocity, pitch_velocity;
  float magnitudes[NUMBER_OF_OBSERVER_MAGNITUDES];  // turn, forward, sideways, orbit, zoom
  int16_t shake_kind;
  int16_t unused_74;
  int32_t shake_amplitude;
  int32_t shake_duration;    // ticks
  uint32_t shake_start_tick;
  float shake_fraction;      // kind 2's
  observer_camera camera;
  int16_t height_cache_x, height_cache_y;  // cell of the cached corners, -1 for none
  float height_cache[4];                   // smoothed heights: top-left, top-right, bottom-left, bottom-right
  uint8_t unused_136[24];
};
static_assert(sizeof(observer_data) == 160);
static_assert(offsetof(observer_data, magnitudes) == 52);
static_assert(offsetof(observer_data, camera) == 92);
static_assert(offsetof(observer_data, height_cache) == 120);

// Engine initialisation: the state cleared, the smoothing weights built.
bool observer_initialize();
// At map open: the state cleared, bounded and at rest; the constants loaded from the `obpc` tag
// ("observer physics constants missing.", code 11: false, and the map must not open); the target
// at the map's centre facing 0, then at the local team's observer marker (with no local team, -1,
// the last observer marker of team 0); pitch 60620, zoom 0, height 4096.
bool observer_place(int16_t local_team);
void observer_set_bounded(bool bounded);
bool observer_is_bounded();
// The overhead view's click: the target moves to the point, keeping the facing when the point
// 6272 units behind lies inside the observer bounds, else the nearest facing in steps of 2048 for
// which it does; failing all, the target is clamped into the bounds and faces the clicked point.
void observer_jump_to(world_point2d point);
// Starts shaking the camera; an amplitude or duration of 0 or less takes the kind's default
// (kind 0: 256 for 240 ticks, kind 1: 128 for 120). fraction is kind 2's, 0..1.
void observer_shake(int16_t kind, int32_t amplitude, int32_t duration, float fraction = 1.0f);

// One tick from a tick's action bits: the five magnitudes, the velocities, then observer_update.
void observer_update_from_actions(const uint32_t action_words[2]);
// One tick of motion with the velocities as they stand: facing, the two passes (slowed at the
// bounds in bounded mode), height and pitch by their velocities, zoom and the at-rest flag.
void observer_update();
// The main loop's camera step: the observer's clock advances by ticks and the camera follows.
void observer_advance_camera(int32_t ticks);
// The camera from the observer; tick_fraction (0..1) is the time since the last tick.
void observer_get_camera(observer_camera* camera, float tick_fraction);

// The smoothed ground height at a world point (clamped to the map): for each vertex, its own
// height raised toward the highest neighbour within 6 cells, weighed by distance; bilinear inside
// the cell. The four corners of the last cell asked for are cached until the heights change.
float observer_smoothed_ground_height(int32_t world_x, int32_t world_y);
// The state and the constants in use, for views and tests.
const observer_data* observer_get();
const observer_physics_constants* observer_constants();
// Replaces the constants (tests, and the tool's camera path): every value is kept within 0..65535.
void observer_set_constants(const observer_physics_constants& constants);
// Replaces the state (tests).
void observer_set(const observer_data& data);
