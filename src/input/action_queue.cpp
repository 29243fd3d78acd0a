#include "input/action_queue.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "cseries/error_manager.h"
#include "input/keyboard.h"
#include "input/observer.h"

namespace {

action_queue queue;
std::atomic<bool> sampling_enabled{true};
std::atomic<bool> typed_keys_forget{false};
std::atomic<int64_t> dropped_ticks{0};
input_tick last_drained{};

// ---- the sampler's own state: touched only by the thread that samples ----

struct typed_key {
  int16_t code, character;
};

struct sampler_state {
  const key_binding_set* bindings = nullptr;  // a built-in set, constant
  int32_t tick_number = 0;
  bool was_down[NUMBER_OF_KEY_CODES] = {};
  typed_key ring[INPUT_TYPED_KEY_RING] = {};
  int16_t ring_first = 0, ring_count = 0;
  typed_key last = {-1, -1};  // the key delivered last, while it stays held
  int32_t hold_count = 0;
  bool caps_lock = false;
};
sampler_state sampler;

bool table_key_is_down(void*, int16_t code) { return keyboard_key_is_down(code); }
bool table_button_is_down(void*, int16_t button) { return keyboard_mouse_button_is_down(button); }
void table_cursor(void*, int16_t* x, int16_t* y) { keyboard_get_cursor(x, y); }
constexpr input_key_source key_table_source = {nullptr, table_key_is_down, table_button_is_down, table_cursor};

int64_t steady_now(void*) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
constexpr input_clock steady_clock_source = {nullptr, steady_now, nullptr};

bool binding_is_down(const key_binding& binding, void* context) {
  const auto* source = static_cast<const input_key_source*>(context);
  switch (binding.device) {
    case _binding_key: return source->key_is_down(source->context, binding.key_code);
    case _binding_mouse_button: return source->mouse_button_is_down(source->context, binding.key_code);
    default: return false;
  }
}

void forget_typed_keys(const input_key_source& source) {
  sampler.ring_first = sampler.ring_count = 0;
  sampler.last = {-1, -1};
  sampler.hold_count = 0;
  // Keys held now went down before; they are not typed again.
  for (int16_t code = 0; code < NUMBER_OF_KEY_CODES; ++code) sampler.was_down[code] = source.key_is_down(source.context, code);
}

// Every key that went down since the last sample joins the ring; one key leaves it per sample.
// With the ring empty, the last key repeats while held: after 10 samples, then every 3.
typed_key next_typed_key(const input_key_source& source) {
  const bool shift = source.key_is_down(source.context, _key_shift);
  for (int16_t code = 0; code < NUMBER_OF_KEY_CODES; ++code) {
    const bool down = source.key_is_down(source.context, code);
    if (down && !sampler.was_down[code]) {
      if (code == _key_caps_lock) sampler.caps_lock = !sampler.caps_lock;
      if (sampler.ring_count < INPUT_TYPED_KEY_RING) {
        sampler.ring[(sampler.ring_first + sampler.ring_count) % INPUT_TYPED_KEY_RING] = {
            code, keyboard_character(code, shift, sampler.caps_lock)};
        ++sampler.ring_count;
      }
    }
    sampler.was_down[code] = down;
  }
  if (sampler.ring_count > 0) {
    const typed_key key = sampler.ring[sampler.ring_first];
    sampler.ring_first = int16_t((sampler.ring_first + 1) % INPUT_TYPED_KEY_RING);
    --sampler.ring_count;
    sampler.last = key;
    sampler.hold_count = 0;
    return key;
  }
  if (sampler.last.code < 0 || !keyboard_key_repeats(sampler.last.code) ||
      !source.key_is_down(source.context, sampler.last.code)) {
    sampler.last = {-1, -1};
    return {-1, -1};
  }
  ++sampler.hold_count;
  if (sampler.hold_count > INPUT_REPEAT_DELAY && (sampler.hold_count - INPUT_REPEAT_DELAY) % INPUT_REPEAT_INTERVAL == 0)
    return sampler.last;
  return {-1, -1};
}

// The writer's side of the ring: a slot is filled before the index that hands it over is
// published, and a slot is reused only after the reader has published that it took it.
void enqueue(const input_tick& tick) {
  const uint16_t write = queue.write_index.load(std::memory_order_relaxed);
  const uint16_t read = queue.read_index.load(std::memory_order_acquire);
  if (((write - read) & (INPUT_QUEUE_SLOTS - 1)) >= INPUT_QUEUE_LIMIT) {
    dropped_ticks.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  queue.ticks[write] = tick;
  queue.write_index.store(uint16_t((write + 1) & (INPUT_QUEUE_SLOTS - 1)), std::memory_order_release);
}

bool sample(const input_key_source& source) {
  if (typed_keys_forget.exchange(false, std::memory_order_acquire)) forget_typed_keys(source);
  const int32_t tick_number = sampler.tick_number++;
  if (!sampling_enabled.load(std::memory_order_relaxed)) return false;
  input_tick tick{};
  tick.time_stamp = tick_number;
  int16_t x = 0, y = 0;
  source.cursor(source.context, &x, &y);
  tick.mouse_x = int16_t(x + INPUT_CURSOR_OFFSET);
  tick.mouse_y = int16_t(y + INPUT_CURSOR_OFFSET);
  keyboard_configuration_actions(*sampler.bindings, binding_is_down, const_cast<input_key_source*>(&source),
                                 tick.action_bits);
  const typed_key typed = next_typed_key(source);
  tick.typed_key = typed.code;
  tick.typed_character = typed.code < 0 ? -1 : typed.character;
  enqueue(tick);
  return true;
}

// ---- the thread ----

class sampler_thread {
 public:
  ~sampler_thread() { stop(); }

  bool start(const input_clock& clock, const input_key_source& source) {
    stop();
    clock_ = clock;
    source_ = source;
    stopping_.store(false);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = false;
    }
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  // Sets the stop flag, waits for the thread to end (at most 3000 ms) and joins it.
  void stop() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) return;  // a crash on the sampler itself
    bool ended;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      stopping_.store(true);
      wake_.notify_all();
      ended = wake_.wait_for(lock, std::chrono::milliseconds(INPUT_STOP_WAIT_MILLISECONDS), [this] { return ended_; });
    }
    if (ended) {
      thread_.join();
    } else {
      // Only an injected clock or key source that never returns gets here.
      POST_ERROR(error_unknown, "the input thread did not stop within %d ms.", int(INPUT_STOP_WAIT_MILLISECONDS));
      thread_.detach();
    }
  }

  bool running() const { return thread_.joinable(); }

 private:
  void run() {
    const int64_t start = clock_.now_milliseconds(clock_.context);
    int64_t calls = 0;
    while (!stopping_.load()) {
      const int32_t due = input_ticks_due(clock_.now_milliseconds(clock_.context) - start, &calls);
      for (int32_t i = 0; i < due && !stopping_.load(); ++i) {
        ++calls;
        sample(source_);
      }
      if (clock_.sleep_milliseconds) {
        clock_.sleep_milliseconds(clock_.context, INPUT_PERIOD_MILLISECONDS);
      } else {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(INPUT_PERIOD_MILLISECONDS), [this] { return stopping_.load(); });
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    wake_.notify_all();
  }

  input_clock clock_{};
  input_key_source source_{};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ended_ = false;
  std::thread thread_;
};
// Declared after the queue and the sampler state, so it is destroyed (stopped and joined) first
// when the process ends by returning from main or through exit().
sampler_thread thread;
bool exit_procedure_registered = false;

