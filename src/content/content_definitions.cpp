#include "content/content_definitions.h"

#include <cstring>
#include <map>

#include "content/content.h"
#include "content/content_collections.h"
#include "content/content_records.h"
#include "engine/definition_groups.h"

namespace ids = content_ids;

namespace {

// A zeroed record whose run-time index slots read "not loaded".
template <class T>
T zeroed() {
  T record;
  std::memset(&record, 0, sizeof record);
  return record;
}

// Collects the tags; remembers whether every record converted.
class definition_list {
 public:
  explicit definition_list(std::vector<archive_writer_tag>* tags) : tags_(tags) {}
  template <class T>
  void add(const definition_group& group, tag identifier, const char* name, const T& record) {
    static_assert(sizeof(T) <= 1024);
    built_ = content_record_tag(group, identifier, name, &record, tags_) && built_;
  }
  bool built() const { return built_; }

 private:
  std::vector<archive_writer_tag>* tags_;
  bool built_ = true;
};

void add_media(definition_list& list) {
  struct media_entry {
    tag identifier;
    const char* name;
    rgb_color color;
  };
  const media_entry media[] = {{ids::water_media, "water", {0x1E00, 0x4C00, 0x9000, 0}},
                               {ids::bog_media, "bog water", {0x3A00, 0x4600, 0x2400, 0}}};
  for (const media_entry& entry : media) {
    auto record = zeroed<media_definition>();
    record.collection_tag = NONE_TAG;  // a flat surface colour
    record.color = entry.color;
    record.collection_index = NONE;
    list.add(media_definitions, entry.identifier, entry.name, record);
  }
}

void add_lighting(definition_list& list) {
  struct lighting_entry {
    tag identifier;
    const char* name;
    double light[3], ambient, intensity, shadow;
    int16_t ray_steps, blur_radius;
    float blur_sigma;
  };
  // A high sun from the north-west, and a low evening sun from the west with longer shadows.
  const lighting_entry lights[] = {
      {ids::day_lighting, "grassland day", {0.45, 0.35, -0.82}, 0.30, 0.75, 0.25, 48, 2, 1.2f},
      {ids::dusk_lighting, "evening", {0.80, 0.15, -0.45}, 0.18, 0.85, 0.14, 96, 3, 1.6f},
  };
  for (const lighting_entry& entry : lights) {
    auto record = zeroed<content_mesh_lighting>();
    record.light_x = content_fixed(entry.light[0]);
    record.light_y = content_fixed(entry.light[1]);
    record.light_z = content_fixed(entry.light[2]);
    record.ambient = content_fixed(entry.ambient);
    record.intensity = content_fixed(entry.intensity);
    record.shadow_value = content_fixed(entry.shadow);
    record.maximum = 0xFFFF;
    record.ray_steps = entry.ray_steps;
    record.blur_radius = entry.blur_radius;
    record.blur_sigma = entry.blur_sigma;
    list.add(mesh_lighting_definitions, entry.identifier, entry.name, record);
  }
}

// Tuned for 30 ticks a second: the camera pans about nine cells a second, reaches full speed in
// about a third of a second and stops in a fifth; a turn takes about four seconds.
void add_observer_constants(definition_list& list) {
  auto record = zeroed<content_observer_constants>();
  const content_observer_axis axes[7] = {
      {160, 16, 24, 160, 16, 24},        // forward
      {128, 14, 24, 128, 14, 24},        // sideways
      {512, 48, 96, 512, 48, 96},        // turn
      {384, 32, 64, 384, 32, 64},        // orbit
      {64, 8, 16, 64, 8, 16},            // vertical
      {96, 12, 24, 96, 12, 24},          // pitch
      {1200, 120, 240, 1200, 120, 240},  // zoom
  };
  std::memcpy(record.axes, axes, sizeof axes);
  list.add(observer_physics_definitions, ids::observer_constants, "observer constants", record);
}

void add_wind_and_connectors(definition_list& list) {
  auto wind = zeroed<wind_definition>();
  wind.velocity_x = 12 << 16;
  wind.velocity_y = 5 << 16;
  list.add(wind_definitions, ids::breeze, "breeze", wind);

  auto fence = zeroed<content_connector_definition>();
  fence.collection_reference_tag = ids::buildings;
  fence.collection_reference_index = NONE;
  fence.sequence = BUILDING_ROPE;
  fence.minimum_height = 160;
  fence.maximum_height = 224;
  list.add(connector_definitions, ids::rope_fence, "rope fence", fence);
}

void add_sounds(definition_list& list) {
  struct sound_entry {
    tag identifier;
    const char* name;
    int16_t inner_radius, outer_radius;
  };
  const sound_entry sounds[] = {{ids::river_sound, "river", 1024, 4096},
                                {ids::wind_sound, "wind", 2048, 8192},
                                {ids::bird_sound, "birdsong", 768, 3072},
                                {ids::fire_sound, "crackling fire", 256, 1536}};
  for (const sound_entry& entry : sounds) list.add(sound_definitions, entry.identifier, entry.name, zeroed<sound_definition>());
  for (const sound_entry& entry : sounds) {
    auto record = zeroed<ambient_sound_definition>();
    record.sound_tag = entry.identifier;
    record.sound_index = NONE;
    record.inner_radius = entry.inner_radius;
    record.outer_radius = entry.outer_radius;
    list.add(ambient_sound_definitions, entry.identifier, entry.name, record);
  }
}

void add_units(definition_list& list) {
  struct unit_entry {
    tag identifier;
    const char* name;
    tag collection_reference;
    int16_t standing_sequence;
  };
  const unit_entry units[] = {{ids::warrior, "warrior", ids::soldiers, SOLDIER_WARRIOR_STANDING},
                              {ids::archer, "archer", ids::soldiers, SOLDIER_ARCHER_STANDING},
                              {ids::wolf, "wolf", ids::creatures, CREATURE_WOLF_STANDING},
                              {ids::bear, "bear", ids::creatures, CREATURE_BEAR_STANDING}};
  for (const unit_entry& entry : units) {
    auto monster = zeroed<monster_definition>();
    monster.collection_reference_tag = entry.collection_reference;
    monster.collection_reference_index = NONE;
    monster.standing_sequence = entry.standing_sequence;
    list.add(monster_definitions, entry.identifier, entry.name, monster);
  }
  for (const unit_entry& entry : units) {
    auto unit = zeroed<unit_definition>();
    unit.monster_tag = entry.identifier;
    unit.monster_index = NONE;
    list.add(unit_definitions, entry.identifier, entry.name, unit);
  }
}

void add_scenery(definition_list& list) {
  struct scenery_entry {
    tag identifier;
    const char* name;
    int16_t sequence;
    uint32_t flags;
  };
  const scenery_entry scenery[] = {{ids::pine_tree, "pine tree", FLORA_PINE, 0},
                                   {ids::oak_tree, "oak tree", FLORA_OAK, 0},
                                   {ids::boulder, "boulder", FLORA_BOULDER, 0},
                                   {ids::fence_post, "fence post", FLORA_POST, SCENERY_FLAG_8},
                                   {ids::bush, "bush", FLORA_BUSH, 0}};
  for (const scenery_entry& entry : scenery) {
    auto record = zeroed<scenery_definition>();
    record.flags = entry.flags;
    record.collection_reference_tag = ids::flora;
    record.collection_reference_index = NONE;
    record.sequence = entry.sequence;
    list.add(scenery_definitions, entry.identifier, entry.name, record);
  }
}

void add_projectiles(definition_list& list) {
  const std::pair<tag, const char*> projectiles[] = {
      {ids::arrow, "arrow"}, {ids::fireball, "fireball"}, {ids::thrown_rock, "thrown rock"}};
  for (const auto& [identifier, name] : projectiles) {
    auto record = zeroed<projectile_definition>();
    record.collection_reference_tag = ids::effects;
    record.collection_reference_index = NONE;
    list.add(projectile_definitions, identifier, name, record);
  }
  const std::pair<tag, tag> groups[] = {{ids::arrow_volley, ids::arrow}, {ids::fireball_salvo, ids::fireball}};
  const char* group_names[] = {"arrow volley", "fireball salvo"};
  for (size_t i = 0; i < std::size(groups); ++i) {
    auto record = zeroed<projectile_group_definition>();
    record.projectile_tag = groups[i].second;
    record.projectile_index = NONE;
    list.add(projectile_group_definitions, groups[i].first, group_names[i], record);
  }
  const std::pair<tag, const char*> local_groups[] = {{ids::chimney_smoke, "chimney smoke"},
                                                      {ids::fireflies, "fireflies"}};
  for (const auto& [identifier, name] : local_groups) {
    auto record = zeroed<local_projectile_group_definition>();
    record.collection_reference_tag = ids::effects;
    record.collection_reference_index = NONE;
    list.add(local_projectile_group_definitions, identifier, name, record);
  }
}

struct box {
  int32_t minimum[3], maximum[3];
};

void add_geometry(definition_list& list, tag identifier, const char* name, const box& shape) {
  auto record = zeroed<geometry_definition>();
  record.collection_reference_tag = ids::buildings;
  record.minimum_x = shape.minimum[0];
  record.minimum_y = shape.minimum[1];
  record.minimum_z = shape.minimum[2];
  record.maximum_x = shape.maximum[0];
  record.maximum_y = shape.maximum[1];
  record.maximum_z = shape.maximum[2];
  record.collection_reference_index = NONE;
  list.add(geometry_definitions, identifier, name, record);
}

// Simple shapes: one box each, standing on the ground at the model's origin.
void add_models(definition_list& list) {
  struct model_entry {
    tag identifier;
    const char* name;
    box shape;
    uint32_t flags;
    int16_t variant_count;
  };
  const model_entry models[] = {
      {ids::hut, "hut", {{-384, -320, 0}, {384, 320, 640}}, MODEL_TURNS_BY_QUARTERS, 3},
      {ids::watch_tower, "watch tower", {{-256, -256, 0}, {256, 256, 1536}}, MODEL_TURNS_BY_QUARTERS, 1},
      {ids::bridge, "bridge", {{-1280, -192, 0}, {1280, 192, 96}}, 0, 1},
  };
  for (const model_entry& entry : models) add_geometry(list, entry.identifier, entry.name, entry.shape);
  for (const model_entry& entry : models) {
    auto record = zeroed<model_definition>();
    record.flags = entry.flags;
    record.geometry_tag = entry.identifier;
    record.footprint_left = int16_t(entry.shape.minimum[0]);
    record.footprint_top = int16_t(entry.shape.minimum[1]);
    record.footprint_right = int16_t(entry.shape.maximum[0]);
    record.footprint_bottom = int16_t(entry.shape.maximum[1]);
    record.geometry_index = NONE;
    record.variant_count = entry.variant_count;
    list.add(model_definitions, entry.identifier, entry.name, record);
  }

  // The windmill: a tower whose sails sweep round, so its box changes from frame to frame.
  enum { WINDMILL_FRAMES = 4 };
  const int32_t sail_reach[WINDMILL_FRAMES][2] = {{768, 1536}, {544, 1760}, {768, 1536}, {544, 1760}};
  auto animation = zeroed<model_animation_definition>();
  animation.frame_count = WINDMILL_FRAMES;
  animation.ticks_per_frame = 8;
  for (int32_t k = 0; k < MAXIMUM_MODEL_ANIMATION_FRAMES; ++k) {
    animation.frame_geometry_tags[k] = NONE_TAG;
    animation.frame_geometry_indexes[k] = NONE;
  }
  const char* frame_names[WINDMILL_FRAMES] = {"windmill frame 1", "windmill frame 2", "windmill frame 3",
                                              "windmill frame 4"};
  for (int32_t k = 0; k < WINDMILL_FRAMES; ++k) {
    const tag frame = ids::windmill_frame_0 + tag(k);
    add_geometry(list, frame, frame_names[k], box{{-320, -sail_reach[k][0], 0}, {384, sail_reach[k][0], sail_reach[k][1]}});
    animation.frame_geometry_tags[k] = frame;
  }
  list.add(model_animation_definitions, ids::windmill, "windmill", animation);
}

}  // namespace

