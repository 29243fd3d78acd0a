// The 28 definition groups. Each declaration gives the group's name, tag, version, capacity and
// record size; the owning module installs its procedures (and, for `mesh`, its byte-swap
// description) when it initialises.
//
// Most groups belong to the game simulation, which the editor does not run. For those, the record
// layout below is the least the editor (and our demo game data, which writes the same layouts)
// needs: a header of the group's record size with the fields the editor reads, the rest reserved.
// Tag references are 32-bit identifiers (NONE = none); each is followed somewhere in the record by
// an int16 run-time slot that receives the loaded definition's index (-1 = not loaded; stored
// value ignored). Those groups' references and postprocess procedures are the shared ones here:
// load every named definition and record its index.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/definitions.h"
#include "cseries/value_types.h"

// ---- the groups, in table order ----

// "ambient sound" `amso` 1, 64 x 64 bytes: a sound source placed by Sound Source markers. It is
// heard at full volume within the inner radius and fades out toward the outer one (world units).
struct ambient_sound_definition {
  uint32_t flags;
  tag sound_tag;  // `soun`
  int16_t sound_index;
  int16_t inner_radius;
  int16_t outer_radius;
  uint8_t reserved[50];
};
static_assert(sizeof(ambient_sound_definition) == 64);
static_assert(offsetof(ambient_sound_definition, inner_radius) == 10);
extern definition_group ambient_sound_definitions;

// "artifact" `arti` 1, 128 x 168 bytes.
struct artifact_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`: its look
  int16_t collection_reference_index;
  uint8_t reserved[158];
};
static_assert(sizeof(artifact_definition) == 168);
extern definition_group artifact_definitions;

// "collection" `.256` 4, 256 x 320 bytes: collection_header, render/shapes.h.
extern definition_group collection_definitions;
// "collection reference" `core` 1, 320 x 384 bytes: collection_reference_definition,
// render/collection_references.h.
extern definition_group collection_reference_definitions;

// "connector definitions" `conn` 1, 4 x 32 bytes: two 32-bit fields, four 16-bit values, 16 raw
// bytes (the connectors module owns the fields and the procedures).
extern definition_group connector_definitions;

// "font" `font` 1, 16 x 64 bytes: the editor draws no game text.
struct font_definition {
  uint32_t flags;
  uint8_t reserved[60];
};
static_assert(sizeof(font_definition) == 64);
extern definition_group font_definitions;

// "geometry" `geom` 1, 128 x 128 bytes: the solid shape of a model, one box in model space
// (world units, x forward, y left, z up), which the shadow computations intersect.
struct geometry_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`: its surface look
  int32_t minimum_x, minimum_y, minimum_z;
  int32_t maximum_x, maximum_y, maximum_z;
  int16_t collection_reference_index;
  uint8_t reserved[94];
};
static_assert(sizeof(geometry_definition) == 128);
static_assert(offsetof(geometry_definition, minimum_x) == 8);
extern definition_group geometry_definitions;

// "interface" `inte` 1, 1 x 256 bytes.
struct interface_definition {
  uint32_t flags;
  tag collection_tag;  // `.256`: the interface art
  int16_t collection_index;
  uint8_t reserved[246];
};
static_assert(sizeof(interface_definition) == 256);
extern definition_group interface_definitions;

// "lightning systems" `ligh` 1, 16 x 64 bytes.
struct lightning_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`
  int16_t collection_reference_index;
  uint8_t reserved[54];
};
static_assert(sizeof(lightning_definition) == 64);
extern definition_group lightning_definitions;

// "local physics" `phys` 1, 128 x 64 bytes.
struct local_physics_definition {
  uint32_t flags;
  uint8_t reserved[60];
};
static_assert(sizeof(local_physics_definition) == 64);
extern definition_group local_physics_definitions;

// "local proj group" `lpgr` 1, 128 x 128 bytes: placed by local projectile group markers.
struct local_projectile_group_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`
  int16_t collection_reference_index;
  uint8_t reserved[118];
};
static_assert(sizeof(local_projectile_group_definition) == 128);
extern definition_group local_projectile_group_definitions;

