#include "world/teams.h"

namespace {
int32_t current_team_count = 0;
}

int32_t teams_build_from_palette(const marker_palette_entry* entries, int32_t count) {
  current_team_count = palette_team_count(entries, count);
  return current_team_count;
}

int32_t team_count() { return current_team_count; }

void teams_dispose_level() { current_team_count = 0; }
