#include "engine/definitions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "support/collection_fixtures.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"

namespace {

int postprocess_calls = 0;
int convert_calls = 0;
bool convert_answer = true;

bool counting_postprocess(definition_group*, int16_t, int32_t, void*) {
  ++postprocess_calls;
  return true;
}

bool failing_postprocess(definition_group*, int16_t, int32_t, void*) { return false; }

// Marks the converted record so the test can see it was rewritten in place.
bool marking_convert(definition_group*, int32_t, int16_t stored_version, const void*, void* record) {
  ++convert_calls;
  static_cast<model_definition*>(record)->footprint_left = static_cast<int16_t>(100 + stored_version);
  return convert_answer;
}

class Definitions : public ::testing::Test {
 protected:
  void SetUp() override {
    // The tests change the groups' procedures and count their calls: each starts afresh and puts
    // the procedures back, so they also pass run one after another in one program.
    postprocess_calls = convert_calls = 0;
    convert_answer = true;
    for (definition_group* group : {&wind_definitions, &mesh_definitions, &model_definitions, &ambient_sound_definitions,
                                    &object_definitions, &monster_definitions}) {
      saved.push_back({group, group->postprocess, group->convert});
    }
    error_manager_initialize("vellgrim");
    ASSERT_TRUE(tag_files_initialize());
    ASSERT_TRUE(tag_files_open(false, {}, -1));
    ASSERT_TRUE(definition_groups_initialize());
    definition_groups_validate();
  }
  void TearDown() override {
    definition_groups_dispose();
    tag_files_close();
    for (const saved_procedures& group : saved) {
      group.group->postprocess = group.postprocess;
      group.group->convert = group.convert;
    }
  }

  struct saved_procedures {
    definition_group* group;
    decltype(definition_group::postprocess) postprocess;
    decltype(definition_group::convert) convert;
  };
  std::vector<saved_procedures> saved;

  // A local tag of the group holding `size` bytes, the first word big-endian `first_word`.
  static tag store(definition_group& group, const char* name, int16_t version, size_t size, uint32_t first_word = 0) {
    std::vector<uint8_t> bytes(size, 0);
    if (size >= 4) fixture_put32(bytes, 0, first_word);
    const int32_t tag_index = fixture_store_tag(group.group_tag, name, version, bytes);
    EXPECT_NE(tag_index, NONE) << name;
    return tag_file_get_identifier(tag_index);
  }

  std::string log() const { return folder.read_file("tarn_log.txt"); }
  bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }

  scoped_work_folder folder;
};

TEST_F(Definitions, LoadingTwiceAnswersOneIndexAndPostprocessesOnce) {
  wind_definitions.postprocess = counting_postprocess;
  const tag identifier = store(wind_definitions, "breeze", 1, 128, 0x01020304);
  const int16_t index = definition_load(&wind_definitions, identifier);
  ASSERT_EQ(index, 0);
  EXPECT_EQ(definition_load(&wind_definitions, identifier), 0);
  EXPECT_EQ(postprocess_calls, 1);
  EXPECT_EQ(wind_definitions.count, 1);
  // Read from offset 0 and converted from big-endian.
  EXPECT_EQ(definition_get_as<wind_definition>(&wind_definitions, index)->flags, 0x01020304u);
  EXPECT_STREQ(definition_get_name(&wind_definitions, index), "breeze");
  EXPECT_EQ(definition_get_tag(&wind_definitions, index), tag_file_find(wind_definitions.group_tag, identifier));
  EXPECT_EQ(definition_find(&wind_definitions, identifier), 0);
  EXPECT_EQ(error_pending_code(), 0);
}

TEST_F(Definitions, TooNewIsReportedAndNotPostprocessed) {
  mesh_definitions.postprocess = counting_postprocess;
  mesh_definitions.convert = marking_convert;  // converts only older layouts
  const tag identifier = store(mesh_definitions, "future", 12, 1024);
  EXPECT_EQ(definition_load(&mesh_definitions, identifier), 0);
  EXPECT_EQ(postprocess_calls, 0);
  EXPECT_EQ(convert_calls, 0);
  EXPECT_EQ(error_pending_code(), error_data_version_mismatch);
  EXPECT_TRUE(logged("mesh definition for 'future' is too new (#12>#11).")) << log();
  // Not marked: the next load checks and reports again.
  handle_error();
  EXPECT_EQ(definition_load(&mesh_definitions, identifier), 0);
  EXPECT_EQ(error_pending_code(), error_data_version_mismatch);
}

