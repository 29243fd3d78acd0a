// The editor's own polling main loop: it pumps the window system's events, runs idle processing
// with 2 ms sleeps, hands a held mouse button in the visual view to the current tool and, while a
// map is open, steps the engine for the input ticks that have been queued.
#pragma once

#include <cstdint>

struct main_loop_state {
  bool map_was_open = false;  // during the previous pass
};

// One pass. False when the loop has ended: the window positions are saved and the frame closed.
bool main_loop_pass(main_loop_state* state);
// Passes until the loop ends.
void main_loop_run();

// The input ticks waiting in the input queue, taken out of it.
int32_t main_loop_drain_input_queue();
// Writes the windows' current positions to the settings file.
void main_loop_save_window_positions();
