#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "map/mesh_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

#include "cseries/byte_swapping.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/map_actions.h"
#include "map/mesh_geometry.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "support/collection_fixtures.h"
#include "support/map_test_store.h"
#include "tag_files/archive_writer.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files.h"

namespace {

uint16_t get16(const std::vector<uint8_t>& bytes, size_t offset) {
  return read_big_endian_16(bytes.data() + offset);
}
uint32_t get32(const std::vector<uint8_t>& bytes, size_t offset) {
  return uint32_t(get16(bytes, offset)) << 16 | get16(bytes, offset + 2);
}

class MeshFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store.ready()); }
  // Stores the map and opens it.
  int32_t open(map_fixture& map, int16_t version = MESH_VERSION, const char* name = "Test Map") {
    int32_t tag_index = store.store_map(name, map, version);
    EXPECT_NE(tag_index, NONE);
    EXPECT_TRUE(mesh_load(tag_file_get_identifier(tag_index)));
    return tag_index;
  }
  std::vector<uint8_t> saved_bytes() {
    EXPECT_TRUE(mesh_save());
    return store.tag_bytes(mesh_globals.tag_index);
  }
  map_test_store store;
};

TEST_F(MeshFile, OneSubmeshMapHasItsSizes) {
  map_fixture map = map_fixture_new(1, 1);
  open(map);
  EXPECT_EQ(mesh_globals.cells_across, 32);
  EXPECT_EQ(mesh_globals.cells_down, 32);
  EXPECT_EQ(mesh_cell_count(), 1024);
  EXPECT_EQ(mesh_globals.header->cells_size, 12288);
  ASSERT_TRUE(mesh_recompute_lod());
  EXPECT_EQ(mesh_globals.header->lod_size, 512);
  std::vector<uint8_t> bytes = saved_bytes();
  EXPECT_EQ(bytes.size(), 1024u + 12288u + 512u);
  EXPECT_EQ(get32(bytes, 52), 0u);     // no markers
  EXPECT_EQ(get32(bytes, 60), 0u);
  EXPECT_EQ(get32(bytes, 28), 12288u + 512u);
  EXPECT_EQ(get32(bytes, 204), 12288u);  // LOD offset
}

TEST_F(MeshFile, SectionsRoundTripAndConvert) {
  map_fixture map = map_fixture_full();
  map.cells[33].ground_height = -1234;
  map.cells[33].media_height = 777;
  map.cells[33].terrain_and_flags = 0x2057;
  open(map);
  const mesh_state& m = mesh_globals;
  EXPECT_EQ(m.cells[33].ground_height, -1234);
  EXPECT_EQ(m.cells[33].media_height, 777);
  EXPECT_EQ(m.cells[33].terrain_and_flags & 0x20FF, 0x2057);
  EXPECT_EQ(m.cells[33].object_list, NONE);
  EXPECT_EQ(m.header->marker_count, 7);
  EXPECT_EQ(m.markers[6].type, _marker_sound_source);
  EXPECT_EQ(m.markers[6].user_data[0], 0x12);  // back in native order
  EXPECT_EQ(m.markers[2].location.x, 2000);
  EXPECT_EQ(m.palette[0].definition_tag, make_tag("warr"));
  EXPECT_EQ(m.palette[0].team, 2);
  EXPECT_EQ(m.connectors[0], 10001);
  EXPECT_EQ(m.connectors[31], 2);
  EXPECT_EQ(m.lod[5], 0x00F0);
  int32_t action_value = 0;
  EXPECT_TRUE(map_action_element_value(map_action_next(-1), 0, 0, &action_value));
  EXPECT_EQ(action_value, 0x7F);
  const int16_t* row3 = mesh_media_coverage_row(3);
  ASSERT_NE(row3, nullptr);
  EXPECT_EQ(row3[0], 0);
  EXPECT_EQ(row3[1], 100);
  EXPECT_EQ(mesh_media_coverage_row(4)[0], 256);
  EXPECT_EQ(mesh_media_coverage_row(256), nullptr);
  // The landscape collection waits for its first use.
  EXPECT_EQ(m.landscape_collection, NONE);
  EXPECT_EQ(mesh_landscape_collection(), 0);
  EXPECT_EQ(m.header->media_index, 0);
  EXPECT_EQ(m.header->ambient_sound_index, NONE);
}

