#include "tools/mesh_commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"
#include "tools/vellgrim_mesh_utilities.h"
#include "tools/vertex_selection.h"

namespace {

class MeshCommands : public MapImageTest {
 protected:
  void SetUp() override {
    MapImageTest::SetUp();
    mesh_command_set_jitter_amount(JITTER_AMOUNT_DEFAULT);
    mesh_command_set_edge_raise_amount(MESH_EDGE_RAISE_AMOUNT_DEFAULT);
  }
  void open_map(int32_t pixels = 256) {
    ASSERT_TRUE(make_map("commands", pixels, pixels));
    vertex_selection_clear();
  }
  static std::vector<uint8_t> cells() {
    mesh_settle_normals(0, 0, mesh_cells_across() - 1, mesh_cells_down() - 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(mesh_cells());
    return std::vector<uint8_t>(bytes, bytes + size_t(mesh_cell_count()) * sizeof(mesh_cell));
  }
  static int32_t height(int32_t x, int32_t y) { return mesh_get_cell(x, y)->ground_height; }
  int32_t add_marker(int16_t type, int32_t x, int32_t y) {
    EXPECT_NE(marker_operation_find_or_add_entry(map_fixture_palette_entry(type, NONE_TAG, 0)), nullptr);
    const marker_data* marker = marker_operation_add(map_fixture_marker(type, 0, x, y));
    EXPECT_NE(marker, nullptr);
    return marker ? int32_t(marker - mesh_markers()) : -1;
  }
};

TEST_F(MeshCommands, SelectCellKeepsItsCornersInsideTheGrid) {
  open_map();
  // The right-hand column: its two corners in that column only.
  vertex_selection_click_cell(31 * 512 + 100, 10 * 512 + 100, 0);
  EXPECT_EQ(vertex_selection_count(), 2);
  EXPECT_TRUE(vertex_selection_contains(31, 10));
  EXPECT_TRUE(vertex_selection_contains(31, 11));
  int32_t x = 0, y = 0;
  ASSERT_TRUE(vertex_selection_current(&x, &y));
  EXPECT_EQ(x, 31);
  EXPECT_EQ(y, 11);
  // The bottom row, and the corner cell.
  vertex_selection_click_cell(5 * 512, 31 * 512 + 7, 0);
  EXPECT_EQ(vertex_selection_count(), 2);
  EXPECT_TRUE(vertex_selection_contains(6, 31));
  vertex_selection_click_cell(31 * 512 + 511, 31 * 512 + 511, 0);
  EXPECT_EQ(vertex_selection_count(), 1);
  ASSERT_TRUE(vertex_selection_current(&x, &y));
  EXPECT_EQ(x, 31);
  EXPECT_EQ(y, 31);
  // Shift adds, Alt takes away.
  vertex_selection_click_cell(0, 0, TOOL_MODIFIER_SHIFT);
  EXPECT_EQ(vertex_selection_count(), 5);
  vertex_selection_click_cell(0, 0, TOOL_MODIFIER_ALT);
  EXPECT_EQ(vertex_selection_count(), 1);
  // Set Height reads and writes only vertices of the grid.
  ASSERT_TRUE(mesh_command_set_height(512));
  EXPECT_EQ(height(31, 31), 512);
}

TEST_F(MeshCommands, RectanglesAreClippedAndReplaceOrExtend) {
  open_map();
  vertex_selection_select_rectangle(30, 30, 40, 40, false);
  EXPECT_EQ(vertex_selection_count(), 4);
  vertex_selection_select_rectangle(0, 2, -5, 0, true);
  EXPECT_EQ(vertex_selection_count(), 4 + 3);
  vertex_selection_select_rectangle(1, 1, 1, 1, false);
  EXPECT_EQ(vertex_selection_count(), 1);
  vertex_selection_click_vertex(3, 3, TOOL_MODIFIER_SHIFT);
  vertex_selection_click_vertex(1, 1, TOOL_MODIFIER_ALT);
  EXPECT_EQ(vertex_selection_count(), 1);
  vertex_selection_click_vertex(32, 0, 0);  // outside: nothing
  EXPECT_EQ(vertex_selection_count(), 1);
  // A new grid size clears it, and so does opening a map, even one of the same size.
  ASSERT_TRUE(mesh_resize(64, 64));
  EXPECT_FALSE(vertex_selection_any());
  vertex_selection_select_rectangle(0, 0, 3, 3, false);
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(map_reopen());
  EXPECT_FALSE(vertex_selection_any());
}

TEST_F(MeshCommands, RaiseMeshEdgesSetsThreeRowsAndThreeColumns) {
  open_map();
  ASSERT_TRUE(mesh_command_raise_edges());
  std::set<std::pair<int32_t, int32_t>> raised;
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      if (height(x, y) == 1536) raised.insert({x, y});
      else EXPECT_EQ(height(x, y), 0);
    }
  }
  EXPECT_EQ(raised.size(), 183u);
  for (int32_t i = 0; i < 32; ++i) {
    for (int32_t edge : {0, 30, 31}) {
      EXPECT_TRUE(raised.count({i, edge}));
      EXPECT_TRUE(raised.count({edge, i}));
    }
  }
  EXPECT_STREQ(edit_journal_undo_name(), "Raise Mesh Edges");
}

