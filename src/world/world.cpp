#include "world/world.h"

#include <cstring>

#include "world/marker_objects.h"
#include "world/models.h"
#include "world/objects.h"
#include "world/placeholders.h"
#include "world/teams.h"

namespace {

struct world_state {
  bool running;
  game_description description;
  int32_t time;
};
world_state world = {};

player_description player(const char* name, rgb_color primary, rgb_color secondary) {
  player_description result = {};
  std::strncpy(result.name, name, MAXIMUM_PLAYER_NAME_LENGTH);
  result.colors[0] = primary;
  result.colors[1] = secondary;
  return result;
}

}  // namespace

game_description world_editor_game_description() {
  game_description description = {};
  description.player_count = 2;
  description.players[0] = player("player 1", {0xFFFF, 0, 0, 0}, {0, 0xFFFF, 0, 0});
  description.players[1] = player("player 2", {0, 0, 0xFFFF, 0}, {0, 0xFFFF, 0xFFFF, 0});
  return description;
}

bool world_initialize() {
  if (!objects_initialize() || !models_initialize()) return false;
  marker_objects_register();
  return true;
}

bool world_start(const game_description& description) {
  if (description.player_count < 1 || description.player_count > MAXIMUM_PLAYERS_PER_GAME) return false;
  world_dispose();
  if (!objects_start_level() || !models_start_level()) return false;
  world.description = description;
  world.time = 0;
  world.running = true;
  return true;
}

void world_dispose() {
  objects_dispose_level();
  models_dispose_level();
  placeholders_dispose_level();
  teams_dispose_level();
  world = {};
}

bool world_is_running() { return world.running; }

const game_description* world_get_game_description() { return world.running ? &world.description : nullptr; }

void world_advance(int32_t ticks) {
  if (world.running && ticks > 0) world.time += ticks;
}

int32_t world_time() { return world.time; }