bool content_build_records(std::vector<archive_writer_tag>* tags) {
  definition_list list(tags);
  add_media(list);
  add_lighting(list);
  add_observer_constants(list);
  add_wind_and_connectors(list);
  add_sounds(list);
  add_units(list);
  add_scenery(list);
  add_projectiles(list);
  add_models(list);
  list.add(object_definitions, ids::placeholder_object, "placeholder", zeroed<object_definition>());
  return list.built();
}

// ---- texts ----

const std::vector<std::string>& content_keywords() {
  static const std::vector<std::string> keywords = {
      "required", "optional",
      "on_trigger", "on_execution", "on_successful_execution", "never",
      // the value types, in type order
      "flag", "string", "monster_identifier", "action_identifier", "angle", "integer", "world_distance",
      "field name", "fixed", "projectile", "string list", "sound", "projectile", "world_point2d",
      "world_rectangle2d", "object_identifier", "model_identifier", "sound_source_identifier", "world_point3d",
      "local_projectile_group_identifier", "model_animation_identifier"};
  return keywords;
}

namespace {

struct template_entry {
  const char* code;
  const char* display_name;
  const char* expiration;
  std::vector<std::string> parameters;  // "requirement type tag / Name / comment"
};

// Type words are single keywords, so the two value types whose names hold a blank ("field name",
// "string list") can only appear in the parenthesised form of the text format, never in a template.
const std::vector<template_entry>& templates() {
  static const std::vector<template_entry> list = {
      {"defa", "Default", "on_trigger",
       {"optional string name / Name / The action's name as shown in the list.",
        "optional action_identifier link / Linked Actions / Actions started together with this one.",
        "optional monster_identifier subj / Subjects / The units the action applies to.",
        "optional world_point2d loca / Location / A point on the map.",
        "optional fixed dely / Delay / Seconds to wait before acting.",
        "optional flag null / Placeholder / A parameter that carries no value."}},
      {"move", "Move Units", "on_execution",
       {"required monster_identifier subj / Units / The units to move.",
        "required world_point2d dest / Destination / Where they go; several points make a path.",
        "optional angle face / Facing / The direction they face on arrival.",
        "optional flag fast / Hurry / Run instead of walking."}},
      {"attk", "Attack Target", "on_successful_execution",
       {"required monster_identifier subj / Attackers / The units that attack.",
        "required monster_identifier targ / Targets / The units attacked.",
        "optional integer maxi / Most Attackers / At most this many attack at once."}},
      {"wait", "Wait", "on_execution",
       {"required fixed time / Seconds / How long to wait.",
        "optional action_identifier link / Then / Actions started when the time is up."}},
      {"sndp", "Play Sound", "on_execution",
       {"required sound soun / Sound / The sound to play.",
        "optional sound_source_identifier srce / Source / Play it from this sound source.",
        "optional world_distance radi / Radius / Heard this far away."}},
      {"mesg", "Show Message", "on_execution",
       {"required string text / Text / The message shown to the player.",
        "optional integer indx / Line / A line of the map's message list instead."}},
      {"volr", "Launch Projectiles", "on_execution",
       {"required projectile prgr / Projectile Group / What is launched.",
        "required world_point3d from / Origin / Where it starts.",
        "required world_point3d targ / Target / Where it flies.",
        "optional object_identifier objt / Projectile Marker / A placed projectile to launch instead."}},
      {"anim", "Animate Model", "never",
       {"required model_animation_identifier anim / Animation / The animated model.",
        "optional integer fram / Frame / The frame to show; none runs the animation."}},
      {"modl", "Change Model", "on_execution",
       {"required model_identifier modl / Model / The model to change.",
        "optional integer vari / Variant / The variant it becomes."}},
      {"efct", "Start Effect", "on_trigger",
       {"required local_projectile_group_identifier efct / Effect / The local projectile group to start.",
        "optional world_distance radi / Reach / How far the effect spreads."}},
      {"area", "Units in Area", "on_successful_execution",
       {"required world_rectangle2d area / Area / The area watched.",
        "required monster_identifier subj / Units / The units looked for.",
        "optional integer minm / Minimum Count / Succeeds when at least this many are inside."}},
      {"goal", "Victory Condition", "never",
       {"required monster_identifier subj / Units That Must Survive / The game is lost when all of them fall.",
        "optional flag loss / Defeat Instead / The condition loses the game instead of winning it."}},
      {"camr", "Move Camera", "on_execution",
       {"required world_point2d cntr / Centre / The point the camera looks at.",
        "optional angle face / Facing / The camera's direction.",
        "optional world_distance zoom / Distance / How far back the camera stands."}},
      {"timr", "Set Timer", "on_trigger",
       {"required integer tick / Ticks / Ticks of 1/30 s until the timer runs out.",
        "optional fixed rate / Rate / How fast the timer runs."}},
  };
  return list;
}

const std::map<tag, std::vector<std::string>>& map_descriptions() {
  static const std::map<tag, std::vector<std::string>> descriptions = {
      {ids::valley_description,
       {"A river valley between wooded hills, where two war bands meet at the ford.",
        "The river is deep in the middle; cross it at the shallows near the bridge."}},
      {ids::highlands_description,
       {"Mountains, lakes and snowfields over 8 x 8 submeshes.",
        "A large map for trying the editor's speed."}},
      {ids::islet_description,
       {"A small island in a murky lagoon, carried by the demo plugin.",
        "Open it with the plugin named in the level's plugin list."}},
  };
  return descriptions;
}

}  // namespace