TEST_F(MeshCommands, JitterStaysWithinTheAmount) {
  open_map();
  vertex_selection_select_rectangle(0, 0, 31, 31, false);
  ASSERT_TRUE(mesh_command_set_height(1000));
  mesh_command_set_jitter_amount(100);
  mesh_command_seed(7);
  ASSERT_TRUE(mesh_command_jitter());
  std::set<int32_t> seen;
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      EXPECT_GE(height(x, y), 900);
      EXPECT_LT(height(x, y), 1100);
      seen.insert(height(x, y));
    }
  }
  EXPECT_GT(seen.size(), 50u);
  // The same seed, the same jitter.
  const std::vector<uint8_t> jittered = cells();
  ASSERT_TRUE(edit_journal_undo());
  mesh_command_seed(7);
  ASSERT_TRUE(mesh_command_jitter());
  EXPECT_EQ(cells(), jittered);
  // Amount 0 changes nothing.
  mesh_command_set_jitter_amount(0);
  EXPECT_FALSE(mesh_command_jitter() && cells() != jittered);
  EXPECT_EQ(cells(), jittered);
}

TEST_F(MeshCommands, HeightsSaturateAndStayUnderWater) {
  open_map();
  mesh_cell* water = mesh_edit_cell(4, 4);
  water->media_height = 300;
  water->terrain_and_flags = uint16_t(_terrain_deep_media << 4 | _terrain_grass);
  vertex_selection_select_rectangle(4, 4, 5, 4, false);
  ASSERT_TRUE(mesh_command_set_height(2000));
  EXPECT_EQ(height(4, 4), 300);
  EXPECT_EQ(height(5, 4), 2000);
  ASSERT_TRUE(vertex_selection_raise(40000, "Raise Vertices"));
  EXPECT_EQ(height(5, 4), 32767);
  // A height drag: 10 units a pixel, one step for the whole drag, saturating.
  vertex_selection_select_rectangle(8, 8, 9, 8, false);
  const uint64_t before = edit_journal_undo_serial();
  vertex_selection_height_drag_begin();
  vertex_selection_height_drag_move(3);
  vertex_selection_height_drag_move(-1);
  vertex_selection_height_drag_move(INT32_MAX);
  vertex_selection_height_drag_end();
  EXPECT_EQ(height(8, 8), 32767);
  EXPECT_STREQ(edit_journal_undo_name(), "Height Drag");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(height(8, 8), 0);
  EXPECT_EQ(edit_journal_undo_serial(), before);
  EXPECT_EQ(vertex_selection_drag_kind(2, 5, true), _vertex_drag_height);
  EXPECT_EQ(vertex_selection_drag_kind(6, 5, true), _vertex_drag_rectangle);
  EXPECT_EQ(vertex_selection_drag_kind(0, 5, false), _vertex_drag_rectangle);
}

