// The sample maps, made the way an author makes a map in the editor: New Map from a generated
// colour picture, then the displacement, water level, terrain and reflection imports, then the
// header's references, markers of every type (an observer and palette entries for each of the two
// teams), a connector along a fence, and Save. They run in a started editor engine whose working
// folder holds the demo definitions; the maps end as local `mesh` and `.256` tags there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "content/content_terrain.h"
#include "cseries/text.h"

struct content_map_plan {
  const char* name;
  content_terrain_plan terrain;
  tag media;
  tag lighting;
  tag description;      // `stli`: its first string describes the map in map lists
  tag ambient_sound;    // the map's global ambient sound
  bool in_plugin;       // carried by the demo plugin instead of the install archives
  int16_t scenery_count;  // trees, bushes and boulders together
  int16_t units_per_team;
};

// Demo Valley (2 x 2 submeshes), Demo Highlands (8 x 8) and the plugin's Demo Islet (1 x 1).
const std::vector<content_map_plan>& content_map_plans();

// Makes every planned map in the open tag store; the exchange images are written into
// image_folder (a host path). False on the first failure (reported).
bool content_make_maps(const std::string& image_folder);
