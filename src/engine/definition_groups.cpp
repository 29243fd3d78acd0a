#include "engine/definition_groups.h"

#include <cstring>
#include <iterator>

namespace {

using namespace byte_swap_letters;

constexpr tag kSound = make_tag("soun");
constexpr tag kCollection = make_tag(".256");
constexpr tag kCollectionReference = make_tag("core");
constexpr tag kGeometry = make_tag("geom");
constexpr tag kMonster = make_tag("mons");
constexpr tag kProjectile = make_tag("proj");

// Stored layouts of the least records (see the header) and of the groups whose fields another
// module owns but whose layout is fixed.
constexpr int16_t kFlagsTagIndexCodes54[] = {B, 1, L, L, 2, 54, E};
constexpr int16_t kAmbientSoundCodes[] = {B, 1, L, L, 2, S, S, 50, E};
constexpr int16_t kFlagsTagIndexCodes158[] = {B, 1, L, L, 2, 158, E};
constexpr int16_t kFlagsTagIndexCodes246[] = {B, 1, L, L, 2, 246, E};
constexpr int16_t kFlagsTagIndexCodes118[] = {B, 1, L, L, 2, 118, E};
constexpr int16_t kFlagsTagIndexCodes26[] = {B, 1, L, L, 2, 26, E};
constexpr int16_t kFlagsTagIndexCodes502[] = {B, 1, L, L, 2, 502, E};
constexpr int16_t kFlagsOnlyCodes[] = {B, 1, L, 60, E};
constexpr int16_t kConnectorCodes[] = {B, 1, L, L, S, S, S, S, 16, E};
constexpr int16_t kGeometryCodes[] = {B, 1, L, L, B, 6, L, E, 2, 94, E};
constexpr int16_t kMediaCodes[] = {B, 1, L, L, S, S, S, S, 2, 238, E};
constexpr int16_t kMeshLightingCodes[] = {B, 1, B, 7, L, E, S, S, L, 28, E};
constexpr int16_t kModelCodes[] = {B, 1, L, L, S, S, S, S, 2, S, 44, E};
constexpr int16_t kModelAnimationCodes[] = {B,  1,  L, S, S, B,  MAXIMUM_MODEL_ANIMATION_FRAMES, L, E, 64, 748,
                                            S, S, S, S, S, S, 52, L, L, 4, E};
constexpr int16_t kMonsterCodes[] = {B, 1, L, L, 2, S, 1012, E};
constexpr int16_t kObserverPhysicsCodes[] = {B, 1, B, 42, L, E, 88, E};
constexpr int16_t kSceneryCodes[] = {B, 1, L, L, 2, S, 116, E};
constexpr int16_t kWindCodes[] = {B, 1, L, L, L, 116, E};

const byte_swap_description kAmbientSoundDescription = byte_swap_describe("ambient sound", 64, kAmbientSoundCodes);
const byte_swap_description kArtifactDescription = byte_swap_describe("artifact", 168, kFlagsTagIndexCodes158);
const byte_swap_description kConnectorDescription = byte_swap_describe("connector definition", 32, kConnectorCodes);
const byte_swap_description kFontDescription = byte_swap_describe("font", 64, kFlagsOnlyCodes);
const byte_swap_description kGeometryDescription = byte_swap_describe("geometry", 128, kGeometryCodes);
const byte_swap_description kInterfaceDescription = byte_swap_describe("interface", 256, kFlagsTagIndexCodes246);
const byte_swap_description kLightningDescription = byte_swap_describe("lightning systems", 64, kFlagsTagIndexCodes54);
const byte_swap_description kLocalPhysicsDescription = byte_swap_describe("local physics", 64, kFlagsOnlyCodes);
const byte_swap_description kLocalProjectileGroupDescription = byte_swap_describe(
    "local proj group", 128, kFlagsTagIndexCodes118);
const byte_swap_description kMediaDescription = byte_swap_describe("media", 256, kMediaCodes);
const byte_swap_description kMeshLightingDescription = byte_swap_describe("mesh lighting", 64, kMeshLightingCodes);
const byte_swap_description kMeshEffectDescription = byte_swap_describe("mesh_effect", 36, kFlagsTagIndexCodes26);
const byte_swap_description kModelDescription = byte_swap_describe("model", 64, kModelCodes);
const byte_swap_description kModelAnimationDescription = byte_swap_describe(
    "model animation", 1024, kModelAnimationCodes);
const byte_swap_description kMonsterDescription = byte_swap_describe("monster", 1024, kMonsterCodes);
const byte_swap_description kObjectDescription = byte_swap_describe("object", 64, kFlagsOnlyCodes);
const byte_swap_description kObserverPhysicsDescription = byte_swap_describe(
    "observer physics constants", 256, kObserverPhysicsCodes);
const byte_swap_description kProjectileDescription = byte_swap_describe("projectile", 256, kFlagsTagIndexCodes246);
const byte_swap_description kProjectileGroupDescription = byte_swap_describe(
    "projectile group", 512, kFlagsTagIndexCodes502);
const byte_swap_description kSceneryDescription = byte_swap_describe("scenery", 128, kSceneryCodes);
const byte_swap_description kSoundDescription = byte_swap_describe("sound", 64, kFlagsOnlyCodes);
const byte_swap_description kUnitDescription = byte_swap_describe("unit", 128, kFlagsTagIndexCodes118);
const byte_swap_description kWindDescription = byte_swap_describe("wind", 128, kWindCodes);

// One named tag (or a run of them) and the int16 slot(s) that receive the loaded indices.
struct named_tag_field {
  definition_group* group;
  uint16_t tag_offset;
  uint16_t index_offset;
  tag group_tag;
  uint16_t count;               // consecutive tags and indices
  int16_t count_field_offset;   // -1, or an int16 of the record that bounds the count
};

void write_index(uint8_t* record, size_t offset, int16_t index) { std::memcpy(record + offset, &index, sizeof(index)); }

bool postprocess_named_tags(definition_group* group, int16_t, int32_t, void* record) {
  return definition_load_named_tags(group, record);
}

}  // namespace

