#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "tools/map_session.h"

#include <gtest/gtest.h>

#include "session/engine.h"
#include "engine/preferences.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "support/file_operation_recorder.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files.h"
#include "world/objects.h"
#include "world/teams.h"
#include "world/world.h"

namespace {

class MapSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    map_fixture map = map_fixture_new(1, 1);
    map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                   map_fixture_palette_entry(_marker_unit, make_tag("none"), 2)};
    map.markers = {map_fixture_marker(_marker_observer, 0, 1024, 2048)};
    map_tag = store.store_map("harbour", map);
    ASSERT_NE(map_tag, NONE);
  }
  void TearDown() override {
    atomic_file_set_test_hook(nullptr);
    ui.default_answer = ui_answer_no;
    map_close();
  }

  // Opens the map and moves its observer, as an edit would.
  void open_and_edit() {
    ASSERT_TRUE(map_open(map_tag));
    mesh_globals.markers[0].location.x = 4096;
    map_set_modified(true);
  }

  int32_t stored_observer_x() {
    EXPECT_TRUE(map_open(tag_file_find(MESH_DEFINITION_GROUP_TAG, tag_file_get_identifier(map_tag))));
    return mesh_is_open() ? mesh_globals.markers[0].location.x : -1;
  }

  map_test_store store;
  scripted_ui_host ui;
  int32_t map_tag = NONE;
};

TEST_F(MapSession, OpeningStartsTheWorldWithTheMapsObjects) {
  EXPECT_EQ(map_window_title(), "Vellgrim");
  ASSERT_TRUE(map_open(map_tag));
  EXPECT_EQ(map_open_count(), 1);
  EXPECT_EQ(map_window_title(), "mesh:harbour");
  EXPECT_STREQ(map_name(), "harbour");
  EXPECT_FALSE(map_is_modified());
  ASSERT_TRUE(world_is_running());
  EXPECT_EQ(world_get_game_description()->player_count, 2);
  EXPECT_EQ(game_data_get()->state, _game_state_running);
  EXPECT_EQ(team_count(), 3);
  EXPECT_NE(vellgrim_preferences_get(), nullptr);
  EXPECT_NE(sound_preferences_get(), nullptr);
  const marker_data& observer = mesh_globals.markers[0];
  EXPECT_EQ(observer.identifier, 1000);
  ASSERT_NE(object_get(observer.object_index), nullptr);
  EXPECT_EQ(object_get(observer.object_index)->location.x, 1024);
}

TEST_F(MapSession, ClosingAnUnchangedMapAsksNothing) {
  ASSERT_TRUE(map_open(map_tag));
  ASSERT_TRUE(map_close());
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(map_open_count(), 0);
  EXPECT_FALSE(mesh_is_open());
  EXPECT_FALSE(world_is_running());
  EXPECT_EQ(object_count(), 0);
  EXPECT_EQ(map_window_title(), "Vellgrim");
  EXPECT_EQ(vellgrim_preferences_get(), nullptr);
  EXPECT_NE(store.folder().read_file("preferences/vellgrim"), "");  // written back at close
  EXPECT_TRUE(map_close());  // nothing open: nothing to do
}

TEST_F(MapSession, YesSavesBeforeClosing) {
  open_and_edit();
  ui.answers.push_back(ui_answer_yes);
  ASSERT_TRUE(map_close());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "Save 'harbour' before closing?");
  EXPECT_EQ(ui.boxes[0].buttons, ui_buttons_yes_no_cancel);
  EXPECT_EQ(map_open_count(), 0);
  EXPECT_FALSE(map_is_modified());
  EXPECT_EQ(stored_observer_x(), 4096);
}

TEST_F(MapSession, NoDiscardsTheChanges) {
  open_and_edit();
  ui.answers.push_back(ui_answer_no);
  ASSERT_TRUE(map_close());
  EXPECT_EQ(map_open_count(), 0);
  EXPECT_EQ(stored_observer_x(), 1024);
}

TEST_F(MapSession, CancelKeepsTheMapOpenAndModified) {
  open_and_edit();
  ui.answers.push_back(ui_answer_cancel);
  EXPECT_FALSE(map_close());
  EXPECT_EQ(map_open_count(), 1);
  EXPECT_TRUE(map_is_modified());
  EXPECT_TRUE(world_is_running());
  EXPECT_EQ(mesh_globals.markers[0].location.x, 4096);
  EXPECT_EQ(map_window_title(), "mesh:harbour");
}

