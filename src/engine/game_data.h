// The engine-wide game data record, allocated once by engine initialisation.
#pragma once

#include <cstdint>

// The engine-wide game data (84 bytes, zero-filled); only the state is interpreted.
enum game_state : int16_t {
  _game_state_none = -1,    // set by engine initialisation
  _game_state_running = 2,  // an open map runs
  _game_state_quitting = 5, // set by the Exit command
};

struct game_data {
  int16_t state;  // game_state
  uint8_t reserved[82];
};
static_assert(sizeof(game_data) == 84);

// None before engine initialisation.
game_data* game_data_get();

// Allocates the record on first use and sets the state to none; false when it can't be allocated.
bool game_data_initialize();