TEST_F(MeshFile, SavingTwiceGivesTheSameBytesExceptMarkerOrderWithinAType) {
  map_fixture map = map_fixture_full();
  open(map);
  ASSERT_TRUE(mesh_recompute_lod());
  std::vector<uint8_t> first = saved_bytes();
  std::vector<uint8_t> second = saved_bytes();
  ASSERT_EQ(first.size(), second.size());
  const size_t markers = MESH_HEADER_SIZE + get32(first, 56), marker_bytes = get32(first, 60);
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + long(markers), second.begin()));
  EXPECT_TRUE(std::equal(first.begin() + long(markers + marker_bytes), first.end(),
                         second.begin() + long(markers + marker_bytes)));
  // Types descend; within a type the same records, in whatever order.
  auto records = [&](const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> list;
    for (size_t i = 0; i < marker_bytes; i += 64) {
      list.emplace_back(bytes.begin() + long(markers + i), bytes.begin() + long(markers + i + 64));
    }
    return list;
  };
  auto a = records(first), b = records(second);
  for (size_t i = 1; i < a.size(); ++i) EXPECT_GE(get16(a[i - 1], 4), get16(a[i], 4));
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
  EXPECT_EQ(get32(first, 84), 3u);  // teams from the Unit palette entries: highest team 2
}

TEST_F(MeshFile, HeaderFieldsTheEditorKeepsRoundTripByteForByte) {
  map_fixture map = map_fixture_full();
  uint8_t* raw = reinterpret_cast<uint8_t*>(&map.header);
  for (size_t offset : {114, 115, 226, 227}) raw[offset] = uint8_t(offset);
  for (size_t offset = 300; offset < 492; ++offset) raw[offset] = uint8_t(offset * 7);
  for (size_t offset = 516; offset < 548; ++offset) raw[offset] = uint8_t(offset * 3);
  for (size_t offset = 552; offset < 994; ++offset) raw[offset] = uint8_t(offset * 5);
  for (size_t offset = 1008; offset < 1024; ++offset) raw[offset] = uint8_t(offset);
  map.header.mesh_flags = 0x07000031;
  map.header.kept_80 = 0x01020304;
  map.header.kept_232[1] = 0xA0B0C0D0;
  map.header.kept_244[2] = -77;
  map.header.kept_548 = 0x55667788;
  map.header.observer_margin_right = 9;
  map.header.tint_amount = 120;
  map.header.pointer_32 = 0xDEADBEEF;  // meaningless on disk: read and ignored, written as zero
  map.header.pointer_296 = 0xDEADBEEF;
  open(map);
  const std::vector<uint8_t> original = map.tag_data();  // as stored, collection and media named
  const std::vector<uint8_t> written = saved_bytes();
  ASSERT_EQ(written.size(), original.size());
  for (size_t offset = 0; offset < MESH_HEADER_SIZE; ++offset) {
    bool pointer = offset - 32 < 4 || offset - 296 < 4;
    bool run_time = offset >= 994 && offset < 1008;
    if (pointer) {
      EXPECT_EQ(written[offset], 0) << "offset " << offset;
    } else if (!run_time) {
      EXPECT_EQ(written[offset], original[offset]) << "offset " << offset;
    }
  }
  EXPECT_EQ(get16(written, 1000), 0);  // the landscape collection and media slots are cleared
  EXPECT_EQ(get16(written, 1004), 0);
}

TEST_F(MeshFile, SectionsTheEditorDoesNotChangeAreWrittenBackAsStored) {
  map_fixture map = map_fixture_full();
  map.map_actions[17] = 0xC3;  // a field the editor keeps as it is
  map.map_actions[40] = 0x5A;  // kept bytes of the record
  map.connectors[0][5] = -2;
  open(map);
  const std::vector<uint8_t> original = map.tag_data();
  const std::vector<uint8_t> written = saved_bytes();
  ASSERT_EQ(written.size(), original.size());
  struct section {
    const char* name;
    size_t offset_field, size_field;
  };
  for (const section& s : {section{"palette", 40, 44}, section{"map actions", 132, 136},
                           section{"media coverage", 192, 196}, section{"LOD", 204, 208},
                           section{"connectors", 288, 292}}) {
    ASSERT_EQ(get32(written, s.offset_field), get32(original, s.offset_field)) << s.name;
    ASSERT_GT(get32(original, s.size_field), 0u) << s.name;
    const auto begin = long(MESH_HEADER_SIZE + get32(original, s.offset_field));
    const auto end = begin + long(get32(original, s.size_field));
    EXPECT_TRUE(std::equal(original.begin() + begin, original.begin() + end, written.begin() + begin)) << s.name;
  }
}