TEST_F(MeshCommands, MediaHeightsAndImpassableEdges) {
  open_map();
  ASSERT_TRUE(mesh_command_set_all_media_heights(-256));
  for (int32_t i = 0; i < mesh_cell_count(); ++i) ASSERT_EQ(mesh_cells()[i].media_height, -256);
  EXPECT_STREQ(edit_journal_undo_name(), "Set All Media Heights");
  vertex_selection_select_rectangle(2, 2, 3, 3, false);
  ASSERT_TRUE(mesh_command_set_media_height(700));
  EXPECT_EQ(mesh_get_cell(3, 3)->media_height, 700);
  EXPECT_EQ(mesh_get_cell(4, 3)->media_height, -256);

  ASSERT_TRUE(mesh_command_make_edges_impassable());
  int32_t impassable = 0;
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      const bool edge = x < 2 || y < 2 || x >= 28 || y >= 28;
      EXPECT_EQ((mesh_get_cell(x, y)->terrain_and_flags & 0xFF) == 0xFF, edge) << x << ", " << y;
      impassable += edge;
    }
  }
  EXPECT_EQ(impassable, 32 * 32 - 26 * 26);
}

TEST_F(MeshCommands, RotatingTurnsMarkersAboutTheirCentreInsideTheMap) {
  open_map();
  const int32_t a = add_marker(_marker_observer, 10 * 512, 10 * 512);
  const int32_t b = add_marker(_marker_observer, 14 * 512, 10 * 512);
  ASSERT_GE(b, 0);
  EXPECT_EQ(rotate_selection_angle(90), 16384);
  const int32_t indices[] = {a, b};
  ASSERT_TRUE(markers_rotate(indices, rotate_selection_angle(90)));
  // The bearing decreases by a quarter turn about the centre (12, 10).
  EXPECT_EQ(mesh_markers()[a].location.x, 12 * 512);
  EXPECT_EQ(mesh_markers()[a].location.y, 12 * 512);
  EXPECT_EQ(mesh_markers()[b].location.y, 8 * 512);
  EXPECT_EQ(mesh_markers()[a].yaw, uint16_t(-16384));
  // Far out, the positions are kept inside the map.
  const int32_t c = add_marker(_marker_observer, 0, 0);
  const int32_t spread[] = {a, c};
  ASSERT_TRUE(markers_rotate(spread, rotate_selection_angle(180)));
  for (int32_t index : spread) {
    EXPECT_GE(mesh_markers()[index].location.x, 0);
    EXPECT_LE(mesh_markers()[index].location.x, 32 * 512 - 513);
  }
}

TEST_F(MeshCommands, ModelLocationIsClampedIntoTheMap) {
  open_map();
  const int32_t model = add_marker(_marker_model, 512, 512);
  const int32_t observer = add_marker(_marker_observer, 512, 512);
  ASSERT_TRUE(model_set_location(model, {INT32_MAX, -5000, 70000}));
  EXPECT_EQ(mesh_markers()[model].location.x, 32 * 512 - 513);
  EXPECT_EQ(mesh_markers()[model].location.y, 0);
  EXPECT_EQ(mesh_markers()[model].location.z, 32767);
  EXPECT_FALSE(model_set_location(observer, {0, 0, 0}));
  EXPECT_FALSE(model_set_location(99, {0, 0, 0}));
}

TEST_F(MeshCommands, EachCommandIsOneStepOfTheJournal) {
  open_map();
  const int32_t marker = add_marker(_marker_observer, 5000, 5000);
  const int32_t model = add_marker(_marker_model, 600, 600);
  const std::vector<std::pair<const char*, std::function<bool()>>> commands = {
      {"Set Height", [] { return mesh_command_set_height(900); }},
      {"Set Height to Zero", [] { return mesh_command_set_height_to_zero(); }},
      {"Set Media Height", [] { return mesh_command_set_media_height(400); }},
      {"Set All Media Heights", [] { return mesh_command_set_all_media_heights(100); }},
      {"Jitter Selected Vertices", [] { return mesh_command_jitter(); }},
      {"Raise Mesh Edges", [] { return mesh_command_raise_edges(); }},
      {"Make Mesh Edges Impassable", [] { return mesh_command_make_edges_impassable(); }},
      {"Rotate Selection", [&] { const int32_t m[] = {marker, model}; return markers_rotate(m, 5000); }},
      {"Set Model Location", [&] { return model_set_location(model, {3000, 3000, 20}); }},
  };
  for (const auto& [name, run] : commands) {
    vertex_selection_select_rectangle(3, 3, 8, 6, false);
    const std::vector<uint8_t> before = cells();
    const marker_data markers_before = mesh_markers()[model];
    ASSERT_TRUE(run()) << name;
    EXPECT_STREQ(edit_journal_undo_name(), name);
    const std::vector<uint8_t> after = cells();
    const marker_data markers_after = mesh_markers()[model];
    ASSERT_TRUE(edit_journal_undo()) << name;
    EXPECT_EQ(cells(), before) << name;
    EXPECT_EQ(mesh_markers()[model].location.x, markers_before.location.x) << name;
    ASSERT_TRUE(edit_journal_redo()) << name;
    EXPECT_EQ(cells(), after) << name;
    EXPECT_EQ(mesh_markers()[model].location.x, markers_after.location.x) << name;
  }
}

