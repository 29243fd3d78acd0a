// The Mesh menu's connector commands, their check mark and enabling, and the Delete key while a
// connector is being collected. The application object comes from shell_test.cpp's environment.
#include <gtest/gtest.h>

#include <QAction>
#include <QTest>

#include <string>
#include <vector>

#include "engine/definition_groups.h"
#include "engine/window_positions.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "shell/command_table.h"
#include "shell/shell.h"
#include "shell/vellgrim_frame.h"
#include "shell/vellgrim_startup.h"
#include "support/collection_fixtures.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tools/connector_selection.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/vellgrim_connectors.h"
#include "shell_test_frame.h"

namespace {

std::vector<int16_t> chain(int32_t index) {
  const connector_record* record = connector_get(index);
  if (!record) return {};
  return {record->marker_identifiers, record->marker_identifiers + record->chain_length};
}

class ConnectorCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    std::vector<uint8_t> rope(32, 0);
    for (size_t i = 4; i < 8; ++i) rope[i] = 0xFF;  // no collection reference
    const int32_t rope_index = fixture_store_tag(connector_definitions.group_tag, "rope", 1, rope);
    ASSERT_NE(rope_index, NONE);
    map_fixture map = map_fixture_new(1, 1);
    map.header.connector_definitions_tag = tag_file_get_identifier(rope_index);
    map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                   map_fixture_palette_entry(_marker_scenery, make_tag("none"), NONE)};
    map.markers = {map_fixture_marker(_marker_observer, 0, 1024, 2048)};
    for (int16_t i = 0; i < 5; ++i) {
      marker_data post = map_fixture_marker(_marker_scenery, 0, 1000 + 1500 * i, 3000);
      post.identifier = int16_t(2001 + i);
      map.markers.push_back(post);
    }
    const int32_t map_tag = store.store_map("fences", map);
    ASSERT_NE(map_tag, NONE);
    shell_test_create_frame(store);
    frame = shell.frame;
    ASSERT_TRUE(map_open(map_tag));
    UpdateMenuState();
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    map_close();
    vellgrim_destroy_windows();
    window_positions_set_file("");
  }

  bool checked() const { return frame->menuAction(COMMAND_CREATE_NEW_CONNECTOR)->isChecked(); }
  bool enabled(int32_t id) const { return frame->menuAction(id)->isEnabled(); }

  map_test_store store;
  scripted_ui_host ui;
  CVellgrimFrameWnd* frame = nullptr;
};

TEST_F(ConnectorCommands, CreateNewConnectorIsCheckedWhileCollecting) {
  EXPECT_FALSE(checked());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CREATE_NEW_CONNECTOR));
  EXPECT_TRUE(checked());
  for (int16_t identifier : {2001, 2002, 2003}) ASSERT_TRUE(connector_selection_add(_marker_scenery, identifier));
  UpdateMenuState();
  EXPECT_TRUE(enabled(COMMAND_REMOVE_CONNECTOR_FROM_SELECTION));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CREATE_NEW_CONNECTOR));
  EXPECT_FALSE(checked());
  EXPECT_EQ(chain(0), (std::vector<int16_t>{2001, 2002, 2003}));
  EXPECT_TRUE(enabled(COMMAND_SAVE_MAP));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(connector_count(), 0);
  EXPECT_FALSE(enabled(COMMAND_SAVE_MAP));

  // With 32 connectors the item stays clear.
  std::vector<int16_t> words(size_t(MAXIMUM_CONNECTORS_PER_MAP) * 32, 0);
  for (size_t i = 0; i < MAXIMUM_CONNECTORS_PER_MAP; ++i) {
    words[i * 32] = 2005;
    words[i * 32 + 31] = 1;
  }
  ASSERT_TRUE(connectors_replace_all(words));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CREATE_NEW_CONNECTOR));
  EXPECT_FALSE(checked());
}

TEST_F(ConnectorCommands, RemoveFromSelectionAndRemoveAllAreSteps) {
  EXPECT_FALSE(enabled(COMMAND_REMOVE_CONNECTOR_FROM_SELECTION));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CREATE_NEW_CONNECTOR));
  for (int16_t identifier : {2001, 2002, 2003, 2004, 2005}) ASSERT_TRUE(connector_selection_add(_marker_scenery, identifier));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CREATE_NEW_CONNECTOR));
  connector_selection_clear();
  ASSERT_TRUE(connector_selection_add(_marker_scenery, 2003));
  UpdateMenuState();
  ASSERT_TRUE(enabled(COMMAND_REMOVE_CONNECTOR_FROM_SELECTION));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_REMOVE_CONNECTOR_FROM_SELECTION));
  EXPECT_EQ(chain(0), (std::vector<int16_t>{2001, 2002}));
  EXPECT_EQ(chain(1), (std::vector<int16_t>{2004, 2005}));
  EXPECT_TRUE(ui.boxes.empty());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(connector_count(), 1);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_REDO));
  EXPECT_EQ(connector_count(), 2);

  ASSERT_TRUE(DispatchMenuCommand(COMMAND_REMOVE_ALL_CONNECTORS));
  EXPECT_EQ(connector_count(), 0);
  EXPECT_STREQ(edit_journal_undo_name(), "Remove All Connectors");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(connector_count(), 2);
}

TEST_F(ConnectorCommands, AJoinInsteadOfASplitIsShown) {
  std::vector<int16_t> words(size_t(MAXIMUM_CONNECTORS_PER_MAP) * 32, 0);
  for (size_t i = 0; i < MAXIMUM_CONNECTORS_PER_MAP; ++i) words[i * 32 + 31] = 1;
  for (int16_t at = 0; at < 3; ++at) words[size_t(at)] = int16_t(2001 + at);
  words[31] = 3;
  for (size_t i = 1; i < MAXIMUM_CONNECTORS_PER_MAP; ++i) words[i * 32] = 2005;
  ASSERT_TRUE(connectors_replace_all(words));
  ASSERT_TRUE(connector_selection_add(_marker_scenery, 2002));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_REMOVE_CONNECTOR_FROM_SELECTION));
  EXPECT_EQ(chain(0), (std::vector<int16_t>{2001, 2003}));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].icon, ui_icon_warning);
  EXPECT_NE(ui.boxes[0].text.find("without splitting"), std::string::npos) << ui.boxes[0].text;
}

TEST_F(ConnectorCommands, DeleteWhileCollectingTakesTheMarkersOutOfTheNewChain) {
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CREATE_NEW_CONNECTOR));
  for (int16_t identifier : {2001, 2002, 2003}) ASSERT_TRUE(connector_selection_add(_marker_scenery, identifier));
  connector_selection_remove(_marker_scenery, 2001);
  connector_selection_remove(_marker_scenery, 2003);
  QTest::keyClick(frame->visualView(), Qt::Key_Delete);
  EXPECT_EQ(marker_find_by_identifier(_marker_scenery, 2002), nullptr);
  EXPECT_EQ(connector_selection_count(), 0);
  EXPECT_TRUE(checked());
  EXPECT_EQ(std::vector<int16_t>(connector_collected().begin(), connector_collected().end()),
            (std::vector<int16_t>{2001, 2003}));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CREATE_NEW_CONNECTOR));
  EXPECT_EQ(chain(0), (std::vector<int16_t>{2001, 2003}));
  // Nothing selected: the key goes to the tool and deletes nothing.
  const int32_t markers = mesh_marker_count();
  QTest::keyClick(frame->visualView(), Qt::Key_Delete);
  EXPECT_EQ(mesh_marker_count(), markers);
}

}  // namespace
