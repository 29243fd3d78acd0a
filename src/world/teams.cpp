#include "world/teams.h"

namespace {
int32_t current_team_count = 0;
}

int32_t teams_build_from_palette(const marker_palette_entry* entries, int32_t count) {
  int32_t highest = NONE;
  for (int32_t i = 0; entries && i < count; ++i) {
    if (entries[i].type == _marker_unit && entries[i].team > highest) highest = entries[i].team;
  }
  current_team_count = highest + 1;
  return current_team_count;
}

int32_t team_count() { return current_team_count; }

void teams_dispose_level() { current_team_count = 0; }
