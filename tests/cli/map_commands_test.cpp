// vellgrim-tool map ...: run as a child process against a store whose maps are made in code.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "map/mesh_file.h"
#include "render/shapes.h"
#include "support/collection_fixtures.h"
#include "support/map_test_store.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::json;

class MapCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    map_fixture good = map_fixture_full();
    int32_t good_index = store.store_map("Good Map", good);
    ASSERT_NE(good_index, NONE);
    identifier = tag_file_get_identifier(good_index);

    map_fixture old = map_fixture_new(1, 1);  // version 7, no LOD data
    old.header.ambient_sound_tag = make_tag("gone");
    ASSERT_NE(store.store_map("Old Map", old, 7), NONE);

    map_fixture broken = map_fixture_full();
    broken.markers[2].type = 40;
    ASSERT_NE(store.store_map("Broken Map", broken), NONE);

    // Two faults of the layout: a count that disagrees with its size, and a LOD size that
    // disagrees with the map's.
    map_fixture tangled = map_fixture_full();
    int32_t tangled_index = store.store_map("Tangled Map", tangled);
    ASSERT_NE(tangled_index, NONE);
    std::vector<uint8_t> bytes = tangled.tag_data();
    auto put32 = [&bytes](size_t offset, uint32_t value) {
      for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = uint8_t(value >> (24 - 8 * i));
    };
    put32(36, 4);
    put32(208, 510);
    ASSERT_TRUE(tag_file_replace_contents(&tangled_index, bytes.data(), int32_t(bytes.size())));

    map_fixture ancient = map_fixture_new(1, 1);
    ASSERT_NE(store.store_map("Ancient Map", ancient, 4), NONE);

    // A 2 x 1 map whose collection holds the textures of one submesh, as a save torn between the
    // two tags would leave it.
    map_fixture wide = map_fixture_new(2, 1);
    int32_t wide_index = store.store_map("Torn Map", wide);
    ASSERT_NE(wide_index, NONE);
    mesh_definition wide_header;
    ASSERT_TRUE(mesh_read_header(wide_index, &wide_header));
    int32_t textures = tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, wide_header.landscape_collection_tag);
    std::vector<uint8_t> one_submesh = fixture_map_collection(1, 1, 3, 200).tag_data();
    ASSERT_TRUE(tag_file_replace_contents(&textures, one_submesh.data(), int32_t(one_submesh.size())));
    store.close();
  }

  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(store.folder().path(), arguments); }
  json tool_json(const std::vector<std::string>& arguments) { return run_tool_json(store.folder().path(), arguments); }

  map_test_store store;
  tag identifier = NONE_TAG;
};

TEST_F(MapCommandsTest, ARunAddsToTheLogOfTheRunningEditor) {
  ASSERT_TRUE(store.folder().write_file("tarn_log.txt", "the editor's line\n"));
  ASSERT_EQ(tool({"map", "check", "Good Map"}).exit_code, 0);
  const std::string log = store.folder().read_file("tarn_log.txt");
  EXPECT_EQ(log.rfind("the editor's line\n", 0), 0u) << log;
  EXPECT_NE(log.find("vellgrim-tool running under"), std::string::npos) << log;
}