// "media" `medi` 1, 2 x 256 bytes: a map's water.
struct media_definition {
  uint32_t flags;
  tag collection_tag;   // `.256`: the surface texture (NONE: flat colour)
  rgb_color color;      // surface colour
  int16_t collection_index;
  uint8_t reserved[238];
};
static_assert(sizeof(media_definition) == 256);
static_assert(offsetof(media_definition, color) == 8);
extern definition_group media_definitions;

// "mesh" `mesh` 11, 1 x 1024 bytes: the mesh header (the mesh module owns its layout, byte-swap
// description and procedures).
extern definition_group mesh_definitions;

// "mesh lighting" `meli` 1, 1 x 64 bytes: seven int32 (light x, y, z, ambient, intensity, shadow
// value, maximum), two int16 (ray steps, blur radius), a float (blur sigma), 28 raw bytes; the
// shadow editor owns the fields.
extern definition_group mesh_lighting_definitions;

// "mesh_effect" `meef` 1, 32 x 36 bytes.
struct mesh_effect_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`
  int16_t collection_reference_index;
  uint8_t reserved[26];
};
static_assert(sizeof(mesh_effect_definition) == 36);
extern definition_group mesh_effect_definitions;

// "model" `mode` 4, 512 x 64 bytes: a building or other fixed structure.
enum : uint32_t { MODEL_TURNS_BY_QUARTERS = 1 };
struct model_definition {
  uint32_t flags;         // MODEL_TURNS_BY_QUARTERS
  tag geometry_tag;       // `geom`
  // The cells it stands on, in model space (world units); empty when left >= right or
  // top >= bottom.
  int16_t footprint_left, footprint_top, footprint_right, footprint_bottom;
  int16_t geometry_index;
  int16_t variant_count;  // the variants a model can show; 0 or less counts as one
  uint8_t reserved[44];
};
static_assert(sizeof(model_definition) == 64);
static_assert(offsetof(model_definition, variant_count) == 18);
static_assert(offsetof(model_definition, geometry_index) == 16);
extern definition_group model_definitions;

// "model animation" `anim` 1, 8 x 1024 bytes: an animated model, one geometry per frame. The
// shadow fields (948.., 1012..) belong to the model animation shadows.
enum { MAXIMUM_MODEL_ANIMATION_FRAMES = 32 };
struct model_animation_definition {
  uint32_t flags;
  int16_t frame_count;  // 0..MAXIMUM_MODEL_ANIMATION_FRAMES
  int16_t ticks_per_frame;
  tag frame_geometry_tags[MAXIMUM_MODEL_ANIMATION_FRAMES];  // `geom`
  int16_t frame_geometry_indexes[MAXIMUM_MODEL_ANIMATION_FRAMES];
  uint8_t reserved1[748];
  int16_t shadow_width;
  int16_t shadow_height;
  int16_t shadow_stride;
  int16_t shadow_reserved;
  int16_t shadow_origin_x;
  int16_t shadow_origin_y;
  uint8_t reserved2[52];
  int32_t shadow_data_offset;
  int32_t shadow_data_size;
  uint32_t shadow_data_pointer;  // run time, kept zero
};
static_assert(sizeof(model_animation_definition) == 1024);
static_assert(offsetof(model_animation_definition, frame_geometry_indexes) == 136);
static_assert(offsetof(model_animation_definition, shadow_width) == 948);
static_assert(offsetof(model_animation_definition, shadow_origin_x) == 956);
static_assert(offsetof(model_animation_definition, shadow_data_offset) == 1012);
extern definition_group model_animation_definitions;

// "monster" `mons` 1, 96 x 1024 bytes: what a unit is; its tag's name is the monster type's name.
struct monster_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`: its sprites
  int16_t collection_reference_index;
  int16_t standing_sequence;  // in the collection
  uint8_t reserved[1012];
};
static_assert(sizeof(monster_definition) == 1024);
extern definition_group monster_definitions;