TEST_F(MeshFile, SelectionSurvivesASaveAndNeverReachesTheFile) {
  map_fixture map = map_fixture_new(1, 1);
  open(map);
  mesh_edit_cell(3, 2)->terrain_and_flags |= _cell_selected | _cell_transient;
  std::vector<uint8_t> bytes = saved_bytes();
  EXPECT_TRUE(mesh_edit_cell(3, 2)->terrain_and_flags & _cell_selected);
  EXPECT_FALSE(mesh_edit_cell(3, 2)->terrain_and_flags & _cell_transient);
  const size_t cell = MESH_HEADER_SIZE + (3 + 2 * 32) * 12;
  EXPECT_EQ(get16(bytes, cell + 4), 0x0066);
  for (size_t i = 0; i < 1024; ++i) EXPECT_FALSE(get16(bytes, MESH_HEADER_SIZE + i * 12 + 4) & 0x8000) << i;
}

TEST_F(MeshFile, VersionSevenIsUpgradedAndSavedAsEleven) {
  map_fixture map = map_fixture_new(1, 1);
  map.header.kept_80 = 0x11223344;
  map.header.dark_blend = 3;
  map.header.light_color = {1, 2, 3, 4};
  map.header.connector_definitions_tag = make_tag("old!");
  map.header.second_string_list_tag = make_tag("old!");
  std::memset(map.header.kept_300, 0xAB, sizeof(map.header.kept_300));
  std::fill(std::begin(map.header.kept_496), std::end(map.header.kept_496), int16_t(5));
  map.header.kept_504[0] = 99;
  int32_t tag_index = open(map, 7);
  const mesh_definition& h = *mesh_globals.header;
  EXPECT_EQ(h.kept_80, 0x11223344u);
  EXPECT_EQ(h.dark_blend, 230);
  EXPECT_EQ(h.light_blend, 25);
  EXPECT_EQ(h.dark_color.blue, 3932);
  EXPECT_EQ(h.light_color.red, 0xFFFF);
  EXPECT_EQ(h.light_color.green, 0xA147);
  EXPECT_EQ(h.light_color.blue, 0);
  EXPECT_EQ(h.normal_level_fraction, 0xF333u);
  EXPECT_EQ(h.connector_definitions_tag, NONE_TAG);
  EXPECT_EQ(h.second_string_list_tag, NONE_TAG);
  EXPECT_TRUE(std::all_of(std::begin(h.kept_300), std::end(h.kept_300), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(h.kept_496[0], -1);
  EXPECT_EQ(h.kept_496[2], -1);
  EXPECT_EQ(h.kept_496[3], 0);
  EXPECT_EQ(h.kept_504[0], 0u);
  ASSERT_TRUE(mesh_save());
  EXPECT_EQ(tag_file_get_version(mesh_globals.tag_index), MESH_VERSION);
  EXPECT_EQ(tag_file_get_identifier(mesh_globals.tag_index), tag_file_get_identifier(tag_index));
}

TEST_F(MeshFile, UpgradeStepsStartAtTheStoredVersion) {
  mesh_definition header{};
  header.kept_80 = 7;
  header.dark_blend = 4;
  ASSERT_TRUE(mesh_definition_upgrade(&header, 8));
  EXPECT_EQ(header.kept_80, 7u);
  EXPECT_EQ(header.dark_blend, 4);
  EXPECT_EQ(header.connector_definitions_tag, NONE_TAG);
  ASSERT_TRUE(mesh_definition_upgrade(&header, 5));
  EXPECT_EQ(header.kept_80, NONE_TAG);
  EXPECT_FALSE(mesh_definition_upgrade(&header, 4));
}

TEST_F(MeshFile, VersionsOutsideFiveToElevenAreRefused) {
  for (int16_t version : {4, 12}) {
    map_fixture map = map_fixture_new(1, 1);
    int32_t tag_index = store.store_map(version == 4 ? "Old Map" : "New Map", map, version);
    ASSERT_NE(tag_index, NONE);
    EXPECT_FALSE(mesh_load(tag_file_get_identifier(tag_index))) << version;
    EXPECT_FALSE(mesh_is_open());
    EXPECT_EQ(mesh_globals.header, nullptr);
    EXPECT_EQ(mesh_definitions.count, 0);
    EXPECT_EQ(handle_error(), 1);
  }
  EXPECT_NE(store.log().find("too old"), std::string::npos);
  EXPECT_NE(store.log().find("too new"), std::string::npos);
}

TEST_F(MeshFile, PostprocessShadesTheLandscapePublishesTheTintAndTriesEveryReference) {
  const int32_t notes = fixture_store_tag(string_list_definitions.group_tag, "notes", 1, std::vector<uint8_t>(16, 0));
  ASSERT_NE(notes, NONE);
  map_fixture map = map_fixture_new(1, 1);
  map.header.tint_color = {0x1000, 0x2000, 0x3000, 0};
  map.header.tint_amount = 77;
  map.header.ambient_sound_tag = make_tag("gone");  // missing: the later references still load
  map.header.description_string_list_tag = tag_file_get_identifier(notes);
  map.header.second_string_list_tag = tag_file_get_identifier(notes);
  open(map);
  const mesh_definition& h = *mesh_globals.header;
  EXPECT_EQ(h.ambient_sound_index, NONE);
  EXPECT_NE(h.description_string_list_index, NONE);
  EXPECT_NE(h.second_string_list_index, NONE);
  EXPECT_EQ(h.extra_collection_index, NONE);
  EXPECT_EQ(handle_error(), 1);
  EXPECT_NE(store.log().find("mesh definition postprocess failed on 'Test Map'"), std::string::npos) << store.log();

  rgb_color tint;
  int16_t amount;
  collections_get_map_tint(&tint, &amount);
  EXPECT_EQ(tint.blue, 0x3000);
  EXPECT_EQ(amount, 77);

  // The landscape's shading table follows the map's blends and colours.
  int32_t levels = 0;
  const uint16_t* table = collection_get_shading_table(mesh_landscape_collection(), 0, &levels);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(levels, SHADING_TABLE_LEVELS);
  const color_table* colors = collection_get_color_table(mesh_landscape_collection());
  ASSERT_NE(colors, nullptr);
  for (int32_t level : {0, 30, levels - 1}) {
    for (int32_t j : {0, 3, 255}) {
      rgb_color shaded = mesh_landscape_shade(h, colors->colors[j], level, levels);
      EXPECT_EQ(table[level * MAXIMUM_COLORS_PER_TABLE + j], screen_pixel(shaded.red, shaded.green, shaded.blue))
          << level << " " << j;
    }
  }
}

TEST_F(MeshFile, EmptyCoverageRegionCoversEveryRow) {
  map_fixture map = map_fixture_new(2, 1);
  open(map);
  EXPECT_EQ(mesh_globals.header->media_coverage_size, 0);
  for (int32_t row = 0; row < 256; ++row) {
    const int16_t* values = mesh_media_coverage_row(row);
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(values[0], 512) << row;
  }
  // Saving keeps the region empty.
  EXPECT_EQ(get32(saved_bytes(), 196), 0u);
}

TEST_F(MeshFile, FailedSaveLeavesTheTagAndTheMapAsTheyWere) {
  map_fixture map = map_fixture_full();
  open(map);
  ASSERT_TRUE(mesh_recompute_lod());
  std::vector<uint8_t> before = saved_bytes();
  mesh_edit_cell(1, 1)->ground_height = 4321;
  mesh_edit_cell(1, 1)->terrain_and_flags |= _cell_selected;
  const std::vector<mesh_cell> cells(mesh_globals.cells, mesh_globals.cells + mesh_cell_count());
  const std::vector<marker_data> markers(mesh_globals.markers, mesh_globals.markers + mesh_marker_count());

  atomic_file_set_test_hook([](const file_specification*) { return false; });
  EXPECT_FALSE(mesh_save());
  atomic_file_set_test_hook(nullptr);
  EXPECT_EQ(handle_error(), 1);
  EXPECT_EQ(store.tag_bytes(mesh_globals.tag_index), before);
  // The map in memory is untouched and in native order, and saves once the fault is gone.
  EXPECT_EQ(std::memcmp(cells.data(), mesh_globals.cells, cells.size() * sizeof(mesh_cell)), 0);
  // Only the stored copy is sorted by type: positions in the list in memory stay what the edit
  // journal recorded.
  EXPECT_EQ(std::memcmp(markers.data(), mesh_globals.markers, markers.size() * sizeof(marker_data)), 0);
  std::vector<uint8_t> after = saved_bytes();
  EXPECT_EQ(get16(after, MESH_HEADER_SIZE + 33 * 12), 4321);
}

TEST_F(MeshFile, AnArchiveMapIsSavedAsALocalTagUnderItsOwnIdentifier) {
  // The collection and media stay local; the map itself comes from the first install archive.
  map_fixture map = map_fixture_full();
  ASSERT_NE(store.store_map("Holder", map), NONE);
  const std::vector<uint8_t> bytes = map.tag_data();
  store.close();
  archive_writer_archive archive;
  archive_writer_tag entry;
  entry.group_tag = MESH_DEFINITION_GROUP_TAG;
  entry.tag_identifier = make_tag("arch");
  entry.name = "Archived Map";
  entry.version = 9;
  entry.data = bytes;
  archive.tags.push_back(entry);
  std::filesystem::create_directories("tags");
  file_specification file;
  file_spec_initialize(&file, 0);
  file_spec_append_folder(&file, "tags");
  file_spec_set_name(&file, install_archive_names[0]);
  ASSERT_TRUE(archive_writer_write(archive, &file));
  tag media_tag;
  ASSERT_TRUE(map_fixture_open_store(&media_tag));

  const int32_t archived = tag_file_find(MESH_DEFINITION_GROUP_TAG, make_tag("arch"));
  ASSERT_NE(archived, NONE);
  ASSERT_FALSE(tag_file_is_local(archived));
  ASSERT_TRUE(mesh_load(make_tag("arch")));
  mesh_edit_cell(2, 2)->ground_height = 777;
  ASSERT_TRUE(mesh_save());
  EXPECT_NE(mesh_globals.tag_index, archived);
  EXPECT_TRUE(tag_file_is_local(mesh_globals.tag_index));
  EXPECT_STREQ(tag_file_get_name(mesh_globals.tag_index), "Archived Map");
  EXPECT_EQ(tag_file_get_version(mesh_globals.tag_index), MESH_VERSION);
  EXPECT_EQ(tag_file_find(MESH_DEFINITION_GROUP_TAG, make_tag("arch")), mesh_globals.tag_index);
  mesh_unload();
  ASSERT_TRUE(mesh_load(make_tag("arch")));  // the local copy is the map from now on
  EXPECT_EQ(mesh_edit_cell(2, 2)->ground_height, 777);
  EXPECT_EQ(mesh_globals.header->marker_count, 7);
}

TEST_F(MeshFile, SaveRefusesASizeWithoutItsSectionAndSaysWhy) {
  map_fixture map = map_fixture_new(1, 1);
  open(map);
  const std::vector<uint8_t> before = saved_bytes();
  handle_error();
  mesh_globals.header->lod_size = 2 * mesh_lod_entry_count();  // promised, but no buffer behind it
  EXPECT_FALSE(mesh_save());
  EXPECT_EQ(error_pending_code(), error_data_mismatch);
  EXPECT_EQ(handle_error(), 1);
  EXPECT_NE(store.log().find("mesh 'Test Map' can't be saved: its LOD data (512 bytes) are missing."),
            std::string::npos)
      << store.log();
  EXPECT_EQ(store.tag_bytes(mesh_globals.tag_index), before);
}

TEST_F(MeshFile, CreateWritesANewMapThatOpens) {
  int32_t tag_index = tag_file_create(MESH_DEFINITION_GROUP_TAG, "Fresh", 11);
  ASSERT_NE(tag_index, NONE);
  ASSERT_TRUE(mesh_create(tag_index, store.media_tag(), 2, 1));
  std::vector<uint8_t> bytes = store.tag_bytes(tag_index);
  ASSERT_EQ(bytes.size(), 1024u + 2 * 12288u);
  EXPECT_EQ(get32(bytes, 0), tag_file_get_identifier(tag_index));
  EXPECT_EQ(get32(bytes, 68), make_tag("gras"));
  EXPECT_EQ(get32(bytes, 80), NONE_TAG);
  EXPECT_EQ(get16(bytes, 112), 2048);
  EXPECT_EQ(get16(bytes, 244), 0xFFFF);
  EXPECT_EQ(get32(bytes, 272), 0x3F000000u);
  EXPECT_EQ(get32(bytes, 276), 0x3FBF1AA0u);
  EXPECT_EQ(get16(bytes, 1024 + 4), 0x0066);

  mesh_definition header;
  ASSERT_TRUE(mesh_read_header(tag_index, &header));
  EXPECT_EQ(header.width, 2);
  EXPECT_EQ(header.data_size, 2 * 12288);
  EXPECT_EQ(header.dark_blend, 230);
  EXPECT_FALSE(mesh_create(tag_index, store.media_tag(), 0, 1));
  EXPECT_EQ(handle_error(), 1);
}

TEST_F(MeshFile, LimitsReportListsGroupsAndParameterBytes) {
  map_fixture map = map_fixture_full();
  open(map);
  // The landscape collection counts once something has used it.
  EXPECT_NE(mesh_limits_text().find("collection definitions: 0 / 256\n"), std::string::npos);
  ASSERT_NE(mesh_landscape_collection(), NONE);
  std::string text = mesh_limits_text();
  EXPECT_EQ(text.rfind("ambient sound definitions: 0 / 64\n", 0), 0u) << text;
  EXPECT_NE(text.find("collection definitions: 1 / 256\n"), std::string::npos) << text;
  EXPECT_LT(text.find("local proj group"), text.find("mesh_effect"));
  EXPECT_NE(text.find("\nMA params size: 12 / 98304\n"), std::string::npos) << text;
}

// ---- hostile maps ----

struct hostile_case {
  const char* what;
  std::function<void(map_fixture&, std::vector<uint8_t>&)> damage;  // on the laid-out map and its bytes
  const char* fault;  // the first fault the loader must report, or a part of it
  bool alone = true;  // and the only one
};

void put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = uint8_t(value >> (24 - 8 * i));
}
void put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
  bytes[offset] = uint8_t(value >> 8);
  bytes[offset + 1] = uint8_t(value);
}