TEST_F(MapCommandsTest, ReadersSucceedWhileTheEditorHoldsTheStoreWithTheMapOpen) {
  // This process plays the editor: it holds the store lock and has the map's file open.
  ASSERT_TRUE(tag_files_lock_instance());
  ASSERT_TRUE(tag_files_open(false, {}, -1));
  const int32_t map = tag_file_find(MESH_DEFINITION_GROUP_TAG, identifier);
  uint8_t head[4];
  ASSERT_TRUE(tag_file_read(map, 0, 4, head));

  tool_result checked = tool({"map", "check", "Good Map"});
  EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
  EXPECT_NE(checked.out.find("Good Map: no problems"), std::string::npos) << checked.out;
  tool_result shown = tool({"map", "info", "Good Map"});
  EXPECT_EQ(shown.exit_code, 0) << shown.err;
  // A readable summary, not the JSON record: the name, the size, the references by name, the
  // markers counted by type and the sections with their sizes.
  EXPECT_NE(shown.out.find("name:      Good Map\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("size:      1x1 submeshes (32x32 cells)"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("markers:   7 ("), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("  cells               12288 bytes"), std::string::npos) << shown.out;
  EXPECT_EQ(shown.out.find('{'), std::string::npos) << shown.out;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", unsigned(identifier));
  tool_result dumped = tool({"tags", "cat", "mesh", hex});
  EXPECT_EQ(dumped.exit_code, 0) << dumped.err;
  EXPECT_EQ(dumped.out.size(), size_t(tag_file_get_size(map)));
  // A writer is refused while the editor runs, and says why.
  tool_result resaved = tool({"map", "resave", "Good Map"});
  EXPECT_NE(resaved.exit_code, 0);
  EXPECT_NE(resaved.err.find("another program is using the tag store"), std::string::npos) << resaved.err;
  tag_files_unlock();
}

TEST_F(MapCommandsTest, ListShowsEveryMapWithItsSize) {
  json list = tool_json({"map", "list", "--json"});
  ASSERT_TRUE(list.is_array());
  ASSERT_EQ(list.size(), 6u);
  json by_name;
  for (const json& map : list) by_name[map["name"].get<std::string>()] = map;
  EXPECT_EQ(by_name["Good Map"]["width"], 1);
  EXPECT_EQ(by_name["Good Map"]["height"], 1);
  EXPECT_EQ(by_name["Old Map"]["version"], 7);
  tool_result plain = tool({"map", "list"});
  EXPECT_EQ(plain.exit_code, 0);
  EXPECT_NE(plain.out.find("1x1"), std::string::npos);
  EXPECT_NE(plain.out.find("Broken Map"), std::string::npos);
}

TEST_F(MapCommandsTest, InfoShowsHeaderSectionsAndLoadedReferences) {
  json info = tool_json({"map", "info", "Good Map", "--json"});
  EXPECT_EQ(info["loaded"], true);
  EXPECT_EQ(info["header"]["width"], 1);
  EXPECT_EQ(info["header"]["mesh_lighting_tag"], "gras");
  EXPECT_EQ(info["header"]["team_count"], 3);
  EXPECT_EQ(info["header"]["dark_color"]["blue"], 3932);
  EXPECT_EQ(info["sections"]["markers"]["count"], 7);
  EXPECT_EQ(info["sections"]["cells"]["size"], 12288);
  EXPECT_EQ(info["sections"]["lod"]["count"], 256);
  ASSERT_TRUE(info["references"].is_array());
  EXPECT_EQ(info["references"][0]["field"], "landscape_collection_tag");
  EXPECT_EQ(info["references"][0]["name"], "Good Map");
  EXPECT_EQ(info["references"][0]["index"], 0);
  EXPECT_EQ(info["references"][1]["name"], "water");

  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", identifier);
  json by_identifier = tool_json({"map", "info", hex, "--json"});
  EXPECT_EQ(by_identifier["name"], "Good Map");

  tool_result missing = tool({"map", "info", "No Such Map"});
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_NE(missing.err.find("no map 'No Such Map'"), std::string::npos);
  tool_result malformed = tool({"map", "info", "0xfeedbeefcafe"});
  EXPECT_NE(malformed.exit_code, 0);
  EXPECT_NE(malformed.err.find("bad map identifier '0xfeedbeefcafe'"), std::string::npos) << malformed.err;
}

TEST_F(MapCommandsTest, CheckReportsEveryProblemAndFailsOnAny) {
  tool_result good = tool({"map", "check", "Good Map"});
  EXPECT_EQ(good.exit_code, 0) << good.out;
  EXPECT_NE(good.out.find("no problems"), std::string::npos);

  tool_result broken = tool({"map", "check", "Broken Map"});
  EXPECT_NE(broken.exit_code, 0);
  EXPECT_NE(broken.out.find("marker 2 has type 40"), std::string::npos) << broken.out;

  tool_result old = tool({"map", "check", "Old Map"});
  EXPECT_NE(old.exit_code, 0);
  EXPECT_NE(old.out.find("ambient_sound_tag names 'gone'"), std::string::npos) << old.out;
  EXPECT_NE(old.out.find("no LOD data"), std::string::npos) << old.out;
  EXPECT_NE(old.out.find("2 problems"), std::string::npos) << old.out;

  // Every fault of the layout is listed, not just the first.
  tool_result tangled = tool({"map", "check", "Tangled Map"});
  EXPECT_NE(tangled.exit_code, 0);
  EXPECT_NE(tangled.out.find("Tangled Map: palette entry count 4 disagrees with its size of 96 bytes"), std::string::npos)
      << tangled.out;
  EXPECT_NE(tangled.out.find("Tangled Map: LOD size of 510 bytes disagrees with 1 x 1 submeshes"), std::string::npos)
      << tangled.out;
  EXPECT_NE(tangled.out.find("Tangled Map: 2 problems"), std::string::npos) << tangled.out;

  tool_result ancient = tool({"map", "check", "Ancient Map"});
  EXPECT_NE(ancient.exit_code, 0);
  EXPECT_NE(ancient.out.find("version 4 is older than 5"), std::string::npos) << ancient.out;
  tool_result torn = tool({"map", "check", "Torn Map"});
  EXPECT_NE(torn.exit_code, 0);
  EXPECT_NE(torn.out.find("Torn Map: the collection holds 2 bitmaps where the map's 2x1 submeshes need 4"),
            std::string::npos)
      << torn.out;
  json shown = tool_json({"map", "info", "Ancient Map", "--json"});
  EXPECT_EQ(shown["loaded"], false);
  EXPECT_EQ(shown["header"]["width"], 1);
}

TEST_F(MapCommandsTest, ResaveRecomputesTheLodAndUpgradesTheVersion) {
  tool_result resaved = tool({"map", "resave", "Old Map"});
  EXPECT_EQ(resaved.exit_code, 0) << resaved.err;
  json info = tool_json({"map", "info", "Old Map", "--json"});
  EXPECT_EQ(info["version"], 11);
  EXPECT_EQ(info["header"]["lod_size"], 512);
  EXPECT_EQ(info["size"], 1024 + 12288 + 512);
  tool_result check = tool({"map", "check", "Old Map"});
  EXPECT_EQ(check.out.find("LOD"), std::string::npos) << check.out;

  EXPECT_NE(tool({"map", "resave", "Broken Map"}).exit_code, 0);
  EXPECT_NE(tool({"map", "resave", "Tangled Map"}).exit_code, 0);
  EXPECT_EQ(tool_json({"map", "info", "Tangled Map", "--json"})["header"]["lod_size"], 510);  // as it was
}

}  // namespace

namespace {

std::vector<std::vector<long>> path_rows(const std::string& out) {
  std::vector<std::vector<long>> rows;
  size_t start = out.find('\n') + 1;  // after the column names
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    std::vector<long> row;
    size_t at = start;
    while (at < end) {
      size_t used = 0;
      row.push_back(std::stol(out.substr(at, end - at), &used));
      at += used;
      while (at < end && out[at] == ' ') ++at;
    }
    rows.push_back(row);
    start = end + 1;
  }
  return rows;
}

TEST_F(MapCommandsTest, ObserverShowsTheCameraPathWhileKeysAreHeld) {
  tool_result forward = tool({"map", "observer", "Good Map", "--keys", "w", "--ticks", "40"});
  ASSERT_EQ(forward.exit_code, 0) << forward.err;
  const auto rows = path_rows(forward.out);
  ASSERT_EQ(rows.size(), 41u);
  EXPECT_EQ(rows[0][1], 32 * 256);  // no observer marker: the centre, facing 0
  EXPECT_EQ(rows[0][4], 0);
  EXPECT_EQ(rows[0][8], 1);
  for (size_t i = 1; i < rows.size(); ++i) {
    EXPECT_GT(rows[i][1], rows[i - 1][1]) << i;  // east, along the facing
    EXPECT_EQ(rows[i][2], rows[0][2]) << i;
  }
  // Slow steps of the first ticks still count as rest; at full speed it moves.
  EXPECT_EQ(rows[1][8], 1);
  EXPECT_EQ(rows.back()[8], 0);
  // Keys that bind nothing move nothing; keypad and other keys are not letters.
  tool_result still = tool({"map", "observer", "Good Map", "--keys", "h", "--ticks", "5"});
  ASSERT_EQ(still.exit_code, 0) << still.err;
  EXPECT_EQ(path_rows(still.out).back()[1], 32 * 256);
  tool_result refused = tool({"map", "observer", "Good Map", "--keys", "w!"});
  EXPECT_NE(refused.exit_code, 0);
  EXPECT_NE(refused.err.find("'!' is not a letter or digit key"), std::string::npos) << refused.err;
}

}  // namespace
