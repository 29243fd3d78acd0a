// Teams: the sides the units of a map belong to. The editor only needs their number, which the
// map's Unit palette entries decide (one more than the highest team among them) and which the
// mesh header records on every save.
#pragma once

#include <cstdint>

#include "map/markers.h"

// Rebuilds the teams from the palette; answers the team count (palette_team_count).
int32_t teams_build_from_palette(const marker_palette_entry* entries, int32_t count);
int32_t team_count();
void teams_dispose_level();
