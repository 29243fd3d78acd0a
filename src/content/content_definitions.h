// The demo's definition records (every group a map or its markers can name) and its texts: the
// map-action keyword list `in#2`, the action templates (`temp`, the default one `defa` among them)
// and the string lists that describe the maps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cseries/text.h"
#include "tag_files/archive_writer.h"

// Media, lighting, observer constants, wind, connector definitions, sounds, ambient sounds,
// monsters, units, scenery, projectiles, projectile groups, local projectile groups, geometries,
// models, the model animation and the placeholder object.
bool content_build_records(std::vector<archive_writer_tag>* tags);

// The keyword list, the templates and the string lists.
void content_build_strings(std::vector<archive_writer_tag>* tags);

// The keyword list's entries in order: requirement words, expiration keywords, value type names.
const std::vector<std::string>& content_keywords();

// The text of a map's description string list (its first string describes the map in map lists).
const std::vector<std::string>& content_map_description(tag string_list);

// The local layouts of the groups whose fields belong to modules the editor has not got yet; each
// follows the declaration's byte-swap description.
struct content_mesh_lighting {
  int32_t light_x, light_y, light_z;  // the direction the light travels, 16.16 (normalised on load)
  int32_t ambient;                    // 16.16, added to every pixel
  int32_t intensity;                  // 16.16, scales the directional term
  int32_t shadow_value;               // 16.16, in a model's shadow or off the ground
  int32_t maximum;                    // 16.16, upper clamp
  int16_t ray_steps;
  int16_t blur_radius;
  float blur_sigma;
  uint8_t reserved[28];
};
static_assert(sizeof(content_mesh_lighting) == 64);
static_assert(offsetof(content_mesh_lighting, blur_sigma) == 32);

// One motion axis: negative maximum, negative acceleration, deceleration while negative, positive
// maximum, positive acceleration, deceleration while positive (per tick of 1/30 s).
struct content_observer_axis {
  int32_t negative_maximum, negative_acceleration, negative_deceleration;
  int32_t positive_maximum, positive_acceleration, positive_deceleration;
};
// Records: 0 forward, 1 sideways (world units per tick), 2 turn, 3 orbit (angle units per tick),
// 4 vertical, 5 pitch (not used by the keyboard), 6 zoom (zoom units per tick, range +-65535).
struct content_observer_constants {
  content_observer_axis axes[7];
  uint8_t reserved[88];
};
static_assert(sizeof(content_observer_constants) == 256);

// The band drawn between connected scenery: its look (a sequence of a collection reference) and
// its vertical extent above the ground, in world units.
struct content_connector_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`
  int16_t collection_reference_index; // run time
  int16_t sequence;
  int16_t minimum_height;
  int16_t maximum_height;
  uint8_t reserved[16];
};
static_assert(sizeof(content_connector_definition) == 32);
static_assert(offsetof(content_connector_definition, sequence) == 10);
