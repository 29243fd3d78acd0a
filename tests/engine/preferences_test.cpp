#include "engine/preferences.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cseries/error_manager.h"
#include "support/work_folder.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files.h"

namespace {

class Preferences : public ::testing::Test {
 protected:
  void SetUp() override { open_store(); }
  void TearDown() override {
    atomic_file_set_test_hook(nullptr);
    preferences_dispose(&vellgrim_preferences_descriptor);
    preferences_dispose(&input_preferences_descriptor);
    tag_files_close();
  }

  static void open_store() {
    ASSERT_TRUE(tag_files_initialize());
    ASSERT_TRUE(tag_files_open(false, {}, -1));
  }

  // A local `pref` tag holding exactly these bytes.
  static void store(const char* name, int16_t version, const std::vector<uint8_t>& bytes) {
    int32_t tag_index = tag_file_create(PREFERENCES_GROUP_TAG, name, version);
    ASSERT_NE(tag_index, NONE);
    ASSERT_TRUE(tag_file_write(&tag_index, 0, static_cast<int32_t>(bytes.size()), bytes.data()));
  }

  static std::vector<int32_t> pref_tags_named(const char* name) {
    tag_file_filter filter = tag_file_filter_any();
    std::strncpy(filter.name, name, sizeof(filter.name) - 1);
    filter.group_tag = PREFERENCES_GROUP_TAG;
    std::vector<int32_t> indices(8, NONE);
    indices.resize(tag_file_search(filter, indices.data(), 8));
    return indices;
  }

  scoped_work_folder folder;
};

TEST_F(Preferences, DefaultsWhenNothingIsStored) {
  auto* record = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record, vellgrim_preferences_get());
  EXPECT_EQ(record->place_sound_source_flags, 7);
  EXPECT_EQ(record->place_unit_flags, 1);
  EXPECT_EQ(record->place_scenery_flags, 1);
  EXPECT_EQ(record->place_model_flags, 3);
  EXPECT_EQ(record->place_model_animation_flags, 3);
  EXPECT_EQ(record->height_painter.batch_merge, 1);
  EXPECT_FLOAT_EQ(record->height_painter.radius, 2.5f);
  EXPECT_FLOAT_EQ(record->height_painter.feather, 2.5f);
  EXPECT_EQ(record->height_painter.tool_rates[0], 0.083333336f);
  EXPECT_FLOAT_EQ(record->height_painter.tool_rates[2], 1.0f);
  EXPECT_FLOAT_EQ(record->height_painter.filter_parameters[0], 1.0f);
  EXPECT_FLOAT_EQ(record->height_painter.filter_parameters[2], 3.01f);
  EXPECT_FLOAT_EQ(record->height_painter.filter_parameters[3], 0.6f);
  EXPECT_EQ(record->terrain_painter.merge_strokes, 1);
  EXPECT_EQ(record->terrain_painter.brush_shape, 0);
  EXPECT_FLOAT_EQ(record->terrain_painter.radius, 2.5f);
  EXPECT_EQ(record->displacement_lower_bound, -1536);
  EXPECT_EQ(record->displacement_upper_bound, 1536);
}

TEST_F(Preferences, StoredRecordOfWrongSizeOrVersionIsIgnored) {
  store("vellgrim", VELLGRIM_PREFERENCES_VERSION, std::vector<uint8_t>(79, 0x11));
  auto* record = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->place_sound_source_flags, 7);
  EXPECT_EQ(record->displacement_upper_bound, 1536);

  store("vellgrim", 2, std::vector<uint8_t>(80, 0x11));
  record = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  EXPECT_EQ(record->place_sound_source_flags, 7);
}

TEST_F(Preferences, SavedRecordIsBigEndianAndReadsBack) {
  auto* record = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  record->place_unit_flags = 0x0102;
  record->height_painter.radius = 4.0f;
  record->displacement_lower_bound = -2048;
  ASSERT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  EXPECT_EQ(record->place_unit_flags, 0x0102);  // back in native order after the save

  std::string file = folder.read_file("preferences/vellgrim");
  ASSERT_EQ(file.size(), 64u + 80u);
  EXPECT_EQ(static_cast<uint8_t>(file[64 + 2]), 0x01);
  EXPECT_EQ(static_cast<uint8_t>(file[64 + 3]), 0x02);
  EXPECT_EQ(static_cast<uint8_t>(file[64 + 24]), 0x40);  // 4.0f = 0x40800000
  EXPECT_EQ(static_cast<uint8_t>(file[64 + 25]), 0x80);

  preferences_dispose(&vellgrim_preferences_descriptor);
  EXPECT_EQ(vellgrim_preferences_get(), nullptr);
  tag_files_close();
  open_store();
  record = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  EXPECT_EQ(record->place_unit_flags, 0x0102);
  EXPECT_FLOAT_EQ(record->height_painter.radius, 4.0f);
  EXPECT_EQ(record->displacement_lower_bound, -2048);
  EXPECT_EQ(record->place_sound_source_flags, 7);
}

