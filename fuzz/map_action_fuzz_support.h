// What the two map-action fuzz targets share: a temporary store holding the keyword list `in#2`
// and a few templates (as the demo data has them), a one-submesh grid whose map actions are valid,
// and a sample of actions of every value type.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/support/collection_fixtures.cpp"
#include "../tests/support/map_fixtures.cpp"
#include "map/map_actions_edit.h"
#include "map/mesh_edit.h"
#include "tag_files/tag_files.h"

namespace map_action_fuzz {

inline void store_strings(tag group, const char* name, const std::vector<std::string>& strings) {
  if (map_fixture_store_lines(group, name, strings) == NONE) std::abort();
}

inline mesh_definition grid_header{};

// The store, the templates and the grid; aborts when they can't be made.
inline void set_up() {
  tag media = NONE_TAG;
  if (!map_fixture_open_store(&media)) std::abort();
  if (!map_fixture_store_action_keywords()) std::abort();
  store_strings(make_tag("temp"), "defa",
                {"Default", "on_trigger", "optional action_identifier link / Linked Actions / Started too.",
                 "optional string name / Name / The name."});
  store_strings(make_tag("temp"), "move",
                {"Move Units", "on_execution", "required monster_identifier subj / Units / Who moves.",
                 "required world_point2d dest / Destination / Where to.", "optional angle face / Facing / How.",
                 "optional flag fast / false / A heading that reads like a value.", "broken line", "x y z /"});
  store_strings(make_tag("soun"), "river", {"x"});
  if (!mesh_set_grid(&grid_header, 1, 1)) std::abort();
}

// Actions of every value type, with links, in the open model.
inline void make_sample() {
  map_actions_clear();
  const int32_t first = map_action_new(-1);
  const int32_t second = map_action_new(-1);
  map_action_set_name(second, "second [x]");
  map_action_set_record_fields(first, 2, 0x5, make_tag("move"), 30, 15);
  for (int16_t type = 0; type < NUMBER_OF_MAP_ACTION_PARAMETER_TYPES; ++type) {
    const int32_t p = map_action_add_parameter(first, make_tag("prm0") + uint32_t(type), type);
    map_action_append_elements(first, p, type == _parameter_string ? 3 : 2, {});
  }
  const int16_t link = map_action_get(second)->identifier;
  const int32_t p = map_action_add_parameter(second, make_tag("link"), _parameter_action_identifier);
  map_action_set_elements(second, p, 1, std::as_bytes(std::span<const int16_t>(&link, 1)));
}

}  // namespace map_action_fuzz
