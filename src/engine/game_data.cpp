#include "engine/game_data.h"

#include "cseries/error_manager.h"
#include "cseries/text.h"

namespace {
game_data* the_game_data = nullptr;
}  // namespace

game_data* game_data_get() { return the_game_data; }

bool game_data_initialize() {
  if (!the_game_data) {
    the_game_data = static_cast<game_data*>(resize_block(nullptr, sizeof(game_data)));
    if (!the_game_data) {
      POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for game_data.", int(sizeof(game_data)));
      return false;
    }
  }
  the_game_data->state = _game_state_none;
  return true;
}
