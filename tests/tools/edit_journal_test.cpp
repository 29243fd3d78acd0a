#include "tools/edit_journal.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_fixtures.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"
#include "tools/reflection_map_utils.h"
#include "tools/vellgrim_connectors.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

// Where two stored maps differ, for the failure message.
std::string first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return "first difference at byte " + std::to_string(i);
  }
  return "same";
}

class EditJournal : public MapImageTest {
 protected:
  void SetUp() override {
    MapImageTest::SetUp();
    edit_journal_set_budget(EDIT_JOURNAL_DEFAULT_BYTE_BUDGET, EDIT_JOURNAL_DEFAULT_STEP_LIMIT);
  }
  void TearDown() override {
    edit_journal_set_budget(EDIT_JOURNAL_DEFAULT_BYTE_BUDGET, EDIT_JOURNAL_DEFAULT_STEP_LIMIT);
    MapImageTest::TearDown();
  }

  // A 2 x 1 submesh map with a few markers of two types, saved, and open with a fresh history.
  void open_map_with_markers() {
    ASSERT_TRUE(make_map("journal", 512, 256));
    for (int i = 0; i < 4; ++i) {
      const int16_t type = i % 2 ? _marker_sound_source : _marker_observer;
      const marker_palette_entry* entry =
          marker_operation_find_or_add_entry(map_fixture_palette_entry(type, NONE_TAG, int16_t(i % 2)));
      ASSERT_NE(entry, nullptr);
      ASSERT_NE(marker_operation_add(map_fixture_marker(type, 0, 2000 + 3000 * i, 1500 + 900 * i)), nullptr);
    }
    ASSERT_TRUE(map_save());
    ASSERT_TRUE(map_reopen());
    ASSERT_EQ(edit_journal_step_count(), 0);
  }

  // What saving the open map now would store.
  std::vector<uint8_t> saved_bytes() {
    EXPECT_TRUE(map_save());
    return store.tag_bytes(mesh_tag_index());
  }

  // One edit of a kind chosen by the generator; some kinds may refuse (a shift off the map), which
  // must leave no step either.
  void random_edit(std::mt19937& random) {
    auto pick = [&](int32_t below) { return int32_t(random() % uint32_t(below)); };
    const int32_t across = mesh_cells_across(), down = mesh_cells_down();
    switch (pick(11)) {
      case 0:
        (void)mesh_set_vertex_height(pick(across), pick(down), pick(4000) - 1000);
        break;
      case 1:
        (void)mesh_set_media_height(pick(across), pick(down), pick(600));
        break;
      case 2:
        (void)mesh_shift(pick(5) - 2, pick(5) - 2);
        break;
      case 3:
        (void)mesh_set_parameters(int16_t(pick(9)), int16_t(pick(9)), int16_t(pick(9)), int16_t(pick(9)));
        break;
      case 4: {
        const int16_t type = pick(2) ? _marker_sound_source : _marker_observer;
        marker_operation_add(map_fixture_marker(type, 0, pick(across * 512), pick(down * 512)));
        break;
      }
      case 5:
        if (mesh_marker_count() > 1) (void)marker_operation_delete(pick(mesh_marker_count()));
        break;
      case 6: {
        std::vector<int16_t> connector(CONNECTOR_RECORD_SIZE / 2, 0);
        connector[0] = int16_t(1000 + pick(4));
        connector.back() = 1;
        ASSERT_TRUE(connectors_replace_all(connector));
        break;
      }
      case 7: {
        mesh_definition_tags tags = {make_tag("gras"), NONE_TAG, NONE_TAG, NONE_TAG, NONE_TAG};
        tags.wind = pick(2) ? make_tag("wnd1") : NONE_TAG;
        (void)mesh_set_definition_tags(tags);
        break;
      }
      case 8: {
        bitmap_image image;
        ASSERT_TRUE(extract_build_image(_map_layer_displacement, pick(2), &image));
        for (uint8_t& pixel : image.pixels) pixel = uint8_t(pixel + pick(40));
        ASSERT_TRUE(extract_apply_image(_map_layer_displacement, image.width == 256 ? 0 : EXTRACT_WHOLE_MESH, image));
        break;
      }
      case 9: {
        bitmap_image image;
        ASSERT_TRUE(extract_build_image(_map_layer_reflection, EXTRACT_WHOLE_MESH, &image));
        const int32_t left = pick(image.width - 64), top = pick(image.height - 64);
        for (int32_t y = top; y < top + 48; ++y)
          for (int32_t x = left; x < left + 48; ++x) image.row(y)[x] = 0;
        ASSERT_TRUE(extract_apply_image(_map_layer_reflection, EXTRACT_WHOLE_MESH, image));
        break;
      }
      case 10:
        mesh_delete_markers_outside();
        break;
    }
  }
};

