// Placing, moving, turning and deleting models and model animations through the journal, on a map
// made by New Map with a raised plateau.
#include "tools/model_operations.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cseries/error_manager.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/marker_operations.h"
#include "tools/mesh_commands.h"
#include "tools/vertex_selection.h"

namespace {

class ModelOperations : public MapImageTest {
 protected:
  void open_map() {
    ASSERT_TRUE(make_map("models", 256, 256));
    // A raised plateau east of column 8, so heights differ from place to place.
    vertex_selection_select_rectangle(8, 0, mesh_cells_across(), mesh_cells_down(), false);
    ASSERT_TRUE(mesh_command_set_height(1000));
    vertex_selection_clear();
    for (int16_t type : {int16_t(_marker_model), int16_t(_marker_model_animation)})
      ASSERT_NE(marker_operation_find_or_add_entry(map_fixture_palette_entry(type, NONE_TAG, 0)), nullptr);
  }
  static int32_t ground(int32_t x, int32_t y) { return mesh_height_at(x, y, _mesh_height_ground); }
};

TEST_F(ModelOperations, PlacingStandsTheModelOnTheGroundAndUndoTakesItAway) {
  open_map();
  const int32_t markers_before = mesh_marker_count();
  const int32_t index = model_operation_place(_marker_model, 0, 6000, 2000, 0x4000);
  ASSERT_GE(index, 0);
  const marker_data& model = mesh_markers()[index];
  EXPECT_EQ(model.type, _marker_model);
  EXPECT_EQ(model.location.x, 6000);
  EXPECT_EQ(model.location.z, ground(6000, 2000));
  EXPECT_NE(model.location.z, ground(100, 2000));  // the slope is felt
  EXPECT_EQ(model.yaw, 0xC000);                    // the model record keeps the negated turn
  EXPECT_EQ(model_operation_facing(index), 0x4000);
  EXPECT_STREQ(edit_journal_undo_name(), "Place Model");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_marker_count(), markers_before);

  // Model animations keep the turn as it is; off the map or without an entry nothing is placed.
  const int32_t animation = model_operation_place(_marker_model_animation, 0, 600, 600, 0x4000);
  ASSERT_GE(animation, 0);
  EXPECT_EQ(mesh_markers()[animation].yaw, 0x4000);
  EXPECT_EQ(model_operation_place(_marker_model, 0, -1, 600, 0), -1);
  EXPECT_NE(std::string(error_last_message()).find("off the map"), std::string::npos) << error_last_message();
  EXPECT_EQ(model_operation_place(_marker_model, 7, 600, 600, 0), -1);
  EXPECT_NE(std::string(error_last_message()).find("no palette entry 7"), std::string::npos);
  EXPECT_EQ(model_operation_place(_marker_scenery, 0, 600, 600, 0), -1);
}

// A model moved off the map used to be deleted before its new place was refused, and was lost: the
// move is refused first and the model keeps its place, its marker and its index.
TEST_F(ModelOperations, MovingKeepsTheMarkerAndARefusedMoveLosesNothing) {
  open_map();
  const int32_t index = model_operation_place(_marker_model, 0, 3000, 2000, 0);
  ASSERT_GE(index, 0);
  const int16_t identifier = mesh_markers()[index].identifier;

  ASSERT_TRUE(model_operation_move(index, 6000, 7000, 0x2000));
  EXPECT_EQ(mesh_markers()[index].identifier, identifier);
  EXPECT_EQ(mesh_markers()[index].location.x, 6000);
  EXPECT_EQ(mesh_markers()[index].location.y, 7000);
  EXPECT_EQ(mesh_markers()[index].location.z, ground(6000, 7000));
  EXPECT_EQ(model_operation_facing(index), 0x2000);
  EXPECT_STREQ(edit_journal_undo_name(), "Move Model");

  const marker_data before = mesh_markers()[index];
  const int32_t count = mesh_marker_count();
  const int32_t right = mesh_cells_across() * 512, bottom = mesh_cells_down() * 512;
  for (const auto& point : {std::pair{-1, 100}, std::pair{100, bottom}, std::pair{right, 0}}) {
    EXPECT_FALSE(model_operation_move(index, point.first, point.second, 0x1000));
    EXPECT_NE(std::string(error_last_message()).find("can't move a model off the map"), std::string::npos);
    EXPECT_EQ(mesh_marker_count(), count);
    EXPECT_EQ(std::memcmp(&mesh_markers()[index], &before, sizeof before), 0);
  }
  EXPECT_STREQ(edit_journal_undo_name(), "Move Model");  // the refusals left no step
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_markers()[index].location.x, 3000);
  EXPECT_EQ(model_operation_facing(index), 0);
  EXPECT_FALSE(model_operation_move(mesh_marker_count(), 600, 600, 0));

  // Turning toward a point: half a turn from the direction of the point to the model.
  EXPECT_EQ(model_operation_facing_toward(index, 3000 + 1000, 2000), 0x0000);  // point east: faces east
  EXPECT_EQ(model_operation_facing_toward(index, 3000, 2000 + 1000), 0x4000);
  EXPECT_EQ(model_operation_facing_toward(index, 3000 - 1000, 2000), 0x8000);
  EXPECT_EQ(model_operation_facing_toward(-1, 0, 0), 0);
}

TEST_F(ModelOperations, DeletingTakesTheModelAndUndoBringsItBack) {
  open_map();
  const int32_t index = model_operation_place(_marker_model, 0, 3000, 2000, 0);
  ASSERT_GE(index, 0);
  const int16_t identifier = mesh_markers()[index].identifier;
  ASSERT_TRUE(model_operation_delete(index));
  EXPECT_EQ(marker_find_by_identifier(_marker_model, identifier), nullptr);
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_NE(marker_find_by_identifier(_marker_model, identifier), nullptr);
  EXPECT_FALSE(model_operation_delete(-1));
}

}  // namespace

namespace {

// The variant lives in the first word of the model marker's user data; a model without a definition
// shows one variant, a model animation none.
TEST_F(ModelOperations, AVariantOutsideTheDefinitionsCountIsRefused) {
  open_map();
  const int32_t model = model_operation_place(_marker_model, 0, 6000, 2000, 0);
  const int32_t animation = model_operation_place(_marker_model_animation, 0, 600, 600, 0);
  ASSERT_GE(model, 0);
  ASSERT_GE(animation, 0);
  EXPECT_EQ(model_operation_variant_count(model), 1);
  EXPECT_EQ(model_operation_variant_count(animation), 0);
  EXPECT_FALSE(model_operation_set_variant(model, 1));
  EXPECT_STREQ(error_last_message(), "variant 1 not in [0,1).");
  EXPECT_STREQ(edit_journal_undo_name(), "Place Model Animation");
  EXPECT_FALSE(model_operation_set_variant(animation, 0));
  // The variant it shows already: done, and nothing to undo.
  ASSERT_TRUE(model_operation_set_variant(model, 0));
  EXPECT_STREQ(edit_journal_undo_name(), "Place Model Animation");
  EXPECT_EQ(model_operation_variant(model), 0);
}

}  // namespace
