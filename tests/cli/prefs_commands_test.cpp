// vellgrim-tool prefs show, and the markers of map info: run as a child process.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "engine/preferences.h"
#include "support/map_test_store.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::json;

class PrefsAndMarkerCommands : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store.ready()); }

  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(store.folder().path(), arguments); }
  json tool_json(const std::vector<std::string>& arguments) { return run_tool_json(store.folder().path(), arguments); }

  map_test_store store;
};

TEST_F(PrefsAndMarkerCommands, PrefsShowGivesTheDefaultsThenTheStoredRecord) {
  json defaults = tool_json({"prefs", "show", "--json"});
  EXPECT_EQ(defaults["place_sound_source_flags"], 7);
  EXPECT_EQ(defaults["place_model_animation_flags"], 3);
  EXPECT_DOUBLE_EQ(defaults["painter_raise_rate"].get<double>(), double(1.0f / 12.0f));
  EXPECT_DOUBLE_EQ(defaults["painter_smoothing_radius"].get<double>(), double(3.01f));
  EXPECT_EQ(defaults["displacement_lower_bound"], -1536);
  EXPECT_EQ(defaults.size(), 23u);

  auto* record = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  record->place_unit_flags = 0;
  record->terrain_painter.radius = 4.25f;
  ASSERT_TRUE(preferences_save(&vellgrim_preferences_descriptor));
  preferences_dispose(&vellgrim_preferences_descriptor);
  store.close();

  json stored = tool_json({"prefs", "show", "--json"});
  EXPECT_EQ(stored["place_unit_flags"], 0);
  EXPECT_DOUBLE_EQ(stored["terrain_radius"].get<double>(), 4.25);
  tool_result plain = tool({"prefs", "show"});
  EXPECT_EQ(plain.exit_code, 0);
  EXPECT_NE(plain.out.find("terrain_radius: 4.25\n"), std::string::npos);
  EXPECT_NE(plain.out.find("place_sound_source_flags: 7\n"), std::string::npos);
}

TEST_F(PrefsAndMarkerCommands, MapInfoListsThePaletteAndTheMarkersWithTheirObjects) {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 1),
                 map_fixture_palette_entry(_marker_unit, make_tag("gone"), 2)};
  marker_data observer = map_fixture_marker(_marker_observer, 0, 1024, 2048);
  observer.flags = _marker_invisible;
  observer.yaw = 0x4000;
  marker_data unit = map_fixture_marker(_marker_unit, 0, 10, 20);
  unit.identifier = 10004;
  unit.minimum_difficulty = 3;
  map.markers = {observer, unit};
  ASSERT_NE(store.store_map("Markers", map), NONE);
  store.close();

  json info = tool_json({"map", "info", "Markers", "--json"});
  ASSERT_TRUE(info["marker_palette"].is_array());
  ASSERT_EQ(info["marker_palette"].size(), 2u);
  EXPECT_EQ(info["marker_palette"][0]["type_name"], "Observer");
  EXPECT_EQ(info["marker_palette"][0]["instances"], 1);
  EXPECT_EQ(info["marker_palette"][1]["tag"], "gone");
  EXPECT_EQ(info["marker_palette"][1]["team"], 2);
  EXPECT_EQ(info["marker_palette"][1]["definition_loaded"], false);

  ASSERT_EQ(info["markers"].size(), 2u);
  const json& first = info["markers"][0];
  EXPECT_EQ(first["type"], 0);
  EXPECT_EQ(first["palette_index"], 0);
  EXPECT_EQ(first["identifier"], 1000);  // numbered when the map opened
  EXPECT_EQ(first["location"], json({1024, 2048, 0}));
  EXPECT_EQ(first["facing"], 0x4000);
  EXPECT_EQ(first["flags"], "0x00000001");
  EXPECT_EQ(first["object"], true);
  const json& second = info["markers"][1];
  EXPECT_EQ(second["identifier"], 10004);
  EXPECT_EQ(second["difficulty"], 3);
  EXPECT_EQ(second["object"], false);  // its unit definition is not in the store
}

}  // namespace