TEST_F(EditJournal, UndoingEverythingGivesTheOpenedBytesAndRedoGivesTheEditedOnes) {
  open_map_with_markers();
  const std::vector<uint8_t> opened = saved_bytes();
  std::mt19937 random(20261207);
  for (int i = 0; i < 300; ++i) {
    random_edit(random);
    ASSERT_FALSE(edit_journal_recording()) << "edit " << i << " left its step open";
  }
  const int32_t steps = edit_journal_step_count();
  ASSERT_GT(steps, 100);
  const std::vector<uint8_t> edited = saved_bytes();
  ASSERT_NE(edited, opened);

  int32_t undone = 0;
  while (edit_journal_undo()) ++undone;
  EXPECT_EQ(undone, steps);
  std::vector<uint8_t> undone_bytes = saved_bytes();
  EXPECT_TRUE(undone_bytes == opened) << first_difference(undone_bytes, opened);
  int32_t redone = 0;
  while (edit_journal_redo()) ++redone;
  EXPECT_EQ(redone, steps);
  std::vector<uint8_t> redone_bytes = saved_bytes();
  EXPECT_TRUE(redone_bytes == edited) << first_difference(redone_bytes, edited);
  // The markers' objects follow the restored lists (observers get placeholders in this store).
  for (int32_t i = 0; i < mesh_marker_count(); ++i) {
    if (mesh_markers()[i].type == _marker_observer) {
      EXPECT_NE(mesh_markers()[i].object_index, NONE) << i;
    }
  }
}

TEST_F(EditJournal, StepsCarryTheOperationsNamesAndNestedOperationsJoinTheirStep) {
  open_map_with_markers();
  EXPECT_STREQ(edit_journal_undo_name(), "");
  ASSERT_TRUE(mesh_shift(1, 0));
  EXPECT_EQ(edit_journal_step_count(), 1);  // cells and markers, one step
  EXPECT_STREQ(edit_journal_undo_name(), "Shift Mesh & Markers");
  ASSERT_TRUE(mesh_set_vertex_height(3, 3, 700));
  EXPECT_STREQ(edit_journal_undo_name(), "Set Vertex Height");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_STREQ(edit_journal_redo_name(), "Set Vertex Height");
  EXPECT_STREQ(edit_journal_undo_name(), "Shift Mesh & Markers");
  // An edit that changes nothing records nothing.
  ASSERT_TRUE(mesh_set_vertex_height(3, 3, mesh_get_cell(3, 3)->ground_height));
  EXPECT_TRUE(edit_journal_can_redo());
  // A new edit ends the steps that were undone.
  ASSERT_TRUE(mesh_set_media_height(2, 2, 300));
  EXPECT_FALSE(edit_journal_can_redo());
}