const std::vector<std::string>& content_map_description(tag string_list) {
  static const std::vector<std::string> none;
  auto found = map_descriptions().find(string_list);
  return found == map_descriptions().end() ? none : found->second;
}

void content_build_strings(std::vector<archive_writer_tag>* tags) {
  const tag string_lists = make_tag("stli"), template_group = make_tag("temp");
  content_string_list_tag(string_lists, ids::keyword_list, "map action keywords", content_keywords(), tags);
  for (const template_entry& entry : templates()) {
    std::vector<std::string> strings = {entry.display_name, entry.expiration};
    strings.insert(strings.end(), entry.parameters.begin(), entry.parameters.end());
    content_string_list_tag(template_group, text_to_tag(entry.code),
                            (std::string(entry.display_name) + " template").c_str(), strings, tags);
  }
  const std::pair<tag, const char*> descriptions[] = {{ids::valley_description, "Demo Valley"},
                                                      {ids::highlands_description, "Demo Highlands"},
                                                      {ids::islet_description, "Demo Islet"}};
  for (const auto& [identifier, name] : descriptions) {
    content_string_list_tag(string_lists, identifier, name, content_map_description(identifier), tags);
  }
  content_string_list_tag(string_lists, ids::demo_messages, "demo messages",
                          {"Hold the ford until the reinforcements arrive.", "The bridge has fallen!",
                           "Night falls over the valley."},
                          tags);
}
