#include "input/observer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "input/action_queue.h"
#include "input/keyboard.h"
#include "input/keyboard_configurations.h"
#include "map/mesh.h"
#include "support/map_fixtures.h"
#include "world/trigonometry.h"

namespace {

constexpr int32_t MAP_EXTENT = 32 * WORLD_ONE;  // a 1 x 1 map: 32 cells

observer_physics_constants demo_constants() {
  observer_physics_constants c{};
  c.axes[_observer_forward_constants] = {160, 16, 24, 160, 16, 24};
  c.axes[_observer_sideways_constants] = {128, 14, 24, 128, 14, 24};
  c.axes[_observer_turn_constants] = {512, 48, 96, 512, 48, 96};
  c.axes[_observer_orbit_constants] = {384, 32, 64, 384, 32, 64};
  c.axes[_observer_zoom_constants] = {1200, 120, 240, 1200, 120, 240};
  return c;
}

uint32_t bits(std::initializer_list<int16_t> list) {
  uint32_t word = 0;
  for (int16_t b : list) word |= 1u << b;
  return word;
}

class Observer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(grid.ready());
    observer_initialize();
    observer_set_constants(demo_constants());
    place({MAP_EXTENT / 2, MAP_EXTENT / 2}, 0, true);
  }
  void place(world_point2d at, uint16_t facing, bool bounded) {
    observer_data d = *observer_get();
    d = observer_data{};
    d.height_cache_x = d.height_cache_y = -1;
    d.target = {at.x, at.y, OBSERVER_HEIGHT};
    d.facing = facing;
    d.pitch = OBSERVER_PLACED_PITCH;
    d.flags = bounded ? uint32_t(_observer_bounded) : 0u;
    observer_set(d);
  }
  void margins(int16_t left, int16_t right, int16_t top, int16_t bottom) {
    grid.header.observer_margin_left = left;
    grid.header.observer_margin_right = right;
    grid.header.observer_margin_top = top;
    grid.header.observer_margin_bottom = bottom;
  }
  void hold(uint32_t word, int ticks) {
    const uint32_t words[2] = {word, 0};
    for (int i = 0; i < ticks; ++i) observer_update_from_actions(words);
  }
  const observer_data& o() { return *observer_get(); }

  scoped_test_grid grid{1, 1};
};

// Every key at once and each alone, from every edge and corner, facing every way: the target and
// the camera stay on the map, and (under the address sanitizer) nothing outside it is read.
TEST_F(Observer, AtEveryEdgeAndCornerOfAOneByOneMapItStaysOnTheMap) {
  grid.header.mesh_flags |= _mesh_observer_follows_ground;
  const int32_t last = MAP_EXTENT - 1;
  const world_point2d starts[] = {{0, 0}, {last, 0}, {0, last}, {last, last}, {0, last / 2}, {last, last / 2},
                                  {last / 2, 0}, {last / 2, last}};
  const uint32_t holds[] = {bits({_action_forward}), bits({_action_backward}), bits({_action_sideways_positive}),
                            bits({_action_sideways_negative}), bits({_action_orbit_positive, _action_forward}),
                            bits({_action_orbit_negative, _action_turn_positive, _action_backward})};
  for (int16_t margin : {int16_t(0), int16_t(6), int16_t(-3), int16_t(40)}) {
    margins(margin, margin, margin, margin);
    for (bool bounded : {false, true}) {
      for (const world_point2d& start : starts) {
        for (uint16_t facing = 0; facing < 0xE000; facing = uint16_t(facing + 0x2000)) {
          for (uint32_t word : holds) {
            place(start, facing, bounded);
            for (int tick = 0; tick < 90; ++tick) {
              hold(word, 1);
              observer_camera camera;
              observer_get_camera(&camera, 0.5f);
              ASSERT_GE(o().target.x, 0);
              ASSERT_LE(o().target.x, last);
              ASSERT_GE(o().target.y, 0);
              ASSERT_LE(o().target.y, last);
              ASSERT_GE(camera.position.x, 0);
              ASSERT_LE(camera.position.x, MAP_EXTENT - 513);
              ASSERT_GE(camera.position.y, 0);
              ASSERT_LE(camera.position.y, MAP_EXTENT - 513);
            }
          }
        }
      }
    }
  }
}

