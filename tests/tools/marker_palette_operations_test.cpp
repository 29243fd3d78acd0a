// The palette and marker edits of the marker dialogs, adding markers where the author points, and
// Duplicate: each one journal step that Undo takes back.
#include <gtest/gtest.h>

#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "session/engine.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "tools/connector_selection.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/marker_palette_operations.h"
#include "tools/marker_placement.h"

namespace {

class MarkerPaletteOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;  // the changes are not saved
    map_close();
  }

  // Three Observer entries, the first two alike in everything (so with one key); a marker on each
  // (two on the second) and one Scenery entry with a marker.
  void open_alike() {
    map_fixture map = map_fixture_new(1, 1);
    map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                   map_fixture_palette_entry(_marker_scenery, make_tag("tree"), NONE),
                   map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                   map_fixture_palette_entry(_marker_observer, NONE_TAG, 3)};
    map.markers = {map_fixture_marker(_marker_observer, 0, 1000, 1000), map_fixture_marker(_marker_observer, 1, 2000, 1000),
                   map_fixture_marker(_marker_scenery, 0, 3000, 1000), map_fixture_marker(_marker_observer, 1, 4000, 1000),
                   map_fixture_marker(_marker_observer, 2, 5000, 1000)};
    const int32_t tag = store.store_map("pass", map);
    ASSERT_NE(tag, NONE);
    ASSERT_TRUE(map_open(tag));
  }

  static std::vector<int32_t> xs_of(int16_t type) {
    std::vector<int32_t> xs;
    for (int32_t i = 0; i < mesh_marker_count(); ++i)
      if (mesh_markers()[i].type == type) xs.push_back(mesh_markers()[i].location.x);
    return xs;
  }
  static std::vector<int16_t> indices_of(int16_t type) {
    std::vector<int16_t> indices;
    for (int32_t i = 0; i < mesh_marker_count(); ++i)
      if (mesh_markers()[i].type == type) indices.push_back(mesh_markers()[i].palette_index);
    return indices;
  }

  map_test_store store;
  scripted_ui_host ui;
};

// The second of two alike entries goes with its own markers, not the first's; Undo brings both back.
TEST_F(MarkerPaletteOperations, DeletingAnEntryTakesTheOneAtItsPositionEvenWhenAnotherIsAlike) {
  open_alike();
  const int16_t second[] = {1};
  ASSERT_TRUE(palette_operation_delete_entries(_marker_observer, second));
  EXPECT_EQ(palette_entry_count_of_type(_marker_observer), 2);
  EXPECT_EQ(xs_of(_marker_observer), (std::vector<int32_t>{1000, 5000}));
  EXPECT_EQ(indices_of(_marker_observer), (std::vector<int16_t>{0, 1}));
  EXPECT_EQ(indices_of(_marker_scenery), (std::vector<int16_t>{0}));
  EXPECT_EQ(palette_entry_get(_marker_observer, 1)->team, 3);
  EXPECT_STREQ(edit_journal_undo_name(), "Delete Palette Entry");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(palette_entry_count_of_type(_marker_observer), 3);
  EXPECT_EQ(xs_of(_marker_observer), (std::vector<int32_t>{1000, 2000, 4000, 5000}));
}

TEST_F(MarkerPaletteOperations, DeletingSeveralEntriesIsOneStepWhateverTheOrderGiven) {
  open_alike();
  const int16_t both[] = {2, 0, 2};
  ASSERT_TRUE(palette_operation_delete_entries(_marker_observer, both));
  EXPECT_EQ(palette_entry_count_of_type(_marker_observer), 1);
  EXPECT_EQ(xs_of(_marker_observer), (std::vector<int32_t>{2000, 4000}));
  EXPECT_EQ(indices_of(_marker_observer), (std::vector<int16_t>{0, 0}));
  EXPECT_STREQ(edit_journal_undo_name(), "Delete Palette Entries");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_marker_count(), 5);
  EXPECT_FALSE(edit_journal_can_undo());

  // A position past the type's entries refuses the whole call.
  const int16_t past[] = {0, 3};
  EXPECT_FALSE(palette_operation_delete_entries(_marker_observer, past));
  EXPECT_FALSE(palette_operation_delete_entries(_marker_observer, {}));
  EXPECT_EQ(palette_entry_count_of_type(_marker_observer), 3);
  EXPECT_FALSE(edit_journal_can_undo());
}