// Each damaged map is refused by the one check that names its damage, not by a later one that
// happens to trip over it.
TEST_F(MeshFile, HostileMapsAreRefusedByTheCheckThatNamesTheDamage) {
  using B = std::vector<uint8_t>;
  const std::vector<hostile_case> cases = {
      {"zero width", [](map_fixture&, B& b) { put16(b, 8, 0); }, "width of 0 submeshes is outside 1..64"},
      {"negative height", [](map_fixture&, B& b) { put16(b, 10, 0xFFFF); }, "height of -1 submeshes is outside 1..64"},
      {"huge width", [](map_fixture&, B& b) { put16(b, 8, 0x4000); }, "width of 16384 submeshes is outside 1..64"},
      {"cells size", [](map_fixture&, B& b) { put32(b, 16, 12); }, "cells size of 12 bytes disagrees with 1 x 1"},
      {"data past the tag", [](map_fixture&, B& b) { put32(b, 28, get32(b, 28) + 2); }, "bytes at offset 1024 runs past the tag's"},
      // Every section then runs past the data too.
      {"negative data size", [](map_fixture&, B& b) { put32(b, 28, 0x80000000u); }, "data of -2147483648 bytes at offset 1024 runs past",
       false},
      {"data offset zero", [](map_fixture&, B& b) { put32(b, 24, 0); },
       "data offset 0 lies inside the 1024-byte header"},
      // Still within the tag: only the header check can tell.
      {"data offset just inside the header", [](map_fixture&, B& b) { put32(b, 24, 1020); },
       "data offset 1020 lies inside the 1024-byte header"},
      {"palette count", [](map_fixture&, B& b) { put32(b, 36, 4); }, "palette entry count 4 disagrees"},
      {"marker count overflow", [](map_fixture&, B& b) { put32(b, 52, 0x40000001); },
       "marker count 1073741825 disagrees"},
      // These two also overlap a neighbour, which is reported after.
      {"markers past data", [](map_fixture&, B& b) { put32(b, 56, get32(b, 28) - 10); }, "marker list (", false},
      {"negative offset", [](map_fixture&, B& b) { put32(b, 40, 0xFFFFFFF0u); }, "marker palette (", false},
      // The last section moved two bytes on: it overlaps nothing, it only ends past the data.
      {"connectors end past the data", [](map_fixture&, B& b) { put32(b, 288, get32(b, 288) + 2); }, "connectors (64 bytes at offset "},
      {"overlap", [](map_fixture&, B& b) { put32(b, 56, get32(b, 40) + 32); }, "marker palette overlap marker list"},
      {"map action count", [](map_fixture&, B& b) { put32(b, 128, 3); },
       "map actions size of 76 bytes disagrees with 3 actions"},
      // The map actions' records and blocks (the fixture's one action holds one integer parameter).
      {"map action block", [](map_fixture& m, B& b) { put16(b, 1024 + size_t(m.header.map_actions_offset) + 22, 400); },
       "map action 0 has 1 parameters in 400 bytes at 0, outside the 12 used bytes"},
      {"map action parameter type",
       [](map_fixture& m, B& b) { put16(b, 1024 + size_t(m.header.map_actions_offset) + 64, 21); },
       "map action 0 parameter 0 has type 21"},
      {"map action element count",
       [](map_fixture& m, B& b) { put16(b, 1024 + size_t(m.header.map_actions_offset) + 66, 2); },
       "map action 0 parameter 0 runs past its block of 12 bytes"},
      {"odd coverage", [](map_fixture&, B& b) { put32(b, 196, get32(b, 196) - 1); }, "media coverage size of "},
      {"LOD size", [](map_fixture&, B& b) { put32(b, 208, 510); }, "LOD size of 510 bytes disagrees"},
      {"connector count", [](map_fixture&, B& b) { put32(b, 284, 33); }, "connector count 33 is outside 0..32"},
      {"row does not close",
       [](map_fixture& m, B& b) { put16(b, 1024 + size_t(m.header.media_coverage_offset) + 2 * 257, 255); },
       "a row of the media coverage region does not close or runs backwards"},
      {"row runs backwards",
       [](map_fixture& m, B& b) { put16(b, 1024 + size_t(m.header.media_coverage_offset) + 2 * 3, 150); },
       "a row of the media coverage region does not close or runs backwards"},
      {"marker type", [](map_fixture& m, B& b) { put16(b, 1024 + size_t(m.header.markers_offset) + 4, 12); },
       "marker 0 has type 12"},
      {"palette type", [](map_fixture& m, B& b) { put16(b, 1024 + size_t(m.header.palette_offset), 0xFFFF); },
       "palette entry 0 has type -1"},
      {"connector chain",
       [](map_fixture& m, B& b) { put16(b, 1024 + size_t(m.header.connectors_offset) + 62, 40); },
       "connector 0 has a chain of 40 markers"},
  };
  int number = 0;
  for (const hostile_case& c : cases) {
    SCOPED_TRACE(c.what);
    map_fixture map = map_fixture_full();
    std::string name = "Hostile " + std::to_string(number++);
    int32_t tag_index = store.store_map(name.c_str(), map);
    ASSERT_NE(tag_index, NONE);
    std::vector<uint8_t> bytes = map.tag_data();
    c.damage(map, bytes);
    ASSERT_TRUE(tag_file_replace_contents(&tag_index, bytes.data(), int32_t(bytes.size())));
    std::vector<std::string> faults;
    EXPECT_FALSE(mesh_load(tag_file_get_identifier(tag_index), &faults));
    EXPECT_FALSE(mesh_is_open());
    ASSERT_FALSE(faults.empty());
    if (c.alone) {
      EXPECT_EQ(faults.size(), 1u) << ::testing::PrintToString(faults);
    }
    EXPECT_NE(faults[0].find(c.fault), std::string::npos) << faults[0];
    EXPECT_EQ(error_pending_code(), error_data_corrupted);
    handle_error();
    EXPECT_NE(store.log().find("mesh '" + name + "' is corrupted: " + faults[0] + "."), std::string::npos);
  }
  // A truncated header is refused by the reader.
  int32_t tag_index = tag_file_create(MESH_DEFINITION_GROUP_TAG, "Stub", 11);
  std::vector<uint8_t> stub(100, 0);
  ASSERT_TRUE(tag_file_write(&tag_index, 0, 100, stub.data()));
  EXPECT_FALSE(mesh_load(tag_file_get_identifier(tag_index)));
  EXPECT_FALSE(mesh_is_open());
}