// "object" `obje` 1, 256 x 64 bytes.
struct object_definition {
  uint32_t flags;
  uint8_t reserved[60];
};
static_assert(sizeof(object_definition) == 64);
extern definition_group object_definitions;

// "observer physics constants" `obpc` 1, 1 x 256 bytes: seven constants records of six int32, 88
// raw bytes; the observer owns the fields.
extern definition_group observer_physics_definitions;

// "projectile" `proj` 1, 1024 x 256 bytes.
struct projectile_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`
  int16_t collection_reference_index;
  uint8_t reserved[246];
};
static_assert(sizeof(projectile_definition) == 256);
extern definition_group projectile_definitions;

// "projectile group" `prgr` 1, 768 x 512 bytes.
struct projectile_group_definition {
  uint32_t flags;
  tag projectile_tag;  // `proj`
  int16_t projectile_index;
  uint8_t reserved[502];
};
static_assert(sizeof(projectile_group_definition) == 512);
extern definition_group projectile_group_definitions;

// "scenery" `scen` 2, 96 x 128 bytes: trees, rocks, posts.
enum : uint32_t { SCENERY_FLAG_8 = 0x08 };  // the overhead view marks such scenery yellow
struct scenery_definition {
  uint32_t flags;
  tag collection_reference_tag;  // `core`
  int16_t collection_reference_index;
  int16_t sequence;  // in the collection
  uint8_t reserved[116];
};
static_assert(sizeof(scenery_definition) == 128);
extern definition_group scenery_definitions;

// "sound" `soun` 1, 270 x 64 bytes: the editor plays no sound.
struct sound_definition {
  uint32_t flags;
  uint8_t reserved[60];
};
static_assert(sizeof(sound_definition) == 64);
extern definition_group sound_definitions;

// "string" `text` 1, 1024 x 8 bytes and "string list" `stli` 1, 1024 x 16 bytes: filled by the
// strings module with definition_add, never read from tags; no description.
extern definition_group string_definitions;
extern definition_group string_list_definitions;

// "unit" `unit` 1, 512 x 128 bytes: a monster placed by Unit markers.
struct unit_definition {
  uint32_t flags;
  tag monster_tag;  // `mons`
  int16_t monster_index;
  uint8_t reserved[118];
};
static_assert(sizeof(unit_definition) == 128);
extern definition_group unit_definitions;

// "wind" `wind` 1, 1 x 128 bytes: applied when a map opens.
struct wind_definition {
  uint32_t flags;
  int32_t velocity_x;  // world units per tick, 16.16
  int32_t velocity_y;
  uint8_t reserved[116];
};
static_assert(sizeof(wind_definition) == 128);
extern definition_group wind_definitions;

enum { NUMBER_OF_DEFINITION_GROUPS = 28 };

// ---- the table ----

// 0..NUMBER_OF_DEFINITION_GROUPS-1 in table order; none outside.
definition_group* definition_group_get(int32_t index);
// The group of a group tag; none when no group loads it.
definition_group* definition_group_find(tag group_tag);

// definitions_initialize / _validate / _invalidate / _dispose on every group.
bool definition_groups_initialize();
void definition_groups_validate();
void definition_groups_invalidate();
void definition_groups_dispose();

// The shared procedures of the least layouts, for owners that add to them: load every tag the
// record names into its index slot (false when any named tag failed to load; the rest still load),
// and enumerate them.
bool definition_load_named_tags(definition_group* group, void* record);
void definition_enumerate_named_tags(definition_group* group, int16_t index, void* record,
                                     definition_reference_visitor visitor, void* context);