TEST_F(MeshCommands, TheKeysOfTheSelectionTools) {
  open_map();
  EXPECT_EQ(vertex_selection_key(0x20, 0, 1, false).select_tool, 0);
  EXPECT_EQ(vertex_selection_key(0x20, 0, 3, false).select_tool, 1);
  vertex_key_outcome alt6 = vertex_selection_key(0x36, TOOL_MODIFIER_ALT, 1, false);
  EXPECT_EQ(alt6.wireframe, WIREFRAME_REFLECTION_FILLED);
  EXPECT_EQ(alt6.message, "Wireframe mode: Reflection-filled triangles\n");
  EXPECT_EQ(vertex_selection_key(0x31, TOOL_MODIFIER_ALT, 1, false).message, "Wireframe mode: None\n");
  vertex_key_outcome lod = vertex_selection_key(0x4C, TOOL_MODIFIER_ALT, 1, true);
  EXPECT_TRUE(lod.toggle_reduced_lod);
  EXPECT_EQ(lod.message, "Reduced LOD: OFF\n");
  EXPECT_FALSE(vertex_selection_key(0x48, 0, 1, false).handled);  // H with nothing selected
  vertex_selection_click_vertex(4, 4, 0);
  EXPECT_TRUE(vertex_selection_key(0x26, 0, 1, false).handled);
  EXPECT_TRUE(vertex_selection_key(0x26, 0, 1, false).handled);
  EXPECT_EQ(vertex_selection_key(0x48, 0, 1, false).message, "Vertex height 0.04\n");
  EXPECT_TRUE(vertex_selection_key(0x28, 0, 1, false).handled);
  EXPECT_EQ(height(4, 4), 10);
  vertex_selection_key(0xC0, 0, 1, false);
  EXPECT_FALSE(vertex_selection_any());
  EXPECT_FALSE(vertex_selection_key(0x26, 0, 1, false).handled);
}

TEST_F(MeshCommands, JoinedStepsUndoAtOnceAndKeepTheSavedState) {
  open_map();
  ASSERT_TRUE(map_save());
  const uint64_t base = edit_journal_undo_serial();
  const std::vector<uint8_t> saved = cells();
  EXPECT_EQ(edit_journal_merge_after(base, "Nothing"), 0u);
  ASSERT_TRUE(mesh_set_vertex_height(3, 3, 100));
  ASSERT_TRUE(mesh_set_vertex_height(3, 3, 200));
  ASSERT_TRUE(mesh_set_vertex_height(9, 9, 300));
  const std::vector<uint8_t> edited = cells();
  const uint64_t joined = edit_journal_merge_after(base, "Joined");
  ASSERT_NE(joined, 0u);
  EXPECT_EQ(edit_journal_undo_serial(), joined);
  EXPECT_EQ(cells(), edited);
  EXPECT_STREQ(edit_journal_undo_name(), "Joined");
  EXPECT_TRUE(map_is_modified());
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(cells(), saved);
  EXPECT_FALSE(map_is_modified());
  EXPECT_FALSE(edit_journal_can_undo());
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(cells(), edited);
  // Steps that undo one another join into nothing.
  ASSERT_TRUE(mesh_set_vertex_height(9, 9, 0));
  ASSERT_TRUE(mesh_set_vertex_height(9, 9, 300));
  EXPECT_EQ(edit_journal_merge_after(joined, "Back"), 0u);
  EXPECT_EQ(edit_journal_undo_serial(), joined);
}

}  // namespace