// The shared procedures go with the least layouts, as the group table lists them: R references,
// P postprocess. Font, local physics and sound have a postprocess in the game that the editor does
// not need. The owners of mesh, collections, collection references, connector definitions, mesh
// lighting, model animations and the observer install their own where they have them.
#define R definition_enumerate_named_tags
#define P postprocess_named_tags

constinit definition_group ambient_sound_definitions =
    definition_group_declare("ambient sound", make_tag("amso"), 1, 64, 64, &kAmbientSoundDescription, nullptr, P);
constinit definition_group artifact_definitions =
    definition_group_declare("artifact", make_tag("arti"), 1, 128, 168, &kArtifactDescription, nullptr, P);
constinit definition_group collection_definitions = definition_group_declare("collection", kCollection, 4, 256, 320);
constinit definition_group collection_reference_definitions =
    definition_group_declare("collection reference", kCollectionReference, 1, 320, 384);
constinit definition_group connector_definitions =
    definition_group_declare("connector definitions", make_tag("conn"), 1, 4, 32, &kConnectorDescription);
constinit definition_group font_definitions = definition_group_declare("font", make_tag("font"), 1, 16, 64, &kFontDescription);
// Converting older geometry and model layouts is not known here: such tags are refused as too old.
constinit definition_group geometry_definitions =
    definition_group_declare("geometry", kGeometry, 1, 128, 128, &kGeometryDescription, R, P);
constinit definition_group interface_definitions =
    definition_group_declare("interface", make_tag("inte"), 1, 1, 256, &kInterfaceDescription, R, P);
constinit definition_group lightning_definitions =
    definition_group_declare("lightning systems", make_tag("ligh"), 1, 16, 64, &kLightningDescription, R, P);
constinit definition_group local_physics_definitions =
    definition_group_declare("local physics", make_tag("phys"), 1, 128, 64, &kLocalPhysicsDescription);