TEST_F(MarkerPaletteOperations, AddingAndEditingEntriesAreStepsAndKeepTheMarkers) {
  open_alike();
  marker_palette_entry unit = map_fixture_palette_entry(_marker_unit, make_tag("warr"), 0);
  unit.netgame_types = 0xFFFF;
  EXPECT_EQ(palette_operation_add_entry(unit), 0);
  EXPECT_EQ(palette_operation_add_entry(map_fixture_palette_entry(_marker_observer, NONE_TAG, 7)), 3);
  EXPECT_EQ(palette_entry_get(_marker_unit, 0)->netgame_types, 0xFFFFu);
  EXPECT_STREQ(edit_journal_undo_name(), "Add Palette Entry");
  // An unused type is refused.
  EXPECT_EQ(palette_operation_add_entry(map_fixture_palette_entry(_marker_unused_4, NONE_TAG, 0)), -1);

  // The observers' placeholders come back from the edited entry; its markers stay where they were.
  const int16_t objects_before = palette_entry_get(_marker_observer, 1)->instance_count;
  marker_palette_entry fields = *palette_entry_get(_marker_observer, 1);
  fields.team = 5;
  fields.flags = _palette_uncontrollable;
  fields.netgame_types = 0x3;
  ASSERT_TRUE(palette_operation_edit_entry(_marker_observer, 1, fields));
  const marker_palette_entry* edited = palette_entry_get(_marker_observer, 1);
  EXPECT_EQ(edited->team, 5);
  EXPECT_EQ(edited->flags, _palette_uncontrollable);
  EXPECT_EQ(edited->netgame_types, 0x3u);
  EXPECT_EQ(edited->instance_count, objects_before);
  EXPECT_EQ(xs_of(_marker_observer), (std::vector<int32_t>{1000, 2000, 4000, 5000}));
  EXPECT_STREQ(edit_journal_undo_name(), "Edit Palette Entry");
  EXPECT_FALSE(palette_operation_edit_entry(_marker_observer, 4, fields));

  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(palette_entry_get(_marker_observer, 1)->team, 0);
  ASSERT_TRUE(edit_journal_undo());
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(palette_entry_count_of_type(_marker_unit), 0);
  EXPECT_EQ(palette_entry_count_of_type(_marker_observer), 3);
}

// Only the dialog's flags change, and a refused edit changes nothing (the dialogs' tests cover the
// fields).
TEST_F(MarkerPaletteOperations, EditingMarkersTouchesOnlyTheDialogsFlagsAndRefusesBadInput) {
  open_alike();
  const int32_t two[] = {0, 1};
  marker_field_edit edit;
  edit.set_flags = _marker_invisible | 0x200;
  edit.clear_flags = 0xFFFFFFFF;
  ASSERT_TRUE(marker_operation_edit(two, edit));
  EXPECT_EQ(mesh_markers()[0].flags, uint32_t(_marker_invisible));
  const int32_t outside[] = {0, 5};
  EXPECT_FALSE(marker_operation_edit(outside, edit));
  marker_field_edit too_hard;
  too_hard.minimum_difficulty = 5;
  EXPECT_FALSE(marker_operation_edit(two, too_hard));
  EXPECT_FALSE(marker_operation_edit({}, edit));
  EXPECT_STREQ(edit_journal_undo_name(), "Edit Marker");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_FALSE(edit_journal_can_undo());
}

TEST_F(MarkerPaletteOperations, AddingAMarkerOffTheMapClampsItAndStandsItOnTheGround) {
  open_alike();
  marker_placement placement{};
  placement.type = _marker_observer;
  placement.palette_entry = 3;
  placement.point = {40000, -7, 900};
  placement.facing = 0x2000;
  placement.ground_height = true;
  const int32_t index = marker_placement_add(placement);
  ASSERT_EQ(index, 5);
  const marker_data& added = mesh_markers()[index];
  EXPECT_EQ(added.location.x, 32 * 512 - 1);
  EXPECT_EQ(added.location.y, 0);
  EXPECT_EQ(added.location.z, mesh_height_at(added.location.x, 0, _mesh_height_ground));
  EXPECT_EQ(added.palette_index, 2);
  EXPECT_EQ(added.yaw, 0x2000);
  EXPECT_NE(added.object_index, NONE);
  EXPECT_STREQ(edit_journal_undo_name(), "Add Marker");
  // The point's own height when asked.
  placement.ground_height = false;
  const int32_t high = marker_placement_add(placement);
  ASSERT_EQ(high, 6);
  EXPECT_EQ(mesh_markers()[high].location.z, 900);
  // No entry, or one past the type's: nothing.
  placement.palette_entry = -1;
  EXPECT_EQ(marker_placement_add(placement), -1);
  placement.palette_entry = 4;
  EXPECT_EQ(marker_placement_add(placement), -1);
  EXPECT_EQ(mesh_marker_count(), 7);
}

// The copies sit half a cell on (clamped at the far edge) and become the selection; a marker without
// an object (scenery whose definition is missing) is not copied and stays selected.
TEST_F(MarkerPaletteOperations, DuplicateCopiesTheSelectedMarkersAndSelectsTheCopies) {
  open_alike();
  ASSERT_TRUE(connector_selection_add_index(0));
  ASSERT_TRUE(connector_selection_add_index(2));  // scenery without its definition: no object
  ASSERT_EQ(mesh_markers()[2].object_index, NONE);
  ASSERT_EQ(marker_placement_duplicate_selection(), 1);
  ASSERT_EQ(mesh_marker_count(), 6);
  const marker_data& copy = mesh_markers()[5];
  EXPECT_EQ(copy.type, _marker_observer);
  EXPECT_EQ(copy.palette_index, 0);
  EXPECT_EQ(copy.location.x, 1256);
  EXPECT_EQ(copy.location.y, 1256);
  EXPECT_EQ(connector_selection_indices(), (std::vector<int32_t>{2, 5}));
  EXPECT_STREQ(edit_journal_undo_name(), "Duplicate");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_marker_count(), 5);
  EXPECT_EQ(connector_selection_indices(), (std::vector<int32_t>{0, 2}));
}

}  // namespace
