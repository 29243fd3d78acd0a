// The demo definitions without the maps: they load through the engine's own loaders, they say what
// the editor needs them to say, and they are the same bytes every time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "content/content.h"
#include "content/content_collections.h"
#include "content/content_definitions.h"
#include "content/content_records.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/markers.h"
#include "render/collection_references.h"
#include "render/shapes.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"

namespace {

const tag kStringLists = make_tag("stli");
const tag kTemplates = make_tag("temp");

std::vector<archive_writer_tag> definitions() {
  std::vector<archive_writer_tag> tags;
  EXPECT_TRUE(content_build_definitions(&tags));
  return tags;
}

const archive_writer_tag* find(const std::vector<archive_writer_tag>& tags, tag group, tag identifier) {
  for (const archive_writer_tag& t : tags) {
    if (t.group_tag == group && t.tag_identifier == identifier) return &t;
  }
  return nullptr;
}

// A stored record of a tag, back in native order.
template <class T>
T native_record(const archive_writer_tag& t, const byte_swap_description& description) {
  T record;
  EXPECT_GE(t.data.size(), sizeof(T));
  std::memcpy(&record, t.data.data(), sizeof(T));
  EXPECT_TRUE(byte_swap_data(description, &record, sizeof(T), 1));
  return record;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

TEST(ContentDefinitions, TwoBuildsGiveTheSameBytes) {
  const std::vector<archive_writer_tag> first = definitions(), second = definitions();
  ASSERT_EQ(first.size(), second.size());
  std::vector<archive_writer_archive> a, b;
  content_build_install_archives(first, {}, &a);
  content_build_install_archives(second, {}, &b);
  for (int k = 0; k < NUMBER_OF_INSTALL_ARCHIVES; ++k) {
    std::vector<uint8_t> bytes_a, bytes_b;
    ASSERT_TRUE(archive_writer_build(a[size_t(k)], &bytes_a));
    ASSERT_TRUE(archive_writer_build(b[size_t(k)], &bytes_b));
    EXPECT_EQ(bytes_a, bytes_b) << install_archive_names[k];
  }
}

TEST(ContentDefinitions, EveryTagIsUniqueAndGoesToTheArchiveOfItsInstallClass) {
  const std::vector<archive_writer_tag> tags = definitions();
  std::set<std::pair<tag, tag>> keys;
  std::set<std::pair<tag, std::string>> names;
  for (const archive_writer_tag& t : tags) {
    EXPECT_TRUE(keys.insert({t.group_tag, t.tag_identifier}).second) << t.name;
    EXPECT_TRUE(names.insert({t.group_tag, t.name}).second) << t.name;
    EXPECT_EQ(t.install_class, tag_group_find(t.group_tag)->install_class) << t.name;
  }
  std::vector<archive_writer_archive> archives;
  content_build_install_archives(tags, {}, &archives);
  ASSERT_EQ(archives.size(), size_t(NUMBER_OF_INSTALL_ARCHIVES));
  size_t total = 0;
  for (int k = 0; k < NUMBER_OF_INSTALL_ARCHIVES; ++k) {
    for (const archive_writer_tag& t : archives[size_t(k)].tags) EXPECT_EQ(t.install_class, k) << t.name;
    total += archives[size_t(k)].tags.size();
  }
  EXPECT_EQ(total, tags.size());
}

// The archives in a fresh folder open as a complete install, and every definition loads through
// definition_load with everything it names, without a single report.
class ContentStore : public ::testing::Test {
 protected:
  void SetUp() override {
    tags = definitions();
    std::vector<archive_writer_archive> archives;
    content_build_install_archives(tags, {}, &archives);
    for (int k = 0; k < NUMBER_OF_INSTALL_ARCHIVES; ++k) {
      std::vector<uint8_t> bytes;
      ASSERT_TRUE(archive_writer_build(archives[size_t(k)], &bytes));
      ASSERT_TRUE(folder.write_file(std::string("tags/") + install_archive_names[k],
                                    std::string(bytes.begin(), bytes.end())));
    }
    error_manager_initialize("content tests");
    ASSERT_TRUE(tag_files_initialize());
    ASSERT_TRUE(tag_files_open(false, {}, -1));
    ASSERT_TRUE(definition_groups_initialize());
    ASSERT_TRUE(shapes_initialize());
    definition_groups_validate();
  }
  void TearDown() override {
    definition_groups_invalidate();
    shapes_dispose();
    tag_files_close();
  }

  scoped_work_folder folder;
  std::vector<archive_writer_tag> tags;
};

TEST_F(ContentStore, OpensWithTheFoundationTagsAndEveryDefinitionLoads) {
  EXPECT_TRUE(foundation_tags_present());
  int loaded = 0;
  for (const archive_writer_tag& t : tags) {
    definition_group* group = definition_group_find(t.group_tag);
    if (!group || group->added_only) continue;
    if (group->count >= group->capacity) {  // one lighting at a time, as a level has
      definitions_invalidate(group);
      definitions_validate(group);
    }
    const int16_t index = group == &collection_definitions ? collection_load(int32_t(t.tag_identifier))
                                                           : definition_load(group, t.tag_identifier);
    EXPECT_NE(index, NONE) << t.name;
    ++loaded;
  }
  EXPECT_GT(loaded, 40);
  EXPECT_EQ(handle_error(), 0) << folder.read_file("tarn_log.txt");
  // What the units name was loaded on the way, down to their collections.
  const int16_t warrior = definition_find(&unit_definitions, content_ids::warrior);
  const auto* unit = definition_get_as<unit_definition>(&unit_definitions, warrior);
  ASSERT_NE(unit, nullptr);
  const auto* monster = definition_get_as<monster_definition>(&monster_definitions, unit->monster_index);
  ASSERT_NE(monster, nullptr);
  const auto* look = definition_get_as<collection_reference_definition>(&collection_reference_definitions,
                                                                        monster->collection_reference_index);
  ASSERT_NE(look, nullptr);
  EXPECT_TRUE(collection_check_sequence(look->collection_index, monster->standing_sequence));
  const auto* animation = definition_get_as<model_animation_definition>(
      &model_animation_definitions, definition_find(&model_animation_definitions, content_ids::windmill));
  ASSERT_NE(animation, nullptr);
  for (int k = 0; k < animation->frame_count; ++k) EXPECT_NE(animation->frame_geometry_indexes[k], NONE);
}

TEST_F(ContentStore, ThePlaceholderCollectionHasALookForEveryMarkerType) {
  const int16_t placeholders = collection_load(int32_t(content_ids::placeholder_collection));
  ASSERT_NE(placeholders, NONE);
  EXPECT_EQ(collection_get_header(placeholders)->sequence_references.count, uint32_t(NUMBER_OF_MARKER_TYPES));
  for (int32_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type) {
    const sequence_data* sequence = collection_block_get_sequence(*collection_get_header(placeholders),
                                                                  collection_get_data(placeholders), type);
    ASSERT_NE(sequence, nullptr) << type;
    const int16_t instance = sequence_get_instance_index(sequence, 0, 0);
    const bitmap_instance* shown = collection_block_get_bitmap_instance(*collection_get_header(placeholders),
                                                                        collection_get_data(placeholders), instance);
    ASSERT_NE(shown, nullptr) << type;
    EXPECT_NE(collection_get_bitmap(placeholders, shown->bitmap_index), nullptr) << type;
  }
}

// The unit collections' two hue changes recolour the team and trim ramps to a player's colours.
TEST_F(ContentStore, TeamColoursRecolourOnlyTheTeamRamps) {
  const int16_t soldiers = collection_load(int32_t(content_ids::soldiers));
  ASSERT_NE(soldiers, NONE);
  const collection_header& header = *collection_get_header(soldiers);
  ASSERT_EQ(header.hue_changes.count, 2u);
  const hue_change* team = collection_block_get_hue_change(header, collection_get_data(soldiers), 0);
  const hue_change* trim = collection_block_get_hue_change(header, collection_get_data(soldiers), 1);
  EXPECT_EQ(team->flags, HUE_CHANGE_USES_FIRST_SPECIAL);
  EXPECT_EQ(trim->flags, HUE_CHANGE_USES_SECOND_SPECIAL);

  color_table colors = *collection_get_color_table(soldiers);
  const color_table before = colors;
  const rgb_color blue = {0, 0, 0xFFFF, 0}, cyan = {0, 0xFFFF, 0xFFFF, 0};
  const rgb_color specials[2] = {blue, cyan};
  const hue_change changes[2] = {*team, *trim};
  color_table_apply_hue_changes(colors, changes, 2, nullptr, 0, specials);
  for (int32_t i = 0; i < color_table_color_count(colors); ++i) {
    const bool in_team = i >= content_ramp_color(RAMP_TEAM, 0) && i <= content_ramp_color(RAMP_TEAM, 5);
    const bool in_trim = i >= content_ramp_color(RAMP_TRIM, 0) && i <= content_ramp_color(RAMP_TRIM, 5);
    const rgb_color& now = colors.colors[i];
    const rgb_color& was = before.colors[i];
    if (in_team) {
      EXPECT_GT(now.blue, now.red) << i;  // player 2's blue
    } else if (in_trim) {
      EXPECT_GT(now.blue, now.red) << i;  // cyan
      EXPECT_GT(now.green, now.red) << i;
    } else {
      EXPECT_TRUE(now.red == was.red && now.green == was.green && now.blue == was.blue) << i;
    }
  }
}

TEST(ContentDefinitions, TheKeywordListNamesEveryValueTypeInOrder) {
  const std::vector<archive_writer_tag> tags = definitions();
  const archive_writer_tag* list = find(tags, kStringLists, content_ids::keyword_list);
  ASSERT_NE(list, nullptr);
  const std::vector<std::string> keywords = content_string_list_strings(list->data);
  const char* types[] = {"flag", "string", "monster_identifier", "action_identifier", "angle", "integer",
                         "world_distance", "field name", "fixed", "projectile", "string list", "sound",
                         "projectile", "world_point2d", "world_rectangle2d", "object_identifier",
                         "model_identifier", "sound_source_identifier", "world_point3d",
                         "local_projectile_group_identifier", "model_animation_identifier"};
  ASSERT_EQ(keywords.size(), 6u + std::size(types));
  for (size_t k = 0; k < std::size(types); ++k) EXPECT_EQ(keywords[6 + k], types[k]) << k;
  EXPECT_EQ(keywords, content_keywords());
}

// Every template reads as the text format's parser reads it: the expiration keyword at positions
// 2..5, and parameter lines of a requirement word, a type word and a four-character tag, then a name
// and a comment between slashes.
TEST(ContentDefinitions, TemplatesFollowTheTemplateFormat) {
  const std::vector<archive_writer_tag> tags = definitions();
  const std::vector<std::string>& keywords = content_keywords();
  auto position = [&keywords](const std::string& word) {
    auto found = std::find(keywords.begin(), keywords.end(), word);
    return found == keywords.end() ? -1 : int(found - keywords.begin());
  };
  std::set<std::string> display_names;
  std::set<int> types_used;
  int count = 0;
  for (const archive_writer_tag& t : tags) {
    if (t.group_tag != kTemplates) continue;
    ++count;
    const std::vector<std::string> strings = content_string_list_strings(t.data);
    ASSERT_GE(strings.size(), 3u) << t.name;
    EXPECT_TRUE(display_names.insert(strings[0]).second) << strings[0];
    const int expiration = position(strings[1]);
    EXPECT_TRUE(expiration >= 2 && expiration <= 5) << t.name << ": " << strings[1];
    std::set<std::pair<std::string, int>> parameters;
    for (size_t k = 2; k < strings.size(); ++k) {
      const std::string& line = strings[k];
      const std::vector<std::string> w = words(line);
      ASSERT_GE(w.size(), 4u) << line;
      const int requirement = position(w[0]), type = position(w[1]);
      EXPECT_TRUE(requirement == 0 || requirement == 1) << line;
      EXPECT_TRUE(type >= 6 && type <= 26) << line;
      EXPECT_EQ(w[2].size(), 4u) << line;
      EXPECT_TRUE(parameters.insert({w[2], type}).second) << "twice: " << line;
      types_used.insert(type - 6);
      const size_t first = line.find('/'), second = line.find('/', first + 1);
      ASSERT_NE(first, std::string::npos) << line;
      ASSERT_NE(second, std::string::npos) << line;
      EXPECT_GT(second, first + 3) << "no name: " << line;
      EXPECT_GT(line.size(), second + 2) << "no comment: " << line;
    }
  }
  EXPECT_GE(count, 12);
  EXPECT_NE(find(tags, kTemplates, content_ids::default_template), nullptr);
  // Every value type a template can name (not the two whose names hold a blank) is used by one.
  for (int type = 0; type <= 20; ++type) {
    if (type == 7 || type == 10 || type == 12) continue;  // "field name", "string list", the second "projectile"
    EXPECT_TRUE(types_used.count(type)) << keywords[size_t(6 + type)];
  }
}

TEST(ContentDefinitions, RecordsSayWhatTheEditorNeeds) {
  const std::vector<archive_writer_tag> tags = definitions();
  // Observer motion that feels right at 30 ticks a second: full speed within a second, a stop
  // within half a second, and the keyboard's axes all moving.
  const archive_writer_tag* observer = find(tags, observer_physics_definitions.group_tag, content_ids::observer_constants);
  ASSERT_NE(observer, nullptr);
  const auto constants = native_record<content_observer_constants>(*observer, *observer_physics_definitions.description);
  for (int axis : {0, 1, 2, 3, 6}) {
    const content_observer_axis& a = constants.axes[axis];
    for (auto [maximum, acceleration, deceleration] :
         {std::tuple{a.positive_maximum, a.positive_acceleration, a.positive_deceleration},
          std::tuple{a.negative_maximum, a.negative_acceleration, a.negative_deceleration}}) {
      ASSERT_GT(acceleration, 0) << axis;
      EXPECT_LE(maximum / acceleration, 30) << axis;
      EXPECT_GE(maximum / acceleration, 3) << axis;
      EXPECT_LE(maximum / deceleration, 15) << axis;
    }
  }
  // Ambient sounds fade between two radii.
  int sounds = 0;
  for (const archive_writer_tag& t : tags) {
    if (t.group_tag != ambient_sound_definitions.group_tag) continue;
    const auto sound = native_record<ambient_sound_definition>(t, *ambient_sound_definitions.description);
    EXPECT_GT(sound.inner_radius, 0) << t.name;
    EXPECT_LT(sound.inner_radius, sound.outer_radius) << t.name;
    EXPECT_NE(find(tags, sound_definitions.group_tag, sound.sound_tag), nullptr) << t.name;
    ++sounds;
  }
  EXPECT_GE(sounds, 2);
  // One scenery type is marked with flag 0x08; two media and two lightings exist.
  int flagged = 0, media = 0, lightings = 0;
  for (const archive_writer_tag& t : tags) {
    if (t.group_tag == scenery_definitions.group_tag) {
      flagged += (native_record<scenery_definition>(t, *scenery_definitions.description).flags & SCENERY_FLAG_8) != 0;
    }
    media += t.group_tag == media_definitions.group_tag;
    lightings += t.group_tag == mesh_lighting_definitions.group_tag;
  }
  EXPECT_EQ(flagged, 1);
  EXPECT_EQ(media, 2);
  EXPECT_EQ(lightings, 2);
  EXPECT_NE(find(tags, mesh_lighting_definitions.group_tag, make_tag("gras")), nullptr);
  EXPECT_NE(find(tags, object_definitions.group_tag, make_tag("basc")), nullptr);
  EXPECT_NE(find(tags, COLLECTION_DEFINITION_GROUP_TAG, make_tag("plac")), nullptr);
}

TEST(ContentDefinitions, ACollectionThatDoesNotFitIsRefused) {
  content_collection c;
  std::vector<uint8_t> data;
  EXPECT_FALSE(content_collection_data(c, &data));  // no colours
  c.colors.assign(4, rgb_color{0, 0, 0, 0});
  c.bitmaps.push_back({"bad", 4, 4, 0, 0, std::vector<uint8_t>(15, 1)});  // a pixel short
  EXPECT_FALSE(content_collection_data(c, &data));
  c.bitmaps[0].pixels.resize(16);
  c.instances.push_back(1);  // no such bitmap
  EXPECT_FALSE(content_collection_data(c, &data));
  c.instances[0] = 0;
  c.sequences.push_back({"seq", 4, 65536, 1, 1, {{0}}});
  EXPECT_TRUE(content_collection_data(c, &data));
  EXPECT_TRUE(data.empty() == false);
  handle_error();
}

}  // namespace