// Driving toward a bound slows to a stop on it: never past it, never back (a factor above 1 or
// below 0 would overshoot or reverse).
TEST_F(Observer, BoundedMotionSlowsToAStopOnTheBoundWithoutReversing) {
  margins(4, 4, 4, 4);  // 4 cells: no give when turning
  const int32_t right_bound = MAP_EXTENT - 4 * WORLD_ONE - WORLD_ONE;
  place({MAP_EXTENT / 2, MAP_EXTENT / 2}, 0, true);
  int32_t previous = o().target.x;
  for (int tick = 0; tick < 300; ++tick) {
    hold(bits({_action_forward}), 1);
    ASSERT_GE(o().target.x, previous) << tick;
    ASSERT_LE(o().target.x, right_bound) << tick;
    previous = o().target.x;
  }
  EXPECT_GT(o().target.x, right_bound - 64);
  // Beyond the bound and moving on toward it: put back on it.
  place({right_bound + 700, MAP_EXTENT / 2}, 0, true);
  hold(bits({_action_forward}), 1);
  EXPECT_EQ(o().target.x, right_bound);
  // Beyond it and moving away: free to come back.
  place({right_bound + 700, MAP_EXTENT / 2}, 0x8000, true);
  hold(bits({_action_forward}), 3);
  EXPECT_LT(o().target.x, right_bound + 700);
  EXPECT_GT(o().target.x, right_bound);
}

// Margins that leave no room bound nothing: the observer still keeps to the map.
TEST_F(Observer, EmptyOrInvertedBoundsLeaveItFreeOnTheMap) {
  margins(30, 30, 0, 0);
  place({MAP_EXTENT / 2, MAP_EXTENT / 2}, 0, true);
  hold(bits({_action_forward}), 400);
  EXPECT_EQ(o().target.x, MAP_EXTENT - 1);
  margins(0, 0, 0, 0);
  observer_set_bounded(false);
  EXPECT_FALSE(observer_is_bounded());
  hold(bits({_action_backward}), 400);
  EXPECT_EQ(o().target.x, 0);
}

TEST_F(Observer, BothKeysOfAnAxisDecelerateAndAHeldKeyThenFocusLossComesToRest) {
  hold(bits({_action_forward}), 20);
  EXPECT_EQ(o().forward_velocity, 160);
  EXPECT_FALSE(o().flags & _observer_at_rest);
  hold(bits({_action_forward, _action_backward}), 6);
  EXPECT_EQ(o().forward_velocity, 160 - 6 * 24);
  hold(bits({_action_forward, _action_backward}), 1);
  EXPECT_EQ(o().forward_velocity, 0);

  // Through the queue: W held in the key table, then the editor loses the keyboard.
  keyboard_set_key(_key_w, true);
  for (int i = 0; i < 10; ++i) input_sample(nullptr);
  EXPECT_EQ(input_drain(true), 10);
  EXPECT_GT(o().forward_velocity, 0);
  const int32_t x = o().target.x;
  // Inactive, ticks are still taken but move nothing.
  for (int i = 0; i < 5; ++i) input_sample(nullptr);
  EXPECT_EQ(input_drain(false), 5);
  EXPECT_EQ(o().target.x, x);
  keyboard_release_all();
  for (int i = 0; i < 20; ++i) input_sample(nullptr);
  EXPECT_EQ(input_drain(true), 20);
  EXPECT_EQ(o().forward_velocity, 0);
  EXPECT_TRUE(o().flags & _observer_at_rest);
  const int32_t resting = o().target.x;
  for (int i = 0; i < 5; ++i) input_sample(nullptr);
  input_drain(true);
  EXPECT_EQ(o().target.x, resting);
}

TEST_F(Observer, PitchAndZoomKeepToTheirLimits) {
  observer_data d = o();
  d.pitch_velocity = 5000;
  observer_set(d);
  hold(0, 3);
  EXPECT_EQ(o().pitch, OBSERVER_MAXIMUM_PITCH);
  d = o();
  d.pitch_velocity = -70000;
  d.vertical_velocity = 100;
  observer_set(d);
  hold(0, 1);
  EXPECT_EQ(o().pitch, OBSERVER_MINIMUM_PITCH);
  EXPECT_EQ(o().target.z, OBSERVER_HEIGHT + 100);
  hold(bits({_action_zoom_positive}), 200);
  EXPECT_EQ(o().zoom, OBSERVER_MAXIMUM_ZOOM);
  EXPECT_LE(o().zoom_velocity, 120);  // stopped at the limit, then one tick's acceleration
  hold(bits({_action_zoom_negative}), 400);
  EXPECT_EQ(o().zoom, -OBSERVER_MAXIMUM_ZOOM);
}

