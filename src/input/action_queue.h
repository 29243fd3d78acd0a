// The input queue and its sampling thread. Thirty times a second the sampler reads the key-state
// table and the cursor, makes an input tick (the bound action bits, the cursor, one typed key) and
// puts it in a 32-slot ring, of which at most 30 wait; the main loop drains the ring and moves the
// observer by each tick. The sampler writes only the write index and the slot at it, the main
// thread only the read index: each index is published with release and read with acquire.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "input/keyboard_configurations.h"

enum {
  INPUT_QUEUE_SLOTS = 32,
  INPUT_QUEUE_LIMIT = 30,            // ticks that may wait; more are dropped
  INPUT_TICKS_PER_SECOND = 30,
  INPUT_PERIOD_MILLISECONDS = 1000 / INPUT_TICKS_PER_SECOND,
  INPUT_CATCH_UP_LIMIT = 30,         // ticks made up in one pass after a stall
  INPUT_STOP_WAIT_MILLISECONDS = 3000,
  INPUT_TYPED_KEY_RING = 16,
  INPUT_REPEAT_DELAY = 10,           // samples a key is held before it repeats
  INPUT_REPEAT_INTERVAL = 3,         // samples between repeats
  INPUT_CURSOR_OFFSET = 0,           // added to the cursor position
};

// One slot of the queue.
struct input_tick {
  int32_t time_stamp;         // the sampler's tick number when the tick was queued
  uint32_t action_bits[2];    // bit n is bit n % 32 of word n / 32
  int16_t mouse_x, mouse_y;   // cursor position plus the fixed offset
  int16_t typed_character;    // -1 for none
  int16_t typed_key;          // key code, -1 for none
};
static_assert(sizeof(input_tick) == 20);
static_assert(offsetof(input_tick, mouse_x) == 12);

// "action_queue": the two indices and the ring. Count = (write - read) mod 32.
struct action_queue {
  std::atomic<uint16_t> read_index;
  std::atomic<uint16_t> write_index;
  input_tick ticks[INPUT_QUEUE_SLOTS];
};
static_assert(sizeof(action_queue) == 644);
static_assert(std::atomic<uint16_t>::is_always_lock_free);

// The sampler's clock. now answers milliseconds of a steady clock; sleep lets time pass (none: the
// sampler waits on its own, waking at once when stopped).
struct input_clock {
  void* context;
  int64_t (*now_milliseconds)(void* context);
  void (*sleep_milliseconds)(void* context, int32_t milliseconds);
};

// What the sampler reads: keys, mouse buttons and the cursor (by default the key-state table).
struct input_key_source {
  void* context;
  bool (*key_is_down)(void* context, int16_t key_code);
  bool (*mouse_button_is_down)(void* context, int16_t button);
  void (*cursor)(void* context, int16_t* x, int16_t* y);
};

// Engine initialisation: empties the queue, starts the sampling thread with the steady clock and
// the key-state table, and registers its stopping as an exit procedure. True when running.
bool input_initialize();
// The same with another clock or key source (none: the default); for tests. A running sampler is
// stopped first.
bool input_start(const input_clock* clock, const input_key_source* source);
// Stops the sampling thread and joins it; harmless when none runs. Every way out calls it: Quit,
// the close box, halt_program's exit procedures, and the end of the process.
void input_shutdown();
bool input_is_running();

// Drops every waiting tick: the read index takes the write index.
void input_flush();
// Turns the making of ticks on or off and forgets the typed keys.
void input_enable(bool enabled);
bool input_is_enabled();
// The ticks waiting.
int32_t input_queue_count();
// Ticks made while 30 waited, since the sampler started.
int64_t input_dropped_tick_count();

// Takes the oldest waiting tick; false when none waits. The main thread's side of the ring.
bool input_dequeue(input_tick* tick);
// The main loop's drain: takes every waiting tick in order, marks the first of the batch (bit 15),
// and, when the application is active, moves the observer by each. The number of ticks taken.
int32_t input_drain(bool application_active);
// The last tick the drain took (zero before any).
const input_tick& input_last_drained_tick();

// One sampling callback on the calling thread, for tests with no sampling thread running: reads
// the source, makes a tick and queues it unless 30 wait. False when sampling is off.
bool input_sample(const input_key_source* source);

// The callbacks due in a pass: (elapsed x 30 / 1000, at least 1) less those already made, but
// never more than the catch-up limit. *calls is advanced past any ticks that are given up.
int32_t input_ticks_due(int64_t elapsed_milliseconds, int64_t* calls);