TEST(MeshDescriptions, PlaceFieldsWhereTheFileHasThem) {
  EXPECT_EQ(byte_swap_description_size(mesh_definition_description), MESH_HEADER_SIZE);
  EXPECT_EQ(byte_swap_description_size(mesh_cell_description), 12);
  EXPECT_EQ(byte_swap_description_size(connector_description), 64);
  EXPECT_EQ(byte_swap_description_size(marker_data_description), 64);
  EXPECT_EQ(byte_swap_description_size(marker_palette_entry_description), 32);

  mesh_definition header{};
  header.width = 0x0102;
  header.dark_color.green = 0x0A0B;
  header.kept_114[0] = 1;
  header.observer_margin_top = 0x0C0D;
  header.pointer_20 = 0x11223344;
  header.connectors_size = 0x01020304;
  header.kept_1008[0] = 9;
  byte_swap_data(mesh_definition_description, &header, MESH_HEADER_SIZE, 1);
  std::vector<uint8_t> bytes(MESH_HEADER_SIZE);
  std::memcpy(bytes.data(), &header, MESH_HEADER_SIZE);
  EXPECT_EQ(get16(bytes, 8), 0x0102);
  EXPECT_EQ(get16(bytes, 94), 0x0A0B);
  EXPECT_EQ(bytes[114], 1);  // raw bytes stay where they are
  EXPECT_EQ(get16(bytes, 116), 0x0C0D);
  EXPECT_EQ(get32(bytes, 20), 0x44332211u);  // pointer slots are not converted
  EXPECT_EQ(get32(bytes, 292), 0x01020304u);
  EXPECT_EQ(bytes[1008], 9);

  mesh_cell cell{0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C};
  byte_swap_data(mesh_cell_description, &cell, 12, 1);
  std::vector<uint8_t> cell_bytes(12);
  std::memcpy(cell_bytes.data(), &cell, 12);
  EXPECT_EQ(get16(cell_bytes, 0), 0x0102);
  EXPECT_EQ(get16(cell_bytes, 8), 0x090A);
  EXPECT_EQ(cell.object_list, 0x0708);  // run-time heads are not converted
}

