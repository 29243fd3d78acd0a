#include "tools/observer_operations.h"

#include <gtest/gtest.h>

#include "engine/definition_groups.h"
#include "input/observer.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"

namespace {

class ObserverOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
  }
  void TearDown() override { map_close(); }

  // Observer entries of team 0 and team 1; markers of team 0, team 1, team 0 in that order.
  int32_t store_observed_map() {
    map_fixture map = map_fixture_new(1, 1);
    map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                   map_fixture_palette_entry(_marker_observer, NONE_TAG, 1)};
    marker_data first = map_fixture_marker(_marker_observer, 0, 1024, 2048);
    first.yaw = 0x1000;
    marker_data other_team = map_fixture_marker(_marker_observer, 1, 3000, 3000);
    marker_data last = map_fixture_marker(_marker_observer, 0, 5120, 6144);
    last.yaw = 0x4000;
    map.markers = {first, other_team, last};
    return store.store_map("outpost", map);
  }

  map_test_store store;
};

TEST_F(ObserverOperations, OpeningPlacesTheObserverAtTheLastObserverMarkerOfTeamZero) {
  const int32_t map = store_observed_map();
  ASSERT_NE(map, NONE);
  ASSERT_TRUE(map_open(map));
  const observer_data* o = observer_get();
  EXPECT_EQ(o->target.x, 5120);
  EXPECT_EQ(o->target.y, 6144);
  EXPECT_EQ(o->target.z, OBSERVER_HEIGHT);
  EXPECT_EQ(o->facing, 0x4000);
  EXPECT_EQ(o->pitch, OBSERVER_PLACED_PITCH);
  EXPECT_EQ(o->zoom, 0);
  EXPECT_EQ(o->flags & (_observer_bounded | _observer_at_rest), _observer_bounded | _observer_at_rest);
  EXPECT_EQ(observer_constants()->axes[_observer_zoom_constants].positive_maximum, 1200);
  // A local team stops at its own first marker.
  ASSERT_TRUE(observer_place(1));
  EXPECT_EQ(observer_get()->target.x, 3000);
  ASSERT_TRUE(observer_place(0));
  EXPECT_EQ(observer_get()->target.x, 1024);
  EXPECT_EQ(observer_get()->facing, 0x1000);
}

TEST_F(ObserverOperations, WithoutObserverMarkersTheObserverStandsAtTheCentre) {
  map_fixture bare = map_fixture_new(2, 1);
  const int32_t map = store.store_map("plain", bare);
  ASSERT_TRUE(map_open(map));
  EXPECT_EQ(observer_get()->target.x, 64 * 256);
  EXPECT_EQ(observer_get()->target.y, 32 * 256);
  EXPECT_EQ(observer_get()->facing, 0);
}

TEST_F(ObserverOperations, AMapDoesNotOpenWithoutTheObserverConstants) {
  const int32_t map = store_observed_map();
  ASSERT_TRUE(tag_file_delete(tag_file_find(observer_physics_definitions.group_tag, OBSERVER_PHYSICS_TAG)));
  EXPECT_FALSE(map_open(map));
  EXPECT_FALSE(map_is_open());
  EXPECT_FALSE(mesh_is_open());
  // The observer's own check refused (the code named is the first one pending in this opening).
  EXPECT_NE(store.log().find(" in observer, line #"), std::string::npos) << store.log();
  EXPECT_NE(store.log().find("observer physics constants missing."), std::string::npos);
  EXPECT_EQ(store.log().find("couldn't read header for observer physics constants"), std::string::npos);
}

TEST_F(ObserverOperations, ACutShortConstantsTagIsRefusedToo) {
  const int32_t map = store_observed_map();
  int32_t constants = tag_file_find(observer_physics_definitions.group_tag, OBSERVER_PHYSICS_TAG);
  const uint8_t few[10] = {};
  ASSERT_TRUE(tag_file_replace_contents(&constants, few, sizeof few));
  EXPECT_FALSE(map_open(map));
  EXPECT_FALSE(map_is_open());
  EXPECT_NE(store.log().find("couldn't read observer physics constants definition"), std::string::npos) << store.log();
  EXPECT_NE(store.log().find("observer physics constants missing."), std::string::npos);
}

TEST_F(ObserverOperations, DropObserverAddsARecordedMarkerAtTheTargetAndFacing) {
  ASSERT_TRUE(map_open(store_observed_map()));
  observer_jump_to({4000, 7000});
  const uint16_t facing = observer_get()->facing;
  const int32_t before = mesh_marker_count();
  const int32_t index = observer_operation_drop(2);
  ASSERT_GE(index, 0);
  EXPECT_EQ(mesh_marker_count(), before + 1);
  const marker_data& marker = mesh_markers()[index];
  EXPECT_EQ(marker.type, _marker_observer);
  EXPECT_EQ(marker.palette_index, 1);
  EXPECT_EQ(marker.location.x, 4000);
  EXPECT_EQ(marker.location.y, 7000);
  EXPECT_EQ(marker.location.z, 0);  // on the ground
  EXPECT_EQ(marker.yaw, facing);
  EXPECT_STREQ(edit_journal_undo_name(), "Drop Observer");
  EXPECT_TRUE(map_is_modified());
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_marker_count(), before);
  EXPECT_FALSE(map_is_modified());
}

TEST_F(ObserverOperations, DropObserverWithoutAnEntryAddsNothing) {
  ASSERT_TRUE(map_open(store_observed_map()));
  const int32_t before = mesh_marker_count();
  EXPECT_EQ(observer_operation_drop(-1), -1);
  EXPECT_EQ(observer_operation_drop(0), -1);
  EXPECT_EQ(observer_operation_drop(3), -1);  // the palette has two Observer entries
  EXPECT_EQ(mesh_marker_count(), before);
  EXPECT_FALSE(edit_journal_can_undo());
  EXPECT_FALSE(map_is_modified());
}

}  // namespace

namespace {

// An unbounded observer may look past the edge; the dropped marker lands on the map's last cell.
TEST_F(ObserverOperations, DropObserverAtAPointOffTheMapClampsItIntoTheMap) {
  ASSERT_TRUE(map_open(store_observed_map()));
  observer_set_bounded(false);
  observer_jump_to({-3000, 40000});
  const int32_t index = observer_operation_drop(1);
  ASSERT_GE(index, 0);
  EXPECT_EQ(mesh_markers()[index].location.x, 0);
  EXPECT_EQ(mesh_markers()[index].location.y, 32 * 512 - 1);
  ASSERT_TRUE(edit_journal_undo());
}

}  // namespace