TEST_F(Observer, OrbitingTurnsAboutThePointAhead) {
  margins(0, 0, 0, 0);
  observer_set_bounded(false);
  const int32_t ahead_x = o().target.x + OBSERVER_LOOK_AHEAD;
  const int32_t ahead_y = o().target.y;
  hold(bits({_action_orbit_positive}), 12);
  const observer_data& d = o();
  const int32_t x = d.target.x + ((OBSERVER_LOOK_AHEAD * world_cosine(d.facing)) >> TRIG_SHIFT);
  const int32_t y = d.target.y + ((OBSERVER_LOOK_AHEAD * world_sine(d.facing)) >> TRIG_SHIFT);
  EXPECT_NE(d.facing, 0);
  EXPECT_NEAR(x, ahead_x, 40);
  EXPECT_NEAR(y, ahead_y, 40);
}

// Weighing heights (not their rise above the centre) would lift flat ground below zero toward 0.
TEST_F(Observer, GroundFollowingKeepsTerrainBelowZeroWhereItIs) {
  grid.header.mesh_flags |= _mesh_observer_follows_ground;
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 0; x < 32; ++x) map_fixture_set_height(x, y, -3000);
  observer_camera camera;
  observer_get_camera(&camera, 0.0f);
  EXPECT_EQ(o().target.z, -3000 + OBSERVER_HEIGHT);
  EXPECT_GE(camera.position.z, -3000 + OBSERVER_MINIMUM_CLEARANCE);
  EXPECT_FLOAT_EQ(observer_smoothed_ground_height(100, 100), -3000.0f);
}

TEST_F(Observer, TheSmoothedGroundRisesTowardAPeakAndFollowsHeightChanges) {
  map_fixture_set_height(10, 10, 1000);
  const float near = observer_smoothed_ground_height(12 * WORLD_ONE, 10 * WORLD_ONE);
  EXPECT_NEAR(near, 1000.0f * std::exp(-4.0f / 32.0f), 0.5f);
  EXPECT_NEAR(observer_smoothed_ground_height(10 * WORLD_ONE, 10 * WORLD_ONE), 1000.0f, 0.01f);
  EXPECT_FLOAT_EQ(observer_smoothed_ground_height(30 * WORLD_ONE, 30 * WORLD_ONE), 0.0f);  // beyond 6 cells
  // Half way across a cell: between its corners.
  const float half = observer_smoothed_ground_height(12 * WORLD_ONE + 256, 10 * WORLD_ONE);
  EXPECT_LT(half, near);
  EXPECT_GT(half, observer_smoothed_ground_height(13 * WORLD_ONE, 10 * WORLD_ONE));
  // The same cell asked again after the peak moved: the cached corners are not reused.
  EXPECT_FLOAT_EQ(observer_smoothed_ground_height(12 * WORLD_ONE, 10 * WORLD_ONE), near);
  map_fixture_set_height(10, 10, 0);
  EXPECT_FLOAT_EQ(observer_smoothed_ground_height(12 * WORLD_ONE, 10 * WORLD_ONE), 0.0f);
}

// The point 6272 ahead of a target near the edge lies off the map: its height is read at the edge.
TEST_F(Observer, ThePointAheadOffTheMapIsReadAtItsEdge) {
  grid.header.mesh_flags |= _mesh_observer_follows_ground;
  map_fixture_set_height(0, 5, 800);
  place({100, 5 * WORLD_ONE}, 0x8000, false);
  observer_camera camera;
  observer_get_camera(&camera, 0.0f);
  EXPECT_EQ(o().target.z, 800 + OBSERVER_HEIGHT);
  EXPECT_FLOAT_EQ(observer_smoothed_ground_height(-1000000, 5 * WORLD_ONE), 800.0f);
  EXPECT_FLOAT_EQ(observer_smoothed_ground_height(INT32_MAX, INT32_MIN), 0.0f);
}

