// Collections loaded from local tags: the definition group, write-back, shading tables and
// collection references.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "render/collection_references.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "support/collection_fixtures.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"

namespace {

constexpr tag kCollectionGroup = make_tag(".256");

uint16_t wide(int32_t x, int32_t y) { return static_cast<uint16_t>(0x2300 + x * 16 + y); }

class Collections : public ::testing::Test {
 protected:
  void SetUp() override {
    error_manager_initialize("vellgrim");
    ASSERT_TRUE(tag_files_initialize());
    ASSERT_TRUE(tag_files_open(false, {}, -1));
    ASSERT_TRUE(shapes_initialize());
    ASSERT_TRUE(definition_groups_initialize());
    definition_groups_validate();
  }
  void TearDown() override {
    shapes_dispose();
    definition_groups_dispose();
    tag_files_close();
  }

  // Stores the bytes as a `.256` tag; answers its identifier.
  tag store(const char* name, const std::vector<uint8_t>& bytes, int16_t version = COLLECTION_DEFINITION_VERSION) {
    const int32_t tag_index = fixture_store_tag(kCollectionGroup, name, version, bytes);
    EXPECT_NE(tag_index, NONE);
    return tag_file_get_identifier(tag_index);
  }

  std::string log() const { return folder.read_file("tarn_log.txt"); }