constinit definition_group local_projectile_group_definitions = definition_group_declare(
    "local proj group", make_tag("lpgr"), 1, 128, 128, &kLocalProjectileGroupDescription, R, P);
constinit definition_group media_definitions =
    definition_group_declare("media", make_tag("medi"), 1, 2, 256, &kMediaDescription, nullptr, P);
constinit definition_group mesh_definitions = definition_group_declare("mesh", make_tag("mesh"), 11, 1, 1024);
constinit definition_group mesh_lighting_definitions =
    definition_group_declare("mesh lighting", make_tag("meli"), 1, 1, 64, &kMeshLightingDescription);
constinit definition_group mesh_effect_definitions =
    definition_group_declare("mesh_effect", make_tag("meef"), 1, 32, 36, &kMeshEffectDescription, R, P);
constinit definition_group model_definitions =
    definition_group_declare("model", make_tag("mode"), 4, 512, 64, &kModelDescription, nullptr, P);
constinit definition_group model_animation_definitions =
    definition_group_declare("model animation", make_tag("anim"), 1, 8, 1024, &kModelAnimationDescription, R, P);
constinit definition_group monster_definitions =
    definition_group_declare("monster", kMonster, 1, 96, 1024, &kMonsterDescription, R, P);
constinit definition_group object_definitions =
    definition_group_declare("object", make_tag("obje"), 1, 256, 64, &kObjectDescription);
constinit definition_group observer_physics_definitions = definition_group_declare(
    "observer physics constants", make_tag("obpc"), 1, 1, 256, &kObserverPhysicsDescription);
constinit definition_group projectile_definitions =
    definition_group_declare("projectile", kProjectile, 1, 1024, 256, &kProjectileDescription, R, P);
constinit definition_group projectile_group_definitions =
    definition_group_declare("projectile group", make_tag("prgr"), 1, 768, 512, &kProjectileGroupDescription, R, P);
constinit definition_group scenery_definitions =
    definition_group_declare("scenery", make_tag("scen"), 2, 96, 128, &kSceneryDescription, R, P);
constinit definition_group sound_definitions = definition_group_declare("sound", kSound, 1, 270, 64, &kSoundDescription);
constinit definition_group string_definitions =
    definition_group_declare("string", make_tag("text"), 1, 1024, 8, nullptr, nullptr, nullptr, true);
constinit definition_group string_list_definitions =
    definition_group_declare("string list", make_tag("stli"), 1, 1024, 16, nullptr, nullptr, nullptr, true);
constinit definition_group unit_definitions =
    definition_group_declare("unit", make_tag("unit"), 1, 512, 128, &kUnitDescription, R, P);
constinit definition_group wind_definitions =
    definition_group_declare("wind", make_tag("wind"), 1, 1, 128, &kWindDescription);

#undef R
#undef P