void reset_queue() {
  queue.read_index.store(0, std::memory_order_relaxed);
  queue.write_index.store(0, std::memory_order_relaxed);
  std::memset(queue.ticks, 0, sizeof(queue.ticks));
}

}  // namespace

int32_t input_ticks_due(int64_t elapsed_milliseconds, int64_t* calls) {
  int64_t due = elapsed_milliseconds * INPUT_TICKS_PER_SECOND / 1000;
  if (due < 1) due = 1;
  // After a stall only the last 30 ticks are made up; the ones before are given up.
  if (due - *calls > INPUT_CATCH_UP_LIMIT) *calls = due - INPUT_CATCH_UP_LIMIT;
  return due > *calls ? int32_t(due - *calls) : 0;
}

bool input_initialize() {
  if (!exit_procedure_registered) {
    register_exit_procedure(SOURCE_MODULE_NAME, __LINE__, input_shutdown);
    exit_procedure_registered = true;
  }
  return input_start(nullptr, nullptr);
}

bool input_start(const input_clock* clock, const input_key_source* source) {
  thread.stop();
  reset_queue();
  sampler = sampler_state{};
  sampler.bindings = keyboard_configuration_current();
  last_drained = input_tick{};
  dropped_ticks.store(0);
  typed_keys_forget.store(false);
  sampling_enabled.store(true);
  if (!thread.start(clock ? *clock : steady_clock_source, source ? *source : key_table_source)) {
    POST_ERROR(error_unknown, "couldn't start the input thread.");
    return false;
  }
  return true;
}

void input_shutdown() { thread.stop(); }
bool input_is_running() { return thread.running(); }

void input_flush() {
  queue.read_index.store(queue.write_index.load(std::memory_order_acquire), std::memory_order_release);
}

void input_enable(bool enabled) {
  sampling_enabled.store(enabled, std::memory_order_relaxed);
  typed_keys_forget.store(true, std::memory_order_release);
}

bool input_is_enabled() { return sampling_enabled.load(std::memory_order_relaxed); }

int32_t input_queue_count() {
  const uint16_t write = queue.write_index.load(std::memory_order_acquire);
  const uint16_t read = queue.read_index.load(std::memory_order_relaxed);
  return (write - read) & (INPUT_QUEUE_SLOTS - 1);
}

int64_t input_dropped_tick_count() { return dropped_ticks.load(std::memory_order_relaxed); }

bool input_dequeue(input_tick* tick) {
  const uint16_t read = queue.read_index.load(std::memory_order_relaxed);
  if (queue.write_index.load(std::memory_order_acquire) == read) return false;
  *tick = queue.ticks[read];
  queue.read_index.store(uint16_t((read + 1) & (INPUT_QUEUE_SLOTS - 1)), std::memory_order_release);
  return true;
}

int32_t input_drain(bool application_active) {
  // Only what waits now: ticks queued while draining wait for the next pass.
  const int32_t count = input_queue_count();
  for (int32_t i = 0; i < count; ++i) {
    input_tick tick;
    if (!input_dequeue(&tick)) return i;
    if (i == 0) tick.action_bits[0] |= uint32_t(1) << _action_first_of_batch;
    last_drained = tick;
    if (application_active) observer_update_from_actions(tick.action_bits);
  }
  return count;
}

const input_tick& input_last_drained_tick() { return last_drained; }

bool input_sample(const input_key_source* source) {
  if (!sampler.bindings) sampler.bindings = keyboard_configuration_current();
  return sample(source ? *source : key_table_source);
}
