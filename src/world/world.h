// The engine world of the open map: the game description it was started with (the players), its
// clock, and the per-level state of objects, models, placeholders and teams. The editor runs the
// world only so the visual view shows the map as the game would; nothing here simulates.
#pragma once

#include <cstdint>

#include "render/colors.h"

enum {
  MAXIMUM_PLAYERS_PER_GAME = 8,
  MAXIMUM_PLAYER_NAME_LENGTH = 31,
  TICKS_PER_SECOND = 30,
};

struct player_description {
  char name[MAXIMUM_PLAYER_NAME_LENGTH + 1];
  rgb_color colors[2];  // primary and secondary
};

struct game_description {
  int16_t player_count;  // 1..MAXIMUM_PLAYERS_PER_GAME
  player_description players[MAXIMUM_PLAYERS_PER_GAME];
};

// The editor's world: "player 1" in pure red and pure green, "player 2" in pure blue and cyan.
game_description world_editor_game_description();

// Allocates the world's arrays once (engine initialisation); allocation failures are fatal.
bool world_initialize();
// Starts the world for a newly opened map: empties the per-level arrays and keeps the game
// description. False for a description without players (nothing is started).
bool world_start(const game_description& description);
// Forgets every object, model, placeholder and team (level disposal); harmless when not running.
void world_dispose();
bool world_is_running();
// The description the world was started with, none when not running.
const game_description* world_get_game_description();

// The world's clock, in ticks since the world started.
void world_advance(int32_t ticks);
int32_t world_time();
