// Engine initialisation, the game data record and level disposal. Every engine module allocates its
// tables once, here, in a fixed order (the order the game uses), and keeps them for the life of the
// process; the per-level state (definitions, data arrays, the world) is emptied by level disposal.
// Modules of the game simulation that the editor does not need keep their place in the order as
// named steps that do nothing.
#pragma once

#include <cstdint>

#include "engine/game_data.h"

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
