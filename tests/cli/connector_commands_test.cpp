// vellgrim-tool map connectors ...: run as a child process against a store whose map is made in code.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "engine/definition_groups.h"
#include "map/markers.h"
#include "render/shapes.h"
#include "support/collection_fixtures.h"
#include "support/map_test_store.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::json;

tag store_definition(const definition_group& group, const char* name, const std::vector<uint8_t>& bytes) {
  int32_t tag_index = fixture_store_tag(group.group_tag, name, group.version, bytes);
  return tag_index == NONE ? NONE_TAG : tag_file_get_identifier(tag_index);
}

class ConnectorCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_NE(store_definition(object_definitions, "basc", std::vector<uint8_t>(object_definitions.record_size, 0xFF)),
              NONE_TAG);
    ASSERT_NE(fixture_store_tag(COLLECTION_DEFINITION_GROUP_TAG, "plac", COLLECTION_DEFINITION_VERSION,
                                fixture_map_collection(1, 1, 3, 200).tag_data()),
              NONE);
    const tag rock =
        store_definition(scenery_definitions, "rock", std::vector<uint8_t>(scenery_definitions.record_size, 0xFF));
    std::vector<uint8_t> rope(32, 0);
    for (size_t i = 4; i < 8; ++i) rope[i] = 0xFF;
    const tag rope_definition = store_definition(connector_definitions, "rope", rope);
    ASSERT_NE(rope_definition, NONE_TAG);

    for (const char* name : {"fences", "bare"}) {
      map_fixture map = map_fixture_new(1, 1);
      map.header.connector_definitions_tag = std::string(name) == "fences" ? rope_definition : NONE_TAG;
      map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                     map_fixture_palette_entry(_marker_scenery, rock, NONE),
                     map_fixture_palette_entry(_marker_unit, make_tag("none"), 1)};
      map.markers = {map_fixture_marker(_marker_observer, 0, 1024, 2048)};
      for (int16_t i = 0; i < 5; ++i) {
        marker_data post = map_fixture_marker(_marker_scenery, 0, 1000 + 1500 * i, 3000);
        post.identifier = int16_t(2001 + i);
        map.markers.push_back(post);
      }
      marker_data unit = map_fixture_marker(_marker_unit, 0, 6000, 6000);
      unit.identifier = 2006;
      map.markers.push_back(unit);
      ASSERT_NE(store.store_map(name, map), NONE);
    }
    store.close();
  }

  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(store.folder().path(), arguments); }
  json list(const char* name) {
    return run_tool_json(store.folder().path(), {"map", "connectors", "list", name, "--json"});
  }

  map_test_store store;
};

TEST_F(ConnectorCommandsTest, AddSplitAndClearAreSaved) {
  json empty = list("fences");
  EXPECT_EQ(empty["count"], 0);
  EXPECT_EQ(empty["definitions_loaded"], true);

  tool_result added = tool({"map", "connectors", "add", "fences", "--markers", "2001,2002,2003,2004,2005"});
  ASSERT_EQ(added.exit_code, 0) << added.err;
  EXPECT_NE(added.out.find("added connector 0 to 'fences': 2001,2002,2003,2004,2005"), std::string::npos) << added.out;

  tool_result removed = tool({"map", "connectors", "remove-marker", "fences", "2003"});
  ASSERT_EQ(removed.exit_code, 0) << removed.err;
  json split = list("fences");
  ASSERT_EQ(split["count"], 2);
  EXPECT_EQ(split["connectors"][0]["markers"], json({2001, 2002}));
  EXPECT_EQ(split["connectors"][1]["markers"], json({2004, 2005}));
  EXPECT_EQ(split["connectors"][1]["missing"], json::array());

  tool_result text = tool({"map", "connectors", "list", "fences"});
  EXPECT_EQ(text.out, "fences: 2 connectors\n0: 2001,2002\n1: 2004,2005\n");

  tool_result cleared = tool({"map", "connectors", "clear", "fences"});
  ASSERT_EQ(cleared.exit_code, 0) << cleared.err;
  EXPECT_NE(cleared.out.find("removed 2 connectors from 'fences'"), std::string::npos);
  EXPECT_EQ(list("fences")["count"], 0);
  json info = run_tool_json(store.folder().path(), {"map", "info", "fences", "--json"});
  EXPECT_EQ(info["header"]["connectors_size"], 0);
}

TEST_F(ConnectorCommandsTest, RefusalsNameTheirReason) {
  struct refusal {
    std::vector<std::string> arguments;
    const char* reason;
  };
  std::string thirty_two = "2001";
  for (int i = 1; i < 32; ++i) thirty_two += ",2001";
  const refusal refusals[] = {
      {{"add", "fences", "--markers", "2001,2006"}, "'fences' has no scenery marker 2006"},  // a unit
      {{"add", "fences", "--markers", "2001,,2002"}, "bad marker list '2001,,2002'"},
      {{"add", "fences", "--markers", "2001,x"}, "bad marker list"},
      {{"add", "fences", "--markers", thirty_two}, "32 markers given: a connector holds at most 31"},
      {{"add", "bare", "--markers", "2001"}, "'bare' names no connector definitions"},
      {{"remove-marker", "fences", "2001"}, "scenery marker 2001 is in no connector of 'fences'"},
      {{"remove-marker", "fences", "0"}, "bad marker identifier 0"},
      {{"list", "nowhere"}, "no map 'nowhere' in the store"},
  };
  for (const refusal& r : refusals) {
    std::vector<std::string> arguments = {"map", "connectors"};
    arguments.insert(arguments.end(), r.arguments.begin(), r.arguments.end());
    tool_result result = tool(arguments);
    EXPECT_NE(result.exit_code, 0) << r.reason;
    EXPECT_NE(result.err.find(r.reason), std::string::npos) << result.err;
  }
  EXPECT_EQ(list("fences")["count"], 0);  // nothing was written
}

}  // namespace
