// Actions made from the selection and the exact type setter, on an open map, taken back with Undo.
#include "tools/selection_actions.h"

#include <gtest/gtest.h>

#include <vector>

#include "map/map_actions.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "tools/edit_journal.h"
#include "tools/map_action_operations.h"
#include "tools/map_session.h"

namespace {

class SelectionActions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    map_fixture map = map_fixture_new(1, 1);
    map.palette = {map_fixture_palette_entry(_marker_unit, make_tag("warr"), 2),
                   map_fixture_palette_entry(_marker_scenery, make_tag("tree"), -1),
                   map_fixture_palette_entry(_marker_sound_source, make_tag("wind"), -1)};
    map.markers = {map_fixture_marker(_marker_unit, 0, 100, 100), map_fixture_marker(_marker_scenery, 0, 200, 200),
                   map_fixture_marker(_marker_unit, 0, 300, 300), map_fixture_marker(_marker_sound_source, 0, 5, 6)};
    const int32_t map_tag = store.store_map("picked", map);
    ASSERT_NE(map_tag, NONE);
    ASSERT_TRUE(map_open(map_tag));
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    map_close();
  }
  std::vector<int32_t> values(int32_t slot, tag name) {
    std::vector<int32_t> out;
    const int32_t p = map_action_find_parameter(slot, name);
    const map_action_parameter_header* header = map_action_parameter(slot, p);
    for (int32_t e = 0; header && e < header->element_count; ++e) {
      int32_t v = 0;
      if (map_action_element_value(slot, p, e, &v)) out.push_back(v);
    }
    return out;
  }

  map_test_store store;
  scripted_ui_host ui;
};

TEST_F(SelectionActions, AContainerListsTheMarkersByKindAndLeavesOutThoseWithoutAnIdentifierType) {
  const std::vector<int32_t> markers = {0, 1, 2, 3, 99, -1};  // indices past the list are ignored
  const int32_t slot = selection_action_create_data_container("Guards", markers);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(map_action_name(slot), "Guards");
  EXPECT_EQ(map_action_get(slot)->action_type, NONE_TAG);
  EXPECT_EQ(values(slot, make_tag("subj")), (std::vector<int32_t>{mesh_markers()[0].identifier, mesh_markers()[2].identifier}));
  EXPECT_EQ(values(slot, make_tag("srce")), std::vector<int32_t>{mesh_markers()[3].identifier});
  EXPECT_EQ(map_action_get(slot)->parameter_count, 3);  // name, subj, srce
  EXPECT_STREQ(edit_journal_undo_name(), "Create Data Container");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(map_actions_count(), 0);
}

TEST_F(SelectionActions, AnObserverMovementHoldsThePointAndFacing) {
  const int32_t slot = selection_action_create_observer_movement("Pan", {1024, 2048, 7}, 16384);
  ASSERT_GE(slot, 0);
  const int32_t loca = map_action_find_parameter(slot, make_tag("loca"), _parameter_world_point2d);
  int32_t x = 0, y = 0, face = 0;
  ASSERT_TRUE(map_action_element_value(slot, loca, 0, &x, 0));
  ASSERT_TRUE(map_action_element_value(slot, loca, 0, &y, 1));
  ASSERT_TRUE(map_action_element_value(slot, map_action_find_parameter(slot, make_tag("face")), 0, &face));
  EXPECT_EQ(x, 1024);
  EXPECT_EQ(y, 2048);
  EXPECT_EQ(face, 16384);
  EXPECT_EQ(edit_journal_step_count(), 1);
}

// The type setter keeps a code exactly, where the property setter lower-cases it.
TEST_F(SelectionActions, SettingATypeKeepsItsCaseAndTheOtherFields) {
  const int32_t slot = map_action_operation_new(-1);
  map_action_properties properties{3, _map_action_only_initial_delay, "x", "", "1.00", "2.00"};
  ASSERT_TRUE(map_action_operation_set_properties(slot, properties));
  ASSERT_TRUE(map_action_operation_set_type(slot, make_tag("AbC1")));
  const map_action* a = map_action_get(slot);
  EXPECT_EQ(a->action_type, make_tag("AbC1"));
  EXPECT_EQ(a->expiration_mode, 3);
  EXPECT_EQ(a->action_flags & 0xF, uint32_t(_map_action_only_initial_delay));
  EXPECT_EQ(a->trigger_time_lower, 30);
  EXPECT_EQ(a->trigger_time_range, 30);
  EXPECT_FALSE(map_action_operation_set_type(slot + 5, make_tag("none")));
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(map_action_get(slot)->action_type, NONE_TAG);
}

}  // namespace