TEST_F(Definitions, TooOldIsConvertedInPlaceWhenTheGroupCan) {
  model_definitions.postprocess = counting_postprocess;
  model_definitions.convert = marking_convert;
  const tag identifier = store(model_definitions, "hut", 3, 64);
  const int16_t index = definition_load(&model_definitions, identifier);
  ASSERT_EQ(index, 0);
  EXPECT_EQ(convert_calls, 1);
  EXPECT_EQ(postprocess_calls, 1);
  EXPECT_EQ(definition_get_as<model_definition>(&model_definitions, index)->footprint_left, 103);
  EXPECT_EQ(error_pending_code(), 0);

  convert_answer = false;
  const tag refused = store(model_definitions, "barn", 2, 64);
  EXPECT_EQ(definition_load(&model_definitions, refused), 1);
  EXPECT_EQ(postprocess_calls, 1);
  EXPECT_TRUE(logged("model definition for 'barn' is too old (#2<#4).")) << log();
}

TEST_F(Definitions, TooOldWithoutConvertIsReported) {
  model_definitions.postprocess = counting_postprocess;
  model_definitions.convert = nullptr;
  const tag identifier = store(model_definitions, "hut", 3, 64);
  EXPECT_EQ(definition_load(&model_definitions, identifier), 0);
  EXPECT_EQ(postprocess_calls, 0);
  EXPECT_EQ(error_pending_code(), error_data_version_mismatch);
  EXPECT_TRUE(logged("model definition for 'hut' is too old (#3<#4).")) << log();
}

TEST_F(Definitions, AFullGroupRefusesTheNextDefinition) {
  ambient_sound_definitions.postprocess = nullptr;
  for (int i = 0; i < 64; ++i) {
    const std::string name = "wind chimes " + std::to_string(i);
    ASSERT_EQ(definition_load(&ambient_sound_definitions, store(ambient_sound_definitions, name.c_str(), 1, 64)), i);
  }
  EXPECT_EQ(error_pending_code(), 0);
  const tag extra = store(ambient_sound_definitions, "one too many", 1, 64);
  EXPECT_EQ(definition_load(&ambient_sound_definitions, extra), -1);
  EXPECT_EQ(error_pending_code(), error_array_full);
  EXPECT_TRUE(logged("there are no more free ambient sound definitions for 'one too many'.")) << log();
  EXPECT_EQ(definitions_usage_line(&ambient_sound_definitions), "ambient sound definitions: 64 / 64\n");
  handle_error();
  uint8_t record[64] = {};
  EXPECT_EQ(definition_add(&ambient_sound_definitions, NONE_TAG, record), -1);
  EXPECT_TRUE(logged("there are no more free ambient sound definitions for '<unknown>'.")) << log();
}

TEST_F(Definitions, MissingAndUnreadableTags) {
  EXPECT_EQ(definition_load(&wind_definitions, NONE_TAG), -1);
  EXPECT_EQ(error_pending_code(), error_data_corrupted);
  EXPECT_TRUE(logged("tried to read non-existant (i.e., NONE) wind definition")) << log();
  handle_error();

  EXPECT_EQ(definition_load(&wind_definitions, make_tag("gone")), -1);
  EXPECT_EQ(error_pending_code(), error_file_open);
  EXPECT_TRUE(logged("couldn't read header for wind definition 'gone'.")) << log();
  handle_error();

  const tag short_tag = store(wind_definitions, "stub", 1, 20);  // shorter than the 128-byte record
  EXPECT_EQ(definition_load(&wind_definitions, short_tag), -1);
  EXPECT_TRUE(logged("couldn't read wind definition for 'stub' (" + std::string(tag_to_text(short_tag).c_str()) + ").")) << log();
  EXPECT_EQ(wind_definitions.count, 0);
}

TEST_F(Definitions, PostprocessFailureIsReportedAndTheIndexStillAnswered) {
  object_definitions.postprocess = failing_postprocess;
  const tag identifier = store(object_definitions, "crate", 1, 64);
  EXPECT_EQ(definition_load(&object_definitions, identifier), 0);
  EXPECT_EQ(error_pending_code(), error_unknown);
  EXPECT_TRUE(logged("object definition postprocess failed on 'crate'.")) << log();
}