TEST_F(Observer, JumpingKeepsTheFacingWhenTheCameraStandsInsideTheBounds) {
  margins(0, 0, 0, 0);
  observer_data d = o();
  d.facing = 0;
  d.zoom = 500;
  d.forward_velocity = d.turn_velocity = d.orbit_velocity = d.pitch_velocity = 99;
  observer_set(d);
  observer_jump_to({MAP_EXTENT / 2, MAP_EXTENT / 2});
  EXPECT_EQ(o().facing, 0);
  EXPECT_EQ(o().target.x, MAP_EXTENT / 2);
  EXPECT_EQ(o().target.z, OBSERVER_HEIGHT);
  EXPECT_EQ(o().pitch, OBSERVER_PLACED_PITCH);
  EXPECT_EQ(o().zoom, 0);
  EXPECT_EQ(o().forward_velocity + o().turn_velocity + o().orbit_velocity + o().pitch_velocity, 0);
  // Near the left edge facing east the point behind is off the map: the nearest facing (in steps of
  // 2048) that puts it back on is taken, and the target stays.
  observer_jump_to({1000, MAP_EXTENT / 2});
  EXPECT_EQ(o().target.x, 1000);
  const int32_t behind = 1000 - ((OBSERVER_LOOK_AHEAD * world_cosine(o().facing)) >> TRIG_SHIFT);
  EXPECT_GE(behind, 0);
  EXPECT_EQ(o().facing % 2048, 0);
  EXPECT_NE(o().facing, 0);
}

// With bounds too small for the camera to stand in, the target is clamped inside them (the last
// unit inside, not the first outside) and faces the clicked point; clicking the clamped point
// itself gives no direction, and the facing is kept.
TEST_F(Observer, JumpingWithNoFacingThatFitsClampsInsideTheBounds) {
  margins(14, 14, 14, 14);  // cells 14..17
  observer_jump_to({MAP_EXTENT - 10, MAP_EXTENT - 10});
  EXPECT_EQ(o().target.x, 18 * WORLD_ONE - 1);
  EXPECT_EQ(o().target.y, 18 * WORLD_ONE - 1);
  EXPECT_EQ(o().target.x >> WORLD_FRACTIONAL_BITS, 17);
  EXPECT_NEAR(int32_t(o().facing), 0x2000, 64);  // toward the clicked corner
  observer_data d = o();
  d.facing = 1234;
  observer_set(d);
  observer_jump_to({8000, 8000});
  EXPECT_EQ(o().target.x, 8000);
  EXPECT_EQ(o().facing, 1234);
}

TEST_F(Observer, ShakesRiseAndFallOrDecayAndEnd) {
  margins(0, 0, 0, 0);
  observer_camera still;
  observer_get_camera(&still, 0.0f);
  observer_shake(_shake_rise_and_fall, 0, 0);
  EXPECT_EQ(o().shake_amplitude, 256);
  EXPECT_EQ(o().shake_duration, 240);
  observer_camera camera;
  observer_get_camera(&camera, 0.0f);  // nothing yet at the start
  EXPECT_EQ(camera.position.x, still.position.x);
  bool moved = false;
  for (int tick = 1; tick < 240; ++tick) {
    observer_advance_camera(1);
    const observer_camera& c = o().camera;
    const float fraction = tick < 120 ? tick / 120.0f : (240 - tick) / 120.0f;
    ASSERT_LE(std::abs(c.position.x - still.position.x), int32_t(256 * fraction) + 1) << tick;
    moved |= c.position.x != still.position.x;
  }
  EXPECT_TRUE(moved);
  observer_advance_camera(1);
  EXPECT_FALSE(o().flags & _observer_shaking);
  EXPECT_EQ(o().camera.position.x, still.position.x);

  observer_shake(_shake_decay, 0, 0);
  EXPECT_EQ(o().shake_amplitude, 128);
  EXPECT_EQ(o().shake_duration, 120);
  observer_shake(_shake_given, 300, 10, 0.0f);
  observer_advance_camera(1);
  EXPECT_EQ(o().camera.position.x, still.position.x);
  EXPECT_TRUE(o().flags & _observer_shaking);
}

TEST_F(Observer, ConstantsFromOutsideAreKeptInRange) {
  observer_physics_constants c = demo_constants();
  c.axes[_observer_forward_constants] = {-5, -5, -5, INT32_MAX, INT32_MAX, INT32_MAX};
  observer_set_constants(c);
  EXPECT_EQ(observer_constants()->axes[0].negative_maximum, 0);
  EXPECT_EQ(observer_constants()->axes[0].positive_acceleration, 65535);
  observer_set_bounded(false);
  hold(bits({_action_forward}), 5);  // no overflow (the undefined-behaviour sanitizer watches)
  EXPECT_EQ(o().target.x, MAP_EXTENT - 1);
}

}  // namespace