  scoped_work_folder folder;
};

collection_fixture sprite_fixture() {
  collection_fixture fixture;
  fixture.colors = {{0, 0, 0, 0}, {65535, 0, 0, 0}, {0, 32768, 65535, 0}};
  fixture.hue_changes.push_back({0, 0, {1}});
  fixture.bitmaps.push_back(fixture_raw_bitmap(4, 4, 0x20, 16, wide));
  fixture.instances = {{0, 0}};
  fixture.sequences.push_back({"stand", 0, 65536, 1, {{0}}});
  return fixture;
}

TEST_F(Collections, LoadsOnceAndAnswersTheSameIndex) {
  const tag identifier = store("Sprites", sprite_fixture().tag_data());
  const int16_t collection = collection_load(static_cast<int32_t>(identifier));
  ASSERT_GE(collection, 0);
  EXPECT_EQ(collection_load(static_cast<int32_t>(identifier)), collection);
  EXPECT_EQ(collection_definitions.count, 1);
  EXPECT_STREQ(collection_get_name(collection), "Sprites");
  EXPECT_EQ(collection_get_bitmap_count(collection), 1);
  const bitmap_data* bitmap = collection_get_bitmap(collection, 0);
  ASSERT_NE(bitmap, nullptr);
  uint16_t pixel;
  std::memcpy(&pixel, bitmap_get_row(bitmap, 3) + 2, 2);
  EXPECT_EQ(pixel, wide(1, 3));
  EXPECT_EQ(collection_get_bitmap(collection, 1), nullptr);
  EXPECT_EQ(collection_get_color_table(collection)->count, 3u);
  EXPECT_EQ(error_pending_code(), 0);
}

TEST_F(Collections, SubmeshTexturesOnlyFromMapCollections) {
  const tag map = store("meadow", fixture_map_collection(2, 1, 7, 200).tag_data());
  const tag sprites = store("sprites", sprite_fixture().tag_data());
  const int16_t map_collection = collection_load(static_cast<int32_t>(map));
  const int16_t sprite_collection = collection_load(static_cast<int32_t>(sprites));
  ASSERT_GE(map_collection, 0);
  ASSERT_GE(sprite_collection, 0);
  const uint8_t* color_map = collection_get_submesh_texture(map_collection, 2, false);
  const uint8_t* shadow_map = collection_get_submesh_texture(map_collection, 3, true);
  ASSERT_NE(color_map, nullptr);
  ASSERT_NE(shadow_map, nullptr);
  EXPECT_EQ(color_map[256 * 256 - 1], 7);
  EXPECT_EQ(shadow_map[0], 200);
  EXPECT_EQ(color_map, reinterpret_cast<const uint8_t*>(collection_get_bitmap(map_collection, 2)) + 52);
  EXPECT_EQ(collection_get_submesh_texture(map_collection, 4, false), nullptr);
  EXPECT_EQ(collection_get_submesh_texture(sprite_collection, 0, false), nullptr);

  // A map collection whose bitmaps are not whole textures hands out none of them: callers read
  // 256 x 256 bytes.
  collection_fixture odd = fixture_map_collection(1, 1, 7, 200);
  odd.bitmaps[0] = fixture_raw_bitmap(4, 4, 0x21, 8, [](int32_t, int32_t) -> uint16_t { return 1; });
  odd.bitmaps[1] = fixture_raw_bitmap(256, 256, 0x21, 8, [](int32_t, int32_t) -> uint16_t { return 1; }, 300);
  odd.bitmaps.push_back(fixture_raw_bitmap(256, 256, 0, 16, [](int32_t, int32_t) -> uint16_t { return 1; }));
  const int16_t odd_collection = collection_load(static_cast<int32_t>(store("odd", odd.tag_data())));
  ASSERT_GE(odd_collection, 0);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(collection_get_submesh_texture(odd_collection, i, false), nullptr) << i;
}

TEST_F(Collections, WrittenBitmapsSurviveAReload) {
  collection_fixture fixture = fixture_map_collection(1, 1, 7, 200);
  fixture.bitmaps.push_back(fixture_raw_bitmap(4, 4, 0, 16, wide));
  fixture.bitmaps.push_back(fixture_encoded_bitmap(6, {{{{1, 2}}, {0x1234, 0x5678}}}, BITMAP_ROWS_PADDED, 16));
  const tag identifier = store("meadow", fixture.tag_data());
  int16_t collection = collection_load(static_cast<int32_t>(identifier));
  ASSERT_GE(collection, 0);

  bitmap_data* shadow = collection_get_bitmap(collection, 1);
  shadow->flags |= BITMAP_IS_PROTECTED;
  bitmap_get_row(shadow, 10)[20] = 33;
  for (int32_t i = 1; i < 4; ++i) ASSERT_TRUE(collection_write_bitmap(collection, i));
  EXPECT_EQ(bitmap_get_row(shadow, 10)[20], 33);  // the loaded copy stays as it is

  collection_unload(collection);
  EXPECT_EQ(collection_definitions.count, 0);
  collection = collection_load(static_cast<int32_t>(identifier));
  ASSERT_GE(collection, 0);
  shadow = collection_get_bitmap(collection, 1);
  EXPECT_EQ(bitmap_get_row(shadow, 10)[20], 33);
  EXPECT_EQ(bitmap_get_row(shadow, 10)[21], 200);
  EXPECT_TRUE(shadow->flags & BITMAP_IS_PROTECTED);
  uint16_t pixel;
  std::memcpy(&pixel, bitmap_get_row(collection_get_bitmap(collection, 2), 2) + 6, 2);
  EXPECT_EQ(pixel, wide(3, 2));
  const uint8_t* encoded = bitmap_get_row(collection_get_bitmap(collection, 3), 0);
  std::memcpy(&pixel, encoded + 10, 2);
  EXPECT_EQ(pixel, 0x5678);
  EXPECT_FALSE(collection_write_bitmap(collection, 9));
}

TEST_F(Collections, RefusedCollectionsLoadNothing) {
  std::vector<uint8_t> bytes = sprite_fixture().tag_data();
  fixture_put32(bytes, 252, static_cast<uint32_t>(bytes.size()));  // data block past the tag's end
  const tag outside = store("outside", bytes);
  EXPECT_EQ(collection_load(static_cast<int32_t>(outside)), -1);
  EXPECT_EQ(error_pending_code(), error_data_corrupted);
  handle_error();

  bytes = sprite_fixture().tag_data();
  fixture_put32(bytes, 96 + 4, 0x10000);  // bitmap references outside the block
  const tag corrupted = store("corrupted", bytes);
  EXPECT_EQ(collection_load(static_cast<int32_t>(corrupted)), -1);
  EXPECT_EQ(collection_load(static_cast<int32_t>(corrupted)), -1);
  const int16_t slot = definition_find(&collection_definitions, corrupted);
  EXPECT_EQ(collection_get_bitmap(slot, 0), nullptr);
  EXPECT_NE(log().find("corrupted collection is corrupted: the bitmap references"), std::string::npos) << log();
  handle_error();

  const tag newer = store("newer", sprite_fixture().tag_data(), 5);
  EXPECT_EQ(collection_load(static_cast<int32_t>(newer)), -1);
  EXPECT_EQ(collection_get_bitmap(definition_find(&collection_definitions, newer), 0), nullptr);
  EXPECT_NE(log().find("collection definition for 'newer' is too new (#5>#4)."), std::string::npos);
  handle_error();

  // A stored run-time flag does not pass a collection off as fixed up.
  bytes = sprite_fixture().tag_data();
  fixture_put32(bytes, 0, COLLECTION_FIXED_UP);
  const tag flagged = store("flagged", bytes, 3);
  EXPECT_EQ(collection_load(static_cast<int32_t>(flagged)), -1);
  EXPECT_EQ(collection_get_header(definition_find(&collection_definitions, flagged)), nullptr);
}

TEST_F(Collections, SequenceChecks) {
  const int16_t collection = collection_load(static_cast<int32_t>(store("sprites", sprite_fixture().tag_data())));
  ASSERT_GE(collection, 0);
  EXPECT_TRUE(collection_check_sequence(collection, -1));
  EXPECT_TRUE(collection_check_sequence(collection, 0));
  EXPECT_EQ(error_pending_code(), 0);
  EXPECT_FALSE(collection_check_sequence(collection, 1));
  EXPECT_EQ(error_pending_code(), error_array_out_of_bounds);
  EXPECT_NE(log().find("sequence #1 not in [#0,#1) for \"sprites\" collection"), std::string::npos) << log();
}

TEST_F(Collections, ShadingTablesAreLightRampsAndLimited) {
  const int16_t collection = collection_load(static_cast<int32_t>(store("sprites", sprite_fixture().tag_data())));
  ASSERT_GE(collection, 0);
  shading_table_request full;
  int32_t levels = 0;
  const int16_t first = collection_add_shading_table(collection, full);
  ASSERT_EQ(first, 0);
  const uint16_t* table = collection_get_shading_table(collection, first, &levels);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(levels, SHADING_TABLE_LEVELS);
  EXPECT_EQ(table[63 * 256 + 1], SCREEN_RED_MASK);                    // full red at the last level
  EXPECT_EQ(table[63 * 256 + 2], screen_pixel(0, 32768, 65535));
  EXPECT_EQ(table[0 * 256 + 1], screen_pixel(65535 / 64, 0, 0));      // darkest level
  EXPECT_EQ(table[31 * 256 + 1], screen_pixel(32767, 0, 0));
  EXPECT_EQ(table[63 * 256 + 3], 0);                                  // past the colours

  shading_table_request reduced;
  reduced.levels = REDUCED_SHADING_TABLE_LEVELS;
  const rgb_color blue = {0, 0, 65535, 0};
  reduced.replacements = &blue;
  reduced.replacement_count = 1;
  const int16_t second = collection_add_shading_table(collection, reduced);
  table = collection_get_shading_table(collection, second, &levels);
  EXPECT_EQ(levels, 7);
  EXPECT_EQ(table[6 * 256 + 1] & SCREEN_RED_MASK, 0);  // red became blue through the hue change
  EXPECT_EQ(table[6 * 256 + 1] & SCREEN_BLUE_MASK, SCREEN_BLUE_MASK);
  EXPECT_EQ(collection_get_color_table(collection)->colors[1].red, 65535);  // the collection's own table is kept

  for (int i = 2; i < MAXIMUM_SHADING_TABLES_PER_COLLECTION; ++i) ASSERT_EQ(collection_add_shading_table(collection, full), i);
  EXPECT_EQ(collection_get_header(collection)->shading_table_count, 64);
  EXPECT_EQ(collection_add_shading_table(collection, full), -1);
  EXPECT_EQ(error_pending_code(), error_array_full);
  EXPECT_NE(log().find("can't add more than #64 color tables (sprites collection)."), std::string::npos);
}

std::vector<uint8_t> reference_bytes(tag collection, int16_t permutations, uint16_t special_flags) {
  std::vector<uint8_t> bytes(384, 0);
  fixture_put32(bytes, 0, collection);
  fixture_put16(bytes, 4, static_cast<uint16_t>(permutations));
  fixture_put16(bytes, 6, 128);
  for (int p = 0; p < 5; ++p) {
    fixture_put16(bytes, 8 + 64 * p + 2, static_cast<uint16_t>(10000 * p));  // green of the first colour
  }
  fixture_put16(bytes, 328, 65535);
  fixture_put16(bytes, 334, special_flags);
  return bytes;
}

TEST_F(Collections, CollectionReferencesBuildOneTablePerPermutation) {
  const tag sprites = store("sprites", sprite_fixture().tag_data());
  const int32_t tag_index =
      fixture_store_tag(make_tag("core"), "knight", 1, reference_bytes(sprites, 3, 0));
  const int16_t reference = definition_load(&collection_reference_definitions, tag_file_get_identifier(tag_index));
  ASSERT_GE(reference, 0);
  EXPECT_EQ(error_pending_code(), 0);
  auto* record = definition_get_as<collection_reference_definition>(&collection_reference_definitions, reference);
  EXPECT_EQ(record->collection_index, collection_load(static_cast<int32_t>(sprites)));
  EXPECT_EQ(record->shading_tables[0], 0);
  EXPECT_EQ(record->shading_tables[2], 2);
  EXPECT_EQ(record->shading_tables[3], -1);
  int32_t levels = 0;
  const uint16_t* table = collection_get_shading_table(record->collection_index, 0, &levels);
  EXPECT_EQ(levels, REDUCED_SHADING_TABLE_LEVELS);
  // The special colour tints half way (mode 128 of 256) toward red.
  EXPECT_EQ(table[6 * 256 + 0], screen_pixel(32767, 0, 0));

  const rgb_color specials[2] = {{0, 0, 0, RGB_COLOR_UNUSED}, {0, 0, 0, RGB_COLOR_UNUSED}};
  const int16_t instance = collection_reference_new_instance(reference, specials, 7);
  ASSERT_GT(instance, reference);
  EXPECT_EQ(collection_reference_definitions.subgroup_tags[instance], NONE_TAG);
  EXPECT_EQ(definition_get_as<collection_reference_definition>(&collection_reference_definitions, instance)->shading_tables[0], 3);
  EXPECT_EQ(definition_load(&collection_reference_definitions, tag_file_get_identifier(tag_index)), reference);
}

TEST_F(Collections, CollectionReferencesWithoutPermutationsFail) {
  const tag sprites = store("sprites", sprite_fixture().tag_data());
  const int32_t none = fixture_store_tag(make_tag("core"), "empty", 1, reference_bytes(sprites, 0, 0));
  EXPECT_GE(definition_load(&collection_reference_definitions, tag_file_get_identifier(none)), 0);
  EXPECT_NE(log().find("collection reference empty has no permutations."), std::string::npos) << log();
  EXPECT_NE(log().find("collection reference definition postprocess failed on 'empty'."), std::string::npos);

  const int32_t many = fixture_store_tag(make_tag("core"), "many", 1, reference_bytes(sprites, 9, 0));
  const int16_t reference = definition_load(&collection_reference_definitions, tag_file_get_identifier(many));
  auto* record = definition_get_as<collection_reference_definition>(&collection_reference_definitions, reference);
  EXPECT_EQ(record->shading_tables[4], -1);  // nothing read past the five permutations

  // The map's tint replaces the special colour when asked for.
  collections_set_map_tint({0, 0, 65535, 0}, 256);
  const int32_t tinted = fixture_store_tag(make_tag("core"), "tinted", 1, reference_bytes(sprites, 1, 2));
  const int16_t tinted_index = definition_load(&collection_reference_definitions, tag_file_get_identifier(tinted));
  record = definition_get_as<collection_reference_definition>(&collection_reference_definitions, tinted_index);
  const uint16_t* table = collection_get_shading_table(record->collection_index, record->shading_tables[0]);
  EXPECT_EQ(table[6 * 256 + 1], SCREEN_BLUE_MASK);
}

}  // namespace
