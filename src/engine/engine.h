// Engine initialisation, the game data record and level disposal. Every engine module allocates its
// tables once, here, in a fixed order (the order the game uses), and keeps them for the life of the
// process; the per-level state (definitions, data arrays, the world) is emptied by level disposal.
// Modules of the game simulation that the editor does not need keep their place in the order as
// named steps that do nothing.
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

// The steps of engine initialisation, in order, for reports and tests.
int32_t engine_initialization_step_count();
const char* engine_initialization_step_name(int32_t step);

// Runs engine initialisation: the modules in order, the tag store (opened unrestricted with the
// latest patches), the single-instance lock, then handle_error and level disposal. A second running
// copy is refused with "Tarn II, Umber, or Vellgrim is already running. ..." and halt_program(-1);
// allocation failures end the program with status 8. True when done (a second call does nothing).
bool engine_initialize();
bool engine_is_initialized();

// Disposes the level: every definition group and declared data array is invalidated and the world
// forgotten, so that no map is loaded.
void engine_dispose_level();

// The editor's start-up without its windows: the crash handler, the log ("vellgrim"), the "mesh
// lighting" group, the connector state, engine initialisation, then the foundation-tags check
// ("Could not find all foundation tags. Please do a large install." and halt_program(-1)).
void engine_start_editor();