TEST(MarkerConversion, UserDataFollowsTheTypeInBothDirections) {
  marker_data markers[2] = {map_fixture_marker(_marker_model, 1, 0x01020304, 5),
                            map_fixture_marker(_marker_scenery, 0, 0, 0)};
  markers[0].user_data[0] = 0xAA;
  markers[0].user_data[2] = 0xBB;
  markers[1].user_data[0] = 0xCC;
  markers_convert_to_stored(markers, 2);
  std::vector<uint8_t> bytes(128);
  std::memcpy(bytes.data(), markers, 128);
  EXPECT_EQ(get16(bytes, 4), _marker_model);
  EXPECT_EQ(get32(bytes, 12), 0x01020304u);
  EXPECT_EQ(get16(bytes, 36), 0x00AA);  // the model's first user-data word is converted
  EXPECT_EQ(bytes[38], 0xBB);           // the rest is raw
  EXPECT_EQ(bytes[64 + 36], 0xCC);      // scenery has no user-data description
  markers_convert_to_native(markers, 2);
  EXPECT_EQ(markers[0].user_data[0], 0xAA);
  EXPECT_EQ(markers[0].location.x, 0x01020304);
}

TEST(MeshShading, BlendsTowardDarkBelowTheThresholdAndLightAbove) {
  mesh_definition header{};
  mesh_definition_set_shading_defaults(&header);
  const rgb_color grey = {0x8000, 0x8000, 0x8000, 0};
  // 64 levels: threshold (0xF333 * 63) >> 16 = 59.
  rgb_color darkest = mesh_landscape_shade(header, grey, 0, 64);
  EXPECT_EQ(darkest.red >> 8, ((230 * 0 + 26 * 0x8000) >> 8) >> 8);
  EXPECT_EQ(darkest.blue >> 8, ((230 * 3932 + 26 * 0x8000) >> 8) >> 8);
  rgb_color plain = mesh_landscape_shade(header, grey, 59, 64);
  EXPECT_EQ(plain.green, 0x8000);
  rgb_color lightest = mesh_landscape_shade(header, grey, 63, 64);
  EXPECT_EQ(lightest.red >> 8, ((25 * 0xFFFF + 231 * 0x8000) >> 8) >> 8);
  // Blends beyond 256 from a hostile header stay in range.
  header.light_blend = 30000;
  EXPECT_EQ(mesh_landscape_shade(header, {0xFFFF, 0, 0, 0}, 63, 64).red, 0xFF00);
  EXPECT_EQ(mesh_landscape_shade(header, {0xFFFF, 0, 0, 0}, 63, 64).blue, 0);
}

}  // namespace
