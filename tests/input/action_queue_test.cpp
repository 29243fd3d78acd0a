#include "input/action_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "input/keyboard.h"

namespace {

// A key source the test holds keys in; read by the sampler, written only while it is stopped or
// through atomics.
struct test_keys {
  std::atomic<bool> down[NUMBER_OF_KEY_CODES] = {};
  input_key_source source() {
    return {this, [](void* c, int16_t code) {
              return code >= 0 && code < NUMBER_OF_KEY_CODES && static_cast<test_keys*>(c)->down[code].load();
            },
            [](void*, int16_t) { return false; },
            [](void*, int16_t* x, int16_t* y) { *x = 7, *y = 9; }};
  }
};

std::vector<input_tick> drain_all() {
  std::vector<input_tick> ticks;
  input_tick tick;
  while (input_dequeue(&tick)) ticks.push_back(tick);
  return ticks;
}

TEST(InputQueue, AtMostThirtyWaitAndTheRestAreDropped) {
  test_keys keys;
  const input_key_source source = keys.source();
  keys.down[_key_w] = true;
  for (int i = 0; i < 40; ++i) EXPECT_TRUE(input_sample(&source));
  EXPECT_EQ(input_queue_count(), INPUT_QUEUE_LIMIT);
  EXPECT_EQ(input_dropped_tick_count(), 10);
  // The drain takes them oldest first; only the first of the batch is marked.
  EXPECT_EQ(input_drain(false), INPUT_QUEUE_LIMIT);
  EXPECT_EQ(input_queue_count(), 0);
  EXPECT_EQ(input_last_drained_tick().time_stamp, 29);
  EXPECT_EQ(input_last_drained_tick().action_bits[0], 1u << _action_forward);
  EXPECT_EQ(input_last_drained_tick().mouse_x, 7 + INPUT_CURSOR_OFFSET);
  // The ring goes on past its end.
  for (int i = 0; i < 5; ++i) input_sample(&source);
  const std::vector<input_tick> ticks = drain_all();
  ASSERT_EQ(ticks.size(), 5u);
  for (size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(ticks[i].time_stamp, 40 + int32_t(i));
  input_sample(&source);
  input_sample(&source);
  EXPECT_EQ(input_drain(false), 2);
  EXPECT_EQ(input_last_drained_tick().action_bits[0], 1u << _action_forward);
}

TEST(InputQueue, TheFirstTickOfEachBatchIsMarked) {
  test_keys keys;
  const input_key_source source = keys.source();
  input_sample(&source);
  EXPECT_EQ(input_drain(false), 1);
  EXPECT_EQ(input_last_drained_tick().action_bits[0], 1u << _action_first_of_batch);
  EXPECT_EQ(input_drain(false), 0);
}

TEST(InputQueue, FlushDropsWaitingTicksAndDisabledSamplingMakesNone) {
  test_keys keys;
  const input_key_source source = keys.source();
  for (int i = 0; i < 12; ++i) input_sample(&source);
  input_flush();
  EXPECT_EQ(input_queue_count(), 0);
  input_enable(false);
  EXPECT_FALSE(input_is_enabled());
  EXPECT_FALSE(input_sample(&source));
  EXPECT_EQ(input_queue_count(), 0);
  input_enable(true);
  EXPECT_TRUE(input_sample(&source));
  EXPECT_EQ(input_queue_count(), 1);
}

TEST(InputQueue, TicksDueCatchUpAtMostThirtyAfterAStall) {
  int64_t calls = 0;
  EXPECT_EQ(input_ticks_due(0, &calls), 1);  // at least one at once
  calls = 1;
  EXPECT_EQ(input_ticks_due(20, &calls), 0);
  EXPECT_EQ(input_ticks_due(100, &calls), 2);  // 3 due by now
  calls = 3;
  // Ten seconds stalled: 300 due, only the last 30 are made up.
  EXPECT_EQ(input_ticks_due(10000, &calls), INPUT_CATCH_UP_LIMIT);
  EXPECT_EQ(calls, 300 - INPUT_CATCH_UP_LIMIT);
  calls = 300;
  EXPECT_EQ(input_ticks_due(10000, &calls), 0);
  EXPECT_EQ(input_ticks_due(10034, &calls), 1);
}

TEST(InputSampler, TypedKeysComeOnePerSampleAndRepeatAfterTenThenEveryThree) {
  test_keys keys;
  const input_key_source source = keys.source();
  keys.down[_key_shift] = true;
  keys.down[_key_keypad_0 + 8] = true;
  keys.down[_key_h] = true;
  std::vector<input_tick> ticks;
  for (int i = 0; i < 24; ++i) {
    input_sample(&source);
    for (const input_tick& tick : drain_all()) ticks.push_back(tick);
  }
  ASSERT_EQ(ticks.size(), 24u);
  // Shift went down too but is no character key: it still takes its turn, and never repeats.
  EXPECT_EQ(ticks[0].typed_key, _key_h);
  EXPECT_EQ(ticks[0].typed_character, 'H');
  EXPECT_EQ(ticks[1].typed_key, _key_shift);
  EXPECT_EQ(ticks[1].typed_character, -1);
  EXPECT_EQ(ticks[2].typed_key, _key_keypad_0 + 8);
  EXPECT_EQ(ticks[2].typed_character, '8');  // keypad 8 is never 'H'
  // Held, the last key comes again at hold counts 13, 16, 19 ... after it was delivered.
  std::vector<int> repeats;
  for (int i = 3; i < 24; ++i) {
    if (ticks[size_t(i)].typed_key >= 0) {
      EXPECT_EQ(ticks[size_t(i)].typed_key, _key_keypad_0 + 8);
      repeats.push_back(i);
    } else {
      EXPECT_EQ(ticks[size_t(i)].typed_character, -1);
    }
  }
  EXPECT_EQ(repeats, (std::vector<int>{15, 18, 21}));
  // Let go: no more repeats. Disabling forgets what was typed.
  keys.down[_key_keypad_0 + 8] = false;
  input_sample(&source);
  EXPECT_EQ(drain_all().at(0).typed_key, -1);
  input_enable(false);
  input_enable(true);
  input_sample(&source);  // h and Shift are still held: not typed again
  EXPECT_EQ(drain_all().at(0).typed_key, -1);
}

// A clock that runs only when the sampler sleeps: the test owns time, not the machine.
struct stepping_clock {
  std::atomic<int64_t> now{0};
  int64_t step;
  input_clock clock() {
    return {this, [](void* c) { return static_cast<stepping_clock*>(c)->now.load(); },
            [](void* c, int32_t) {
              auto* self = static_cast<stepping_clock*>(c);
              self->now.fetch_add(self->step);
              std::this_thread::yield();
            }};
  }
};

TEST(InputQueue, AHundredThousandTicksFromTheSamplingThreadArriveInOrder) {
  stepping_clock time{{0}, 100};  // three ticks due per pass
  test_keys keys;
  const input_clock clock = time.clock();
  const input_key_source source = keys.source();
  ASSERT_TRUE(input_start(&clock, &source));
  ASSERT_TRUE(input_is_running());
  constexpr int32_t wanted = 100000;
  int32_t received = 0, last_stamp = -1, gaps = 0;
  int32_t most_waiting = 0;
  bool stalled = false;
  while (received < wanted) {
    most_waiting = std::max(most_waiting, input_queue_count());
    input_tick tick;
    if (!input_dequeue(&tick)) {
      std::this_thread::yield();
      continue;
    }
    EXPECT_GT(tick.time_stamp, last_stamp);
    if (tick.time_stamp != last_stamp + 1) ++gaps;
    last_stamp = tick.time_stamp;
    ++received;
    // Halfway, the consumer stalls until the sampler has had to drop ticks.
    if (!stalled && received == wanted / 2) {
      stalled = true;
      const int64_t dropped_before = input_dropped_tick_count();
      while (input_dropped_tick_count() < dropped_before + 100) std::this_thread::yield();
      EXPECT_EQ(input_queue_count(), INPUT_QUEUE_LIMIT);
    }
  }
  input_shutdown();
  EXPECT_FALSE(input_is_running());
  EXPECT_LE(most_waiting, INPUT_QUEUE_LIMIT);
  EXPECT_GE(input_dropped_tick_count(), 100);
  EXPECT_GE(gaps, 1);
  // What waited at the stop, still in order; then every stamp up to the last one taken was either
  // taken or dropped: none lost, none taken twice.
  for (input_tick tick; input_dequeue(&tick); ++received) {
    EXPECT_GT(tick.time_stamp, last_stamp);
    last_stamp = tick.time_stamp;
  }
  EXPECT_LE(received, last_stamp + 1);
  EXPECT_GE(int64_t(received) + input_dropped_tick_count(), int64_t(last_stamp) + 1);
}

TEST(InputQueue, ShutdownStopsAndJoinsTheThreadOnTheSteadyClock) {
  ASSERT_TRUE(input_initialize());
  EXPECT_TRUE(input_is_running());
  input_shutdown();
  EXPECT_FALSE(input_is_running());
  input_shutdown();  // harmless twice
  ASSERT_TRUE(input_initialize());
  // Left running: the end of the process stops and joins it.
}

}  // namespace