namespace {

definition_group* const kGroups[NUMBER_OF_DEFINITION_GROUPS] = {
    &ambient_sound_definitions,   &artifact_definitions,
    &collection_definitions,      &collection_reference_definitions,
    &connector_definitions,       &font_definitions,
    &geometry_definitions,        &interface_definitions,
    &lightning_definitions,       &local_physics_definitions,
    &local_projectile_group_definitions, &media_definitions,
    &mesh_definitions,            &mesh_lighting_definitions,
    &mesh_effect_definitions,     &model_definitions,
    &model_animation_definitions, &monster_definitions,
    &object_definitions,          &observer_physics_definitions,
    &projectile_definitions,      &projectile_group_definitions,
    &scenery_definitions,         &sound_definitions,
    &string_definitions,          &string_list_definitions,
    &unit_definitions,            &wind_definitions,
};

const named_tag_field kNamedTags[] = {
    {&ambient_sound_definitions, 4, 8, kSound, 1, -1},
    {&artifact_definitions, 4, 8, kCollectionReference, 1, -1},
    {&geometry_definitions, 4, 32, kCollectionReference, 1, -1},
    {&interface_definitions, 4, 8, kCollection, 1, -1},
    {&lightning_definitions, 4, 8, kCollectionReference, 1, -1},
    {&local_projectile_group_definitions, 4, 8, kCollectionReference, 1, -1},
    {&media_definitions, 4, 16, kCollection, 1, -1},
    {&mesh_effect_definitions, 4, 8, kCollectionReference, 1, -1},
    {&model_definitions, 4, 16, kGeometry, 1, -1},
    {&model_animation_definitions, offsetof(model_animation_definition, frame_geometry_tags),
     offsetof(model_animation_definition, frame_geometry_indexes), kGeometry, MAXIMUM_MODEL_ANIMATION_FRAMES,
     offsetof(model_animation_definition, frame_count)},
    {&monster_definitions, 4, 8, kCollectionReference, 1, -1},
    {&projectile_definitions, 4, 8, kCollectionReference, 1, -1},
    {&projectile_group_definitions, 4, 8, kProjectile, 1, -1},
    {&scenery_definitions, 4, 8, kCollectionReference, 1, -1},
    {&unit_definitions, 4, 8, kMonster, 1, -1},
};

// How many of a field's tags the record uses.
int32_t used_count(const named_tag_field& field, const uint8_t* record) {
  if (field.count_field_offset < 0) return field.count;
  int16_t count;
  std::memcpy(&count, record + field.count_field_offset, sizeof(count));
  return count < 0 ? 0 : (count > field.count ? field.count : count);
}

tag tag_at(const named_tag_field& field, const uint8_t* record, int32_t k) {
  tag identifier;
  std::memcpy(&identifier, record + field.tag_offset + 4 * k, sizeof(identifier));
  return identifier;
}

}  // namespace

definition_group* definition_group_get(int32_t index) {
  return index >= 0 && index < NUMBER_OF_DEFINITION_GROUPS ? kGroups[index] : nullptr;
}

definition_group* definition_group_find(tag group_tag) {
  for (definition_group* group : kGroups) {
    if (group->group_tag == group_tag) return group;
  }
  return nullptr;
}

bool definition_groups_initialize() {
  bool initialized = true;
  for (definition_group* group : kGroups) initialized = definitions_initialize(group) && initialized;
  return initialized;
}

void definition_groups_validate() {
  for (definition_group* group : kGroups) definitions_validate(group);
}

void definition_groups_invalidate() {
  for (definition_group* group : kGroups) definitions_invalidate(group);
}

void definition_groups_dispose() {
  for (definition_group* group : kGroups) definitions_dispose(group);
}

bool definition_load_named_tags(definition_group* group, void* record) {
  auto* bytes = static_cast<uint8_t*>(record);
  bool loaded = true;
  for (const named_tag_field& field : kNamedTags) {
    if (field.group != group) continue;
    const int32_t count = used_count(field, bytes);
    for (int32_t k = 0; k < field.count; ++k) {
      const tag identifier = k < count ? tag_at(field, bytes, k) : NONE_TAG;
      int16_t index = -1;
      if (identifier != NONE_TAG) {
        definition_group* named_group = definition_group_find(field.group_tag);
        index = named_group ? definition_load(named_group, identifier) : -1;
        if (index < 0) loaded = false;
      }
      write_index(bytes, field.index_offset + 2 * static_cast<size_t>(k), index);
    }
  }
  return loaded;
}

void definition_enumerate_named_tags(definition_group* group, int16_t, void* record,
                                     definition_reference_visitor visitor, void* context) {
  auto* bytes = static_cast<uint8_t*>(record);
  for (const named_tag_field& field : kNamedTags) {
    if (field.group != group) continue;
    const int32_t count = used_count(field, bytes);
    for (int32_t k = 0; k < count; ++k) {
      const tag identifier = tag_at(field, bytes, k);
      if (identifier == NONE_TAG) continue;
      visitor(field.group_tag, identifier,
              reinterpret_cast<int16_t*>(bytes + field.index_offset + 2 * static_cast<size_t>(k)), 0, context);
    }
  }
}