TEST_F(Definitions, ValidationRemovalAndStaleSlots) {
  const tag first = store(sound_definitions, "thud", 1, 64);
  const tag second = store(sound_definitions, "clank", 1, 64);
  const tag third = store(sound_definitions, "boom", 1, 64);
  ASSERT_EQ(definition_load(&sound_definitions, first), 0);
  ASSERT_EQ(definition_load(&sound_definitions, second), 1);
  ASSERT_EQ(definition_load(&sound_definitions, third), 2);

  definitions_validate(&sound_definitions);  // already valid: kept
  EXPECT_EQ(sound_definitions.count, 3);

  EXPECT_FALSE(definition_remove(&sound_definitions, 1));  // not the last: only forgotten
  EXPECT_EQ(sound_definitions.count, 3);
  EXPECT_EQ(definition_get_if_loaded(&sound_definitions, 1), nullptr);
  EXPECT_NE(definition_get(&sound_definitions, 1), nullptr);
  EXPECT_STREQ(definition_get_name(&sound_definitions, 1), "<unknown>");
  EXPECT_EQ(definition_get_tag(&sound_definitions, 1), NONE);
  EXPECT_TRUE(definition_remove(&sound_definitions, 2));
  EXPECT_EQ(sound_definitions.count, 2);
  EXPECT_EQ(definition_get(&sound_definitions, 2), nullptr);

  definition_mark_stale(&sound_definitions, 0);
  EXPECT_EQ(definition_find(&sound_definitions, first), -1);
  EXPECT_EQ(definition_load(&sound_definitions, first), 2);  // read again into a new slot

  definitions_invalidate(&sound_definitions);
  EXPECT_EQ(definition_get(&sound_definitions, 0), nullptr);
  EXPECT_EQ(definitions_usage_line(&sound_definitions), "sound definitions: 0 / 270\n");
  definitions_validate(&sound_definitions);
  EXPECT_EQ(sound_definitions.count, 0);
  EXPECT_EQ(definition_find(&sound_definitions, second), -1);
}

TEST_F(Definitions, UsageLinesAndTheGroupTable) {
  EXPECT_EQ(definitions_usage_line(&connector_definitions), "connector definitions : 0 / 4\n");
  EXPECT_EQ(definitions_usage_line(&collection_reference_definitions), "collection reference definitions: 0 / 320\n");
  for (int32_t i = 0; i < NUMBER_OF_DEFINITION_GROUPS; ++i) {
    definition_group* group = definition_group_get(i);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(definition_group_find(group->group_tag), group);
    if (group->description) {
      EXPECT_EQ(byte_swap_description_size(*group->description), group->record_size) << group->name;
    }
  }
  EXPECT_EQ(definition_group_get(NUMBER_OF_DEFINITION_GROUPS), nullptr);
  EXPECT_EQ(definition_group_find(make_tag("pref")), nullptr);
  EXPECT_EQ(model_definitions.version, 4);
  EXPECT_EQ(projectile_definitions.capacity, 1024);
  EXPECT_EQ(artifact_definitions.record_size, 168);
  EXPECT_TRUE(string_list_definitions.added_only);
  EXPECT_EQ(string_list_definitions.description, nullptr);
}

TEST_F(Definitions, AddedOnlyGroupsAreNeverRead) {
  const uint8_t record[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const int16_t index = definition_add(&string_definitions, make_tag("help"), record);
  ASSERT_EQ(index, 0);
  EXPECT_EQ(definition_load(&string_definitions, make_tag("help")), 0);
  EXPECT_EQ(definition_load(&string_definitions, make_tag("miss")), -1);
  EXPECT_EQ(error_pending_code(), error_data_missing);
}

// Least layouts load the definitions they name and record the indices.
TEST_F(Definitions, NamedTagsAreLoadedAndEnumerated) {
  const tag monster = store(monster_definitions, "ogre", 1, 1024, 0);
  std::vector<uint8_t> unit(128, 0);
  fixture_put32(unit, 4, monster);
  const tag unit_tag = tag_file_get_identifier(fixture_store_tag(unit_definitions.group_tag, "ogre squad", 1, unit));
  monster_definitions.postprocess = nullptr;  // its collection reference is not stored here
  const int16_t index = definition_load(&unit_definitions, unit_tag);
  ASSERT_EQ(index, 0);
  EXPECT_EQ(error_pending_code(), 0) << log();
  const unit_definition* record = definition_get_as<unit_definition>(&unit_definitions, index);
  EXPECT_EQ(record->monster_tag, monster);
  EXPECT_EQ(record->monster_index, definition_find(&monster_definitions, monster));
  EXPECT_EQ(record->monster_index, 0);

  struct seen {
    std::vector<tag> tags;
  } visits;
  definition_enumerate_references(
      &unit_definitions, index,
      [](tag group, tag identifier, int16_t* slot, int16_t, void* context) {
        EXPECT_EQ(group, make_tag("mons"));
        EXPECT_EQ(*slot, 0);
        static_cast<seen*>(context)->tags.push_back(identifier);
      },
      &visits);
  EXPECT_EQ(visits.tags, std::vector<tag>{monster});

  // A named tag that does not exist fails the postprocess; the index slot says -1.
  std::vector<uint8_t> orphan(128, 0);
  fixture_put32(orphan, 4, make_tag("nope"));
  const tag orphan_tag = tag_file_get_identifier(fixture_store_tag(unit_definitions.group_tag, "orphans", 1, orphan));
  const int16_t orphan_index = definition_load(&unit_definitions, orphan_tag);
  ASSERT_EQ(orphan_index, 1);
  EXPECT_EQ(definition_get_as<unit_definition>(&unit_definitions, orphan_index)->monster_index, -1);
  EXPECT_TRUE(logged("unit definition postprocess failed on 'orphans'.")) << log();
}

}  // namespace