TEST_F(MapSession, AFailedSaveKeepsTheMapOpen) {
  open_and_edit();
  atomic_file_set_test_hook([](const file_specification*) { return false; });
  ui.answers.push_back(ui_answer_yes);
  EXPECT_FALSE(map_close());
  EXPECT_EQ(map_open_count(), 1);
  EXPECT_TRUE(map_is_modified());
  atomic_file_set_test_hook(nullptr);
  ui.answers.push_back(ui_answer_no);
  ASSERT_TRUE(map_close());
  EXPECT_EQ(stored_observer_x(), 1024);
}

TEST_F(MapSession, OnAFullDiscASaveFailsAndChangesNoTag) {
  open_and_edit();
  const std::vector<uint8_t> map_before = store.tag_bytes(map_tag);
  // Every write refused, as on a full disc: the map, its collection and the preferences stay.
  {
    file_operation_recorder full_disc;
    full_disc.fail_writes_from(0);
    EXPECT_FALSE(map_save());
  }
  EXPECT_TRUE(map_is_modified());
  EXPECT_FALSE(tag_files_commit_is_open());
  EXPECT_EQ(store.tag_bytes(tag_file_find(MESH_DEFINITION_GROUP_TAG, tag_file_get_identifier(map_tag))), map_before);
  EXPECT_NE(store.log().find("couldn't write the temporary file"), std::string::npos);
  ASSERT_TRUE(map_save());
  EXPECT_FALSE(map_is_modified());
}

TEST_F(MapSession, ReopenAsksAndLoadsTheMapAgain) {
  EXPECT_TRUE(map_reopen());  // nothing open: nothing happens
  EXPECT_EQ(map_open_count(), 0);
  open_and_edit();
  ui.answers.push_back(ui_answer_cancel);
  EXPECT_FALSE(map_reopen());
  EXPECT_EQ(mesh_globals.markers[0].location.x, 4096);
  ui.answers.push_back(ui_answer_yes);
  ASSERT_TRUE(map_reopen());
  EXPECT_EQ(map_open_count(), 1);
  EXPECT_FALSE(map_is_modified());
  EXPECT_EQ(mesh_globals.markers[0].location.x, 4096);
  EXPECT_NE(object_get(mesh_globals.markers[0].object_index), nullptr);
}

TEST_F(MapSession, AMapBeingBuiltIsLoadedByTheReopen) {
  ASSERT_TRUE(map_start_world(map_tag));
  EXPECT_EQ(map_open_count(), 1);
  EXPECT_TRUE(world_is_running());
  EXPECT_EQ(game_data_get()->state, _game_state_running);  // the main loop goes on
  EXPECT_FALSE(mesh_is_open());
  EXPECT_EQ(map_window_title(), "mesh:harbour");
  EXPECT_FALSE(map_save());  // nothing loaded to save
  ASSERT_TRUE(map_reopen());
  EXPECT_EQ(map_open_count(), 1);
  EXPECT_TRUE(mesh_is_open());
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MapSession, AMapThatCannotBeLoadedLeavesNothingOpen) {
  int32_t media = tag_file_find(make_tag("medi"), store.media_tag());
  EXPECT_FALSE(map_open(media));
  EXPECT_FALSE(map_open(NONE));
  map_fixture broken = map_fixture_new(1, 1);
  int32_t tag_index = store.store_map("broken", broken);
  std::vector<uint8_t> bytes = store.tag_bytes(tag_index);
  bytes.resize(1100);  // the header promises far more than this
  ASSERT_TRUE(tag_file_replace_contents(&tag_index, bytes.data(), int32_t(bytes.size())));
  EXPECT_FALSE(map_open(tag_index));
  EXPECT_EQ(map_open_count(), 0);
  EXPECT_FALSE(world_is_running());
  EXPECT_FALSE(mesh_is_open());
  EXPECT_EQ(game_data_get()->state, _game_state_none);
  ASSERT_TRUE(map_open(map_tag));  // and the next map opens as usual
}

}  // namespace