TEST_F(EditJournal, TheModifiedFlagFollowsTheDistanceFromTheSavedStep) {
  open_map_with_markers();
  EXPECT_FALSE(map_is_modified());
  ASSERT_TRUE(mesh_set_vertex_height(5, 5, 100));
  EXPECT_TRUE(map_is_modified());
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_FALSE(map_is_modified());  // back at the opened state
  ASSERT_TRUE(edit_journal_redo());
  ASSERT_TRUE(mesh_set_vertex_height(6, 6, 200));
  ASSERT_TRUE(map_save());
  EXPECT_FALSE(map_is_modified());
  ASSERT_TRUE(edit_journal_undo());  // past the save
  EXPECT_TRUE(map_is_modified());
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_FALSE(map_is_modified());
  // The saved state undone and replaced by another edit can't be reached again.
  ASSERT_TRUE(edit_journal_undo());
  ASSERT_TRUE(mesh_set_vertex_height(7, 7, 300));
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_TRUE(map_is_modified());
  // Closing asks; reopening starts a new history.
  ui.default_answer = ui_answer_no;
  ASSERT_TRUE(map_reopen());
  EXPECT_FALSE(map_is_modified());
  EXPECT_FALSE(edit_journal_can_undo());
}

TEST_F(EditJournal, TheBudgetDropsTheOldestStepsFirst) {
  open_map_with_markers();
  edit_journal_set_budget(EDIT_JOURNAL_DEFAULT_BYTE_BUDGET, 3);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(mesh_set_vertex_height(i, 0, 100 + i));
  EXPECT_EQ(edit_journal_step_count(), 3);
  int32_t undone = 0;
  while (edit_journal_undo()) ++undone;
  EXPECT_EQ(undone, 3);
  // The two oldest are kept, the three newest taken back.
  EXPECT_EQ(mesh_get_cell(1, 0)->ground_height, 101);
  EXPECT_EQ(mesh_get_cell(2, 0)->ground_height, 0);
  // The saved state is out of reach: the map stays modified.
  EXPECT_TRUE(map_is_modified());

  // A byte budget smaller than any step keeps only the newest one.
  while (edit_journal_redo()) {
  }
  edit_journal_set_budget(1, EDIT_JOURNAL_DEFAULT_STEP_LIMIT);
  EXPECT_EQ(edit_journal_step_count(), 1);
  ASSERT_TRUE(mesh_shift(0, 1));
  EXPECT_EQ(edit_journal_step_count(), 1);
  EXPECT_STREQ(edit_journal_undo_name(), "Shift Mesh & Markers");
}

TEST_F(EditJournal, AFailedOperationLeavesNoStepAndNoChange) {
  open_map_with_markers();
  ASSERT_TRUE(mesh_set_vertex_height(1, 1, 50));
  const std::vector<uint8_t> before = saved_bytes();
  const int32_t steps = edit_journal_step_count();
  // Refused before any change.
  EXPECT_FALSE(mesh_set_vertex_height(-1, 0, 10));
  std::vector<int16_t> long_chain(CONNECTOR_RECORD_SIZE / 2, 0);
  long_chain.back() = 40;
  EXPECT_FALSE(connectors_replace_all(long_chain));
  // Failing after changes: the enclosing step is abandoned, its changes put back.
  {
    journal_step step("Half Done");
    ASSERT_TRUE(step.is_open());
    ASSERT_TRUE(mesh_set_vertex_height(8, 8, 900));
    ASSERT_NE(marker_operation_add(map_fixture_marker(_marker_observer, 0, 700, 700)), nullptr);
    ASSERT_TRUE(mesh_shift(2, 2));
  }
  EXPECT_EQ(edit_journal_step_count(), steps);
  EXPECT_FALSE(edit_journal_recording());
  std::vector<uint8_t> after = saved_bytes();
  EXPECT_TRUE(after == before) << first_difference(after, before);
  EXPECT_STREQ(edit_journal_undo_name(), "Set Vertex Height");
}

TEST_F(EditJournal, ResizingEndsTheHistoryAndLeavesTheMapModified) {
  open_map_with_markers();
  ASSERT_TRUE(mesh_set_vertex_height(1, 1, 50));
  ASSERT_TRUE(mesh_resize(32, 32));
  EXPECT_FALSE(edit_journal_can_undo());
  EXPECT_TRUE(map_is_modified());
  ASSERT_TRUE(map_save());
  EXPECT_FALSE(map_is_modified());
}

}  // namespace