// The defaults as the game stores them: every field big-endian at its offset, the floats as IEEE
// singles, the kept words zero.
TEST_F(Preferences, TheDefaultsAreStoredByteForByte) {
  ASSERT_NE(preferences_load(&vellgrim_preferences_descriptor), nullptr);
  ASSERT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  const std::vector<uint8_t> expected = {
      0x00, 0x07, 0x00, 0x01, 0x00, 0x01, 0x00, 0x03,  // 0: place flags
      0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,  // 8: model animation flags, kept, merge strokes
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 16
      0x40, 0x20, 0x00, 0x00, 0x40, 0x20, 0x00, 0x00,  // 24: 2.5, 2.5
      0x3D, 0xAA, 0xAA, 0xAB, 0x00, 0x00, 0x00, 0x00,  // 32: 1/12, 0.0
      0x3F, 0x80, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00,  // 40: 1.0, 1.0
      0x00, 0x00, 0x00, 0x00, 0x40, 0x40, 0xA3, 0xD7,  // 48: 0.0, 3.01
      0x3F, 0x19, 0x99, 0x9A, 0x00, 0x00, 0x00, 0x01,  // 56: 0.6, 1
      0x00, 0x00, 0x00, 0x00, 0x40, 0x20, 0x00, 0x00,  // 64: 0, kept, 2.5
      0xFF, 0xFF, 0xFA, 0x00, 0x00, 0x00, 0x06, 0x00,  // 72: -1536, 1536
  };
  const std::string file = folder.read_file("preferences/vellgrim");
  ASSERT_EQ(file.size(), 64u + expected.size());
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 64, file.end()), expected);
}

TEST_F(Preferences, SavingTwiceKeepsOneTagWithOneIdentifier) {
  preferences_load(&vellgrim_preferences_descriptor);
  ASSERT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  std::vector<int32_t> first = pref_tags_named("vellgrim");
  ASSERT_EQ(first.size(), 1u);
  tag identifier = tag_file_get_identifier(first[0]);
  EXPECT_EQ(identifier, make_tag("vell"));

  vellgrim_preferences_get()->place_model_flags = 1;
  ASSERT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  std::vector<int32_t> second = pref_tags_named("vellgrim");
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(tag_file_get_identifier(second[0]), identifier);
  EXPECT_EQ(tag_file_get_version(second[0]), VELLGRIM_PREFERENCES_VERSION);
}

TEST_F(Preferences, SaveOverAnOlderVersionTakesTheNewVersion) {
  store("vellgrim", 0, std::vector<uint8_t>(12, 0));
  preferences_load(&vellgrim_preferences_descriptor);
  ASSERT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  std::vector<int32_t> tags = pref_tags_named("vellgrim");
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tag_file_get_version(tags[0]), VELLGRIM_PREFERENCES_VERSION);
  EXPECT_EQ(tag_file_get_size(tags[0]), 80);
}

TEST_F(Preferences, SaveNeverWritesIntoAnotherRecordsTag) {
  // "vellum" takes the identifier `vell` that "vellgrim" derives from its name.
  store("vellum", VELLGRIM_PREFERENCES_VERSION, std::vector<uint8_t>(80, 0x11));
  ASSERT_EQ(pref_tags_named("vellum").size(), 1u);
  ASSERT_EQ(tag_file_get_identifier(pref_tags_named("vellum")[0]), make_tag("vell"));
  std::string other = folder.read_file("preferences/vellum");

  preferences_load(&vellgrim_preferences_descriptor);
  vellgrim_preferences_get()->place_unit_flags = 9;
  ASSERT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  EXPECT_EQ(folder.read_file("preferences/vellum"), other);
  std::vector<int32_t> ours = pref_tags_named("vellgrim");
  ASSERT_EQ(ours.size(), 1u);
  EXPECT_NE(tag_file_get_identifier(ours[0]), make_tag("vell"));

  // Read back by its name, not through the other record's identifier.
  ASSERT_NE(preferences_load(&vellgrim_preferences_descriptor), nullptr);
  EXPECT_EQ(vellgrim_preferences_get()->place_unit_flags, 9);
}

TEST_F(Preferences, FailedSaveIsReportedAndKeepsBothCopies) {
  auto* record = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  ASSERT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  std::string before = folder.read_file("preferences/vellgrim");
  handle_error();

  record->place_scenery_flags = 0x00FF;
  atomic_file_set_test_hook([](const file_specification*) { return false; });
  EXPECT_FALSE(preferences_save(&vellgrim_preferences_descriptor));
  EXPECT_EQ(error_pending_code(), error_file_write);
  EXPECT_EQ(record->place_scenery_flags, 0x00FF);  // still native, still the edited value
  EXPECT_EQ(folder.read_file("preferences/vellgrim"), before);
}

TEST_F(Preferences, SaveWithoutLoadDoesNothing) {
  EXPECT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  EXPECT_TRUE(pref_tags_named("vellgrim").empty());
}

TEST_F(Preferences, InputRecordOutsideTheBuiltInSetsIsReplaced) {
  std::vector<uint8_t> bytes(2748, 0xAB);
  bytes[0] = 0;
  bytes[1] = 1;  // "Left Handed"
  store("input", INPUT_PREFERENCES_VERSION, bytes);
  auto* input = static_cast<input_preferences*>(preferences_load(&input_preferences_descriptor));
  ASSERT_NE(input, nullptr);
  EXPECT_EQ(input->key_binding_set, 1);
  EXPECT_EQ(input->kept[0], 0xAB);

  // The set just past the built-in ones, one far past and a negative one are all replaced.
  for (uint16_t set : {uint16_t(NUMBER_OF_BUILT_IN_KEY_BINDING_SETS), uint16_t(7), uint16_t(0xFFFF)}) {
    SCOPED_TRACE(set);
    bytes[0] = uint8_t(set >> 8);
    bytes[1] = uint8_t(set);
    store("input", INPUT_PREFERENCES_VERSION, bytes);
    input = static_cast<input_preferences*>(preferences_load(&input_preferences_descriptor));
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->key_binding_set, 0);
    EXPECT_EQ(input->kept[0], 0);
  }
}

}  // namespace
