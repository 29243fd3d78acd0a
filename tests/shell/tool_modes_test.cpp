// The tool modes driven as the user drives them: synthetic presses, held buttons and keys on the
// visual view of an open map, checked against the map and taken back with Undo. The application
// object comes from shell_test.cpp's environment.
#include <gtest/gtest.h>

#include <cmath>

#include <QApplication>
#include <QGuiApplication>
#include <QStyleHints>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "render/screen_messages.h"
#include "session/engine.h"
#include "shell/command_table.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/vellgrim_frame.h"
#include "shell/vellgrim_startup.h"
#include "shell/visual_view.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "engine/window_positions.h"
#include "tag_files/tag_files.h"
#include "shell/shell_queries.h"
#include "shell/tool_modes_private.h"
#include "shell/tool_preferences.h"
#include "tools/connector_selection.h"
#include "tools/model_operations.h"
#include "engine/definition_groups.h"
#include "world/models.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"
#include "tools/vellgrim_mesh_utilities.h"
#include "map/mesh_geometry.h"
#include "shell/tool_modes_private.h"
#include "shell/tool_preferences.h"
#include "tools/shadow_editor.h"
#include "tools/vertex_selection.h"
#include "view/render.h"
#include "shell_test_frame.h"

namespace {

class ToolModes : public ::testing::Test {
 protected:
  void open(map_fixture& map) {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    map_tag = store.store_map("meadow", map);
    ASSERT_NE(map_tag, NONE);
    shell_test_create_frame(store);
    frame = shell.frame;
    ASSERT_TRUE(map_open(map_tag));
    UpdateMenuState();
  }
  void SetUp() override {}
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    map_close();
    vellgrim_destroy_windows();
    window_positions_set_file("");
  }

  static map_fixture meadow() {
    map_fixture map = map_fixture_new(1, 1);
    map.palette = {map_fixture_palette_entry(_marker_scenery, make_tag("none"), NONE)};
    return map;
  }

  // The tool, and a fresh frame drawn so that the pick query sees what the view shows.
  void use(int32_t tool) {
    SelectTool(tool);
    visual_view_invalidate();
    visual_view_step();
  }

  // A client point of the view whose first pick hit has that kind.
  bool find(uint16_t kinds, uint16_t wanted, QPoint* at, render_pick_hit* first = nullptr, bool inner = false) {
    for (int y = VISUAL_VIEW_HEIGHT / 2; y < VISUAL_VIEW_HEIGHT; y += 3)
      for (int x = VISUAL_VIEW_WIDTH / 4; x < VISUAL_VIEW_WIDTH * 3 / 4; x += 3) {
        int32_t vx, vy;
        render_client_to_view(x, y, &vx, &vy);
        render_pick_hit hits[8];
        if (render_pick_point(vx, vy, kinds, hits, 8) <= 0 || hits[0].kind != wanted) continue;
        // Away from the grid's edges, where a cell has all four corners.
        const int32_t cell_x = hits[0].a >> WORLD_FRACTIONAL_BITS, cell_y = hits[0].b >> WORLD_FRACTIONAL_BITS;
        if (inner && (cell_x < 2 || cell_y < 2 || cell_x > 28 || cell_y > 28)) continue;
        {
          *at = QPoint(x, y);
          if (first) *first = hits[0];
          return true;
        }
      }
    return false;
  }

  QWidget* view() { return frame->visualView(); }
  void press(QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mousePress(view(), Qt::LeftButton, modifiers, at);
  }
  void release(QPoint at) { QTest::mouseRelease(view(), Qt::LeftButton, Qt::NoModifier, at); }
  // What the main loop does while the button is held, once the arming delay has passed.
  void hold(QPoint at, uint16_t modifiers = 0) {
    QTest::qWait(120);
    ToolMouseHeld(modifiers, int16_t(at.x()), int16_t(at.y()));
  }

  int32_t sum_of_heights() {
    int32_t sum = 0;
    const int32_t size = mesh_width() * CELLS_PER_SUBMESH;
    for (int32_t y = 0; y < size; ++y)
      for (int32_t x = 0; x < size; ++x) sum += mesh_get_cell(x, y)->ground_height;
    return sum;
  }

  // A box geometry and the model "hut1" standing on it, with that many variants; the palette's
  // entries find it and the map's model markers get their models.
  void define_hut(int16_t variants, uint32_t flags = 0) {
    geometry_definition box = {};
    box.minimum_x = box.minimum_y = -300;
    box.maximum_x = box.maximum_y = 300;
    box.maximum_z = 600;
    box.collection_reference_index = NONE;
    const int16_t geometry = definition_add(&geometry_definitions, make_tag("box1"), &box);
    ASSERT_NE(geometry, NONE);
    hut_geometry = geometry;
    model_definition hut = {};
    hut.geometry_tag = make_tag("box1");
    hut.geometry_index = geometry;
    hut.flags = flags;
    hut.variant_count = variants;
    ASSERT_NE(definition_add(&model_definitions, make_tag("hut1"), &hut), NONE);
    markers_reset_palette();
    markers_instantiate();
  }

  // A model of the palette's first model entry placed where the view shows ground, and a client
  // point of the view where it is picked first.
  bool place_model_in_view(QPoint* at) {
    QPoint ground;
    render_pick_hit hit;
    use(_tool_place_model);
    *tool_preference_flags(_tool_place_model) &= uint16_t(~0x0002);
    if (!find(_pick_ground, _pick_ground, &ground, &hit, true)) return false;
    if (model_operation_place(_marker_model, 0, hit.point.x, hit.point.y, 0) < 0) return false;
    use(_tool_preview);
    return find(_pick_marker | _pick_model | _pick_ground, _pick_model, at);
  }

  map_test_store store;
  scripted_ui_host ui;
  CVellgrimFrameWnd* frame = nullptr;
  int32_t map_tag = NONE;
  int16_t hut_geometry = NONE;
};

TEST_F(ToolModes, EachToolSetsItsViewPresetAndAToolChangeUndoesViewChanges) {
  map_fixture map = meadow();
  open(map);
  render_view_settings* settings = render_get_view_settings();
  SelectTool(_tool_select_vertex);
  EXPECT_EQ(settings->wireframe_mode, _wireframe_triangles);
  EXPECT_FALSE(settings->show_media);
  EXPECT_FALSE(settings->reduced_lod);
  ToolKey(0x36, 0x36, INPUT_MODIFIER_ALT);  // Alt+6
  EXPECT_EQ(settings->wireframe_mode, _wireframe_reflection);
  EXPECT_STREQ(screen_message_current(screen_message_clock()), "Wireframe mode: Reflection-filled triangles");
  SelectTool(_tool_submesh);
  EXPECT_EQ(settings->wireframe_mode, _wireframe_submeshes);
  EXPECT_TRUE(settings->show_media);
  SelectTool(_tool_place_model);
  EXPECT_EQ(settings->wireframe_mode, _wireframe_cells);
  EXPECT_FALSE(settings->reduced_lod);
  SelectTool(_tool_place_unit);
  EXPECT_EQ(settings->wireframe_mode, _wireframe_none);
  EXPECT_FALSE(settings->show_media);
  EXPECT_TRUE(settings->reduced_lod);
  // Space switches between Select Vertex and Preview.
  ToolKey(0x20, 0x20, 0);
  EXPECT_EQ(shell.current_tool, _tool_select_vertex);
  ToolKey(0x20, 0x20, 0);
  EXPECT_EQ(shell.current_tool, _tool_preview);
}

TEST_F(ToolModes, AHeightPainterStrokeRaisesTheGroundAsOneUndoStep) {
  map_fixture map = meadow();
  open(map);
  use(_tool_height_painter);
  QPoint at;
  ASSERT_TRUE(find(_pick_ground, _pick_ground, &at));
  const int32_t before = sum_of_heights();
  press(at);
  hold(at + QPoint(3, 0));
  release(at + QPoint(3, 0));
  EXPECT_GT(sum_of_heights(), before);
  EXPECT_TRUE(IsMapModified());
  EXPECT_FALSE(frame->mouseCaptured());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(sum_of_heights(), before);
  // Back at the opened map: closing it asks nothing.
  EXPECT_FALSE(IsMapModified());
}

TEST_F(ToolModes, AQuickClickSelectsAVertexAndAnUpwardDragRaisesIt) {
  map_fixture map = meadow();
  open(map);
  use(_tool_select_vertex);
  QPoint at;
  render_pick_hit hit;
  ASSERT_TRUE(find(_pick_ground | _pick_vertex, _pick_vertex, &at, &hit));
  // A click: the vertex is selected, no rectangle ever starts.
  press(at);
  release(at);
  EXPECT_EQ(vertex_selection_count(), 1);
  EXPECT_TRUE(vertex_selection_contains(hit.a, hit.b));
  // Mostly upward from the grabbed vertex: 10 world units a pixel, one journal step.
  const int16_t height = mesh_get_cell(hit.a, hit.b)->ground_height;
  press(at);
  hold(at + QPoint(1, -4));
  ToolMouseHeld(0, int16_t(at.x() + 1), int16_t(at.y() - 6));
  release(at);
  int32_t dy = 0, dummy = 0;
  render_client_to_view(0, 6, &dummy, &dy);
  EXPECT_EQ(mesh_get_cell(hit.a, hit.b)->ground_height, height + 10 * dy);
  EXPECT_EQ(vertex_selection_count(), 1);
  EXPECT_STREQ(edit_journal_undo_name(), "Height Drag");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_get_cell(hit.a, hit.b)->ground_height, height);
  EXPECT_FALSE(edit_journal_can_undo());
}

TEST_F(ToolModes, ASidewaysDragSelectsTheVerticesInItsRectangle) {
  map_fixture map = meadow();
  open(map);
  use(_tool_select_cell);
  QPoint at;
  render_pick_hit hit;
  ASSERT_TRUE(find(_pick_ground | _pick_vertex, _pick_ground, &at, &hit, true));
  press(at);
  EXPECT_EQ(vertex_selection_count(), 4);  // the corners of the cell clicked
  const QPoint centre(VISUAL_VIEW_WIDTH / 2, VISUAL_VIEW_HEIGHT * 3 / 4);
  hold(centre);
  release(centre);
  EXPECT_GT(vertex_selection_count(), 4);
  // Keys: Up raises the selection, the back-quote clears it.
  const int32_t before = sum_of_heights();
  const int32_t selected = vertex_selection_count();
  ToolKey(0x26, 0x26, 0);
  EXPECT_EQ(sum_of_heights(), before + 10 * selected);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(sum_of_heights(), before);
  ToolKey(0xC0, 0xC0, 0);
  EXPECT_FALSE(vertex_selection_any());
}

TEST_F(ToolModes, UpSaturatesAtTheHighestHeight) {
  map_fixture map = meadow();
  for (mesh_cell& cell : map.cells) cell.ground_height = 32760;
  open(map);
  ASSERT_TRUE(vertex_selection_set(3, 3, true));
  ToolKey(0x26, 0x26, 0);
  EXPECT_EQ(mesh_get_cell(3, 3)->ground_height, 32767);
}

TEST_F(ToolModes, PlaceSceneryAddsAMarkerWhereTheGroundIsPressed) {
  map_fixture map = meadow();
  open(map);
  use(_tool_place_scenery);
  QPoint at;
  render_pick_hit hit;
  ASSERT_TRUE(find(_pick_marker | _pick_ground, _pick_ground, &at, &hit));
  press(at);
  release(at);
  ASSERT_EQ(mesh_marker_count(), 1);
  EXPECT_EQ(mesh_markers()[0].type, _marker_scenery);
  EXPECT_EQ(mesh_markers()[0].location.x, hit.point.x);
  EXPECT_EQ(mesh_markers()[0].location.y, hit.point.y);
  EXPECT_EQ(mesh_markers()[0].yaw, 0);
  EXPECT_TRUE(IsMapModified());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_marker_count(), 0);
  EXPECT_FALSE(IsMapModified());
}

// Every added-marker identifier is taken: the list can't grow. The old editor ended itself here.
TEST_F(ToolModes, AFullMarkerListIsReportedInABoxAndLeavesTheMapAlone) {
  map_fixture map = meadow();
  for (int32_t identifier = FIRST_ADDED_MARKER_IDENTIFIER; identifier <= 32767; ++identifier) {
    marker_data marker = map_fixture_marker(_marker_scenery, 0, 100, 100);
    marker.identifier = int16_t(identifier);
    map.markers.push_back(marker);
  }
  open(map);
  const int32_t count = mesh_marker_count();
  use(_tool_place_scenery);
  QPoint at;
  ASSERT_TRUE(find(_pick_ground, _pick_ground, &at));
  press(at);
  release(at);
  EXPECT_EQ(mesh_marker_count(), count);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "couldn't add marker for meadow.");
  EXPECT_FALSE(IsMapModified());
  EXPECT_FALSE(edit_journal_can_undo());
}

}  // namespace

namespace {

TEST_F(ToolModes, ReflectionPaintingTogglesATriangleAndKeepsTheLodWhole) {
  map_fixture map = meadow();
  open(map);
  ASSERT_TRUE(mesh_recompute_lod_data());
  use(_tool_reflection_painting);
  QPoint at;
  render_pick_hit hit;
  ASSERT_TRUE(find(_pick_ground, _pick_ground, &at, &hit, true));
  const int32_t x = hit.a >> WORLD_FRACTIONAL_BITS, y = hit.b >> WORLD_FRACTIONAL_BITS;
  const uint16_t flag = (mesh_triangle_at(hit.a, hit.b) & 1) ? _cell_media_on_odd_triangle : _cell_media_on_even_triangle;
  const uint16_t before = mesh_get_cell(x, y)->terrain_and_flags;
  press(at);
  release(at);
  EXPECT_EQ(mesh_get_cell(x, y)->terrain_and_flags & _cell_media_flags, (before & _cell_media_flags) ^ flag);
  // The cell's corners now touch media, and the LOD is what a full recompute gives.
  EXPECT_TRUE(mesh_get_cell(x, y)->terrain_and_flags & _cell_vertex_touches_media);
  const std::vector<uint16_t> painted(mesh_lod(), mesh_lod() + mesh_lod_entry_count());
  ASSERT_TRUE(mesh_recompute_lod_data());
  EXPECT_EQ(painted, std::vector<uint16_t>(mesh_lod(), mesh_lod() + mesh_lod_entry_count()));
  EXPECT_TRUE(IsMapModified());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_get_cell(x, y)->terrain_and_flags & _cell_media_flags, before & _cell_media_flags);
  EXPECT_FALSE(IsMapModified());
}

// Place Model: a press places the model with the preview's facing (Left turns it a sixteenth back), a Ctrl drag
// moves it, a plain drag turns it, Delete removes it; each one Undo step.
TEST_F(ToolModes, PlaceModelPlacesMovesTurnsAndDeletesTheCurrentModel) {
  map_fixture map = meadow();
  map.palette.push_back(map_fixture_palette_entry(_marker_model, make_tag("none"), NONE));
  open(map);
  use(_tool_place_model);
  *tool_preference_flags(_tool_place_model) |= 0x0002;  // "Constrain to Grid"
  const auto on_grid = [](int32_t v) { return int32_t(std::lround(v / 512.0)) * 512; };
  QPoint at, to;
  render_pick_hit hit, target;
  ASSERT_TRUE(find(_pick_ground, _pick_ground, &at, &hit, true));
  QTest::keyClick(view(), Qt::Key_Left);
  EXPECT_EQ(tool_models_preview_facing(_tool_place_model), 0xF000);
  press(at);
  ASSERT_EQ(mesh_marker_count(), 1);
  const marker_data placed = mesh_markers()[0];
  EXPECT_EQ(placed.type, _marker_model);
  EXPECT_EQ(placed.location.x, on_grid(hit.point.x));
  EXPECT_EQ(placed.location.y, on_grid(hit.point.y));
  EXPECT_EQ(model_operation_facing(0), 0xF000);
  EXPECT_EQ(shell_current_model_marker(), 0);
  EXPECT_TRUE(shell_model_is_current());

  // A Ctrl drag moves it to the ground under the cursor, keeping its facing and its marker.
  to = QPoint(at.x() + 40, at.y() + 20);
  int32_t vx, vy;
  render_client_to_view(to.x(), to.y(), &vx, &vy);
  ASSERT_GT(render_pick_point(vx, vy, _pick_ground, &target, 1), 0);
  hold(to, INPUT_MODIFIER_CTRL);
  release(to);
  EXPECT_EQ(mesh_markers()[0].identifier, placed.identifier);
  EXPECT_EQ(mesh_markers()[0].location.x, on_grid(target.point.x));
  EXPECT_EQ(mesh_markers()[0].location.y, on_grid(target.point.y));
  EXPECT_EQ(model_operation_facing(0), 0xF000);
  EXPECT_STREQ(edit_journal_undo_name(), "Move Model");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_markers()[0].location.x, on_grid(hit.point.x));

  // A plain drag from the model's place turns it toward the cursor.
  use(_tool_place_model);
  press(at);  // places a second model, now current
  ASSERT_EQ(mesh_marker_count(), 2);
  hold(to);
  release(to);
  EXPECT_NE(model_operation_facing(1), 0xF000);
  EXPECT_STREQ(edit_journal_undo_name(), "Turn Model");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(model_operation_facing(1), 0xF000);

  // Delete takes the current model; Undo brings it back.
  QTest::keyClick(view(), Qt::Key_Delete);
  EXPECT_EQ(mesh_marker_count(), 1);
  EXPECT_FALSE(shell_model_is_current());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_marker_count(), 2);
  // Every step taken back: the map is as it was opened.
  while (edit_journal_can_undo()) ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_marker_count(), 0);
  EXPECT_FALSE(IsMapModified());
}

// Before the scene only the current model is flagged to be drawn highlighted; with show models off,
// none is.
TEST_F(ToolModes, BeforeTheSceneOnlyTheCurrentModelIsHighlighted) {
  map_fixture map = meadow();
  map.palette.push_back(map_fixture_palette_entry(_marker_model, make_tag("hut1"), NONE));
  open(map);
  geometry_definition box = {};
  box.maximum_x = box.maximum_y = box.maximum_z = 300;
  box.collection_reference_index = NONE;
  const int16_t geometry = definition_add(&geometry_definitions, make_tag("box1"), &box);
  ASSERT_NE(geometry, NONE);
  model_definition hut = {};
  hut.geometry_tag = make_tag("box1");
  hut.geometry_index = geometry;
  hut.flags = MODEL_TURNS_BY_QUARTERS;
  ASSERT_NE(definition_add(&model_definitions, make_tag("hut1"), &hut), NONE);
  markers_reset_palette();  // the entry finds its definition now
  markers_instantiate();
  use(_tool_place_model);
  ASSERT_TRUE(tool_models_place(_tool_place_model, {3000, 3000, 0}));
  ASSERT_TRUE(tool_models_place(_tool_place_model, {6000, 3000, 0}));
  const int16_t first = mesh_markers()[0].object_index, second = mesh_markers()[1].object_index;
  ASSERT_NE(model_get(first), nullptr);
  ASSERT_NE(model_get(second), nullptr);
  model_get(first)->flags |= _model_highlighted;

  tool_overlay_procedures()->before_scene(nullptr);
  EXPECT_FALSE(model_get(first)->flags & _model_highlighted);
  EXPECT_TRUE(model_get(second)->flags & _model_highlighted);
  render_get_view_settings()->show_models = 0;
  tool_overlay_procedures()->before_scene(nullptr);
  EXPECT_FALSE(model_get(second)->flags & _model_highlighted);

  // A model that turns by quarters takes the quarter of the direction to its pivot a quarter on:
  // ((a + 0x6000) >> 14 & 3) quarters, whichever side of the quarter's middle the point lies.
  const world_point3d at = mesh_markers()[1].location;
  EXPECT_EQ(model_operation_facing_toward(1, at.x + 1000, at.y + 300), 0xC000);
  EXPECT_EQ(model_operation_facing_toward(1, at.x + 1000, at.y - 300), 0xC000);
  EXPECT_EQ(model_operation_facing_toward(1, at.x + 300, at.y + 1000), 0x0000);
  EXPECT_EQ(model_operation_facing_toward(1, at.x - 1000, at.y - 200), 0x4000);
}

TEST_F(ToolModes, MarkersMoveAndTurnAsOneStepEachAndStaySelectedThroughASave) {
  map_fixture map = meadow();
  for (int32_t k = 0; k < 3; ++k) {
    marker_data marker = map_fixture_marker(_marker_scenery, 0, 3000 - 1000 * k, 2000);
    marker.identifier = int16_t(500 - k);
    map.markers.push_back(marker);
  }
  open(map);
  // The markers are stored out of order: a save sorts them.
  ASSERT_TRUE(connector_selection_add(_marker_scenery, 499));
  const int32_t moved[] = {1};
  ASSERT_TRUE(marker_operation_move(moved, world_point3d{5000, 6000, 0}));
  ASSERT_TRUE(marker_operation_turn(moved, 0x4000));
  EXPECT_EQ(mesh_markers()[1].location.x, 5000);
  EXPECT_EQ(mesh_markers()[1].yaw, 0x4000);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_markers()[1].yaw, 0);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_markers()[1].location.x, 2000);
  const int32_t outside[] = {7};
  EXPECT_FALSE(marker_operation_move(outside, world_point3d{0, 0, 0}));

  // The hovered marker, like the selected one, is still the same marker after the save.
  tool_overlay_set_hovered(2);
  ASSERT_EQ(mesh_markers()[2].identifier, 498);
  SetMapModified(true);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SAVE_MAP));
  EXPECT_TRUE(connector_selection_contains(_marker_scenery, 499));
  EXPECT_EQ(connector_selection_count(), 1);
  for (int32_t k = 0; k < mesh_marker_count(); ++k) {
    const int16_t identifier = mesh_markers()[k].identifier;
    EXPECT_EQ(tool_overlay_procedures()->marker_state(k),
              identifier == 499 ? _render_marker_selected : identifier == 498 ? _render_marker_hovered : 0)
        << k;
  }
  // A deletion before it shifts its index; the highlight stays on it.
  ASSERT_EQ(mesh_markers()[0].identifier, 500);
  ASSERT_TRUE(marker_operation_delete(0));
  ASSERT_EQ(mesh_markers()[1].identifier, 498);
  EXPECT_EQ(tool_overlay_procedures()->marker_state(1), _render_marker_hovered);
}

}  // namespace

namespace {

// Runs `act` on the modal dialog that `open` shows, as soon as it is up.
template <class Dialog>
void with_dialog(const std::function<void(Dialog*)>& act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(dialog);
  });
}

void click(QWidget* dialog, const char* name) { dialog->findChild<QPushButton*>(name)->click(); }

TEST_F(ToolModes, ViewPreferencesKeepAModeTheComboDoesNotListUntilTheUserChangesIt) {
  map_fixture map = meadow();
  open(map);
  SelectTool(_tool_reflection_painting);
  render_view_settings* settings = render_get_view_settings();
  ASSERT_EQ(settings->wireframe_mode, _wireframe_reflection);
  with_dialog<QDialog>([](QDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "View Preferences");
    EXPECT_EQ(dialog->findChild<QComboBox*>("combo_1039")->currentIndex(), -1);
    dialog->findChild<QCheckBox*>("check_1041")->setChecked(true);
    click(dialog, "ok");
  });
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_VIEW_PREFERENCES));
  EXPECT_EQ(settings->wireframe_mode, _wireframe_reflection);
  EXPECT_TRUE(settings->show_objects);

  with_dialog<QDialog>([](QDialog* dialog) {
    dialog->findChild<QComboBox*>("combo_1039")->setCurrentIndex(3);  // Submeshes
    dialog->findChild<QCheckBox*>("check_1040")->setChecked(false);
    click(dialog, "ok");
  });
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_VIEW_PREFERENCES));
  EXPECT_EQ(settings->wireframe_mode, _wireframe_submeshes);
  EXPECT_FALSE(settings->show_media);

  with_dialog<QDialog>([](QDialog* dialog) {
    dialog->findChild<QComboBox*>("combo_1039")->setCurrentIndex(0);
    click(dialog, "cancel");
  });
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_VIEW_PREFERENCES));
  EXPECT_EQ(settings->wireframe_mode, _wireframe_submeshes);
  // The next tool change brings the preset back.
  SelectTool(_tool_preview);
  EXPECT_EQ(settings->wireframe_mode, _wireframe_none);
  EXPECT_TRUE(settings->show_media);
}

TEST_F(ToolModes, ToolPreferencesEditTheToolsFlagWord) {
  map_fixture map = meadow();
  open(map);
  SelectTool(_tool_place_model);
  uint16_t* flags = tool_preference_flags(_tool_place_model);
  ASSERT_NE(flags, nullptr);
  *flags = 0x0081;  // Show All, and a bit the dialog doesn't know
  with_dialog<QDialog>([](QDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Model Tool Preferences");
    EXPECT_TRUE(dialog->findChild<QCheckBox*>("check_1054")->isChecked());
    EXPECT_EQ(dialog->findChild<QCheckBox*>("check_1055")->text(), "Constrain to Grid");
    EXPECT_EQ(dialog->findChild<QCheckBox*>("check_1056"), nullptr);
    dialog->findChild<QCheckBox*>("check_1054")->setChecked(false);
    dialog->findChild<QCheckBox*>("check_1055")->setChecked(true);
    click(dialog, "ok");
  });
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_TOOL_PREFERENCES));
  EXPECT_EQ(*flags, 0x0082);
}

TEST_F(ToolModes, ThePopUpOfAHeldButtonLeavesNoCaptureOrDragBehind) {
  map_fixture map = meadow();
  open(map);
  use(_tool_submesh);
  QPoint at;
  ASSERT_TRUE(find(_pick_ground, _pick_ground, &at));
  press(at);
  ASSERT_TRUE(frame->mouseCaptured());
  bool shown = false;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&shown] {
    if (QWidget* popup = QApplication::activePopupWidget()) {
      shown = true;
      popup->close();
    }
  });
  closer.start(10);
  hold(at);
  closer.stop();
  EXPECT_TRUE(shown);
  // The pop-up took the release: the clean-up already ran.
  EXPECT_FALSE(frame->mouseCaptured());
  EXPECT_FALSE(tool_drag.dragging);
  EXPECT_EQ(tool_drag.armed_time, 0u);
  ToolMouseHeld(0, int16_t(at.x()), int16_t(at.y()));
  EXPECT_FALSE(tool_drag.dragging);
}

}  // namespace

namespace {

TEST_F(ToolModes, APlacementToolShowsTheSceneryWindowAndOtherToolsHideIt) {
  map_fixture map = meadow();
  open(map);
  QWidget* scenery = shell.windows[_shell_window_scenery];
  ASSERT_NE(scenery, nullptr);
  SelectTool(_tool_place_unit);
  EXPECT_TRUE(scenery->isVisible());
  EXPECT_TRUE(shell.windows[_shell_window_overhead]->isVisible());
  SelectTool(_tool_select_vertex);
  EXPECT_FALSE(scenery->isVisible());
  // A press with Place Unit on a scenery marker's type selects nothing and places nothing else
  // than a unit: with no unit entry in the palette, nothing at all.
  use(_tool_place_unit);
  QPoint at;
  ASSERT_TRUE(find(_pick_ground, _pick_ground, &at));
  press(at);
  release(at);
  EXPECT_EQ(mesh_marker_count(), 0);
  EXPECT_FALSE(IsMapModified());
}

}  // namespace

namespace {

// Held still past the arming delay, a grabbed vertex's drag waits; moved sideways it is a rectangle.
TEST_F(ToolModes, AGrabbedVertexHeldStillStartsNoDragAndSidewaysSelects) {
  map_fixture map = meadow();
  open(map);
  use(_tool_select_vertex);
  QPoint at;
  render_pick_hit hit;
  ASSERT_TRUE(find(_pick_ground | _pick_vertex, _pick_vertex, &at, &hit));
  const int32_t before = sum_of_heights();
  press(at);
  hold(at);
  EXPECT_FALSE(tool_drag.dragging);
  const int across = at.x() < VISUAL_VIEW_WIDTH / 2 ? 80 : -80;
  const QPoint sideways(at.x() + across, at.y() + 30);
  ToolMouseHeld(0, int16_t(sideways.x()), int16_t(sideways.y()));
  EXPECT_TRUE(tool_drag.dragging);
  EXPECT_FALSE(tool_drag.height_drag);
  release(sideways);
  EXPECT_EQ(sum_of_heights(), before);
  EXPECT_GE(vertex_selection_count(), 1);
}

}  // namespace

namespace {

// Closes the first pop-up menu that shows up, choosing the item with that text (none: Escape), and
// keeps what it listed.
struct popup_chooser {
  explicit popup_chooser(QString choice) : choice_(std::move(choice)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu || shown) return;
      shown = true;
      for (QAction* action : menu->actions()) {
        items << action->text();
        if (action->isChecked()) checked << action->text();
        if (action->text() == choice_) menu->setActiveAction(action);
      }
      QTest::keyClick(menu, choice_.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
    });
    timer_.start(10);
  }
  bool shown = false;
  QStringList items, checked;

 private:
  QString choice_;
  QTimer timer_;
};

// Preview presses the model to make it current; an Alt drag offers its variants and the choice is
// kept in the model and its marker, one Undo step.
TEST_F(ToolModes, AnAltDragOnTheCurrentModelChoosesItsVariant) {
  map_fixture map = meadow();
  map.palette.push_back(map_fixture_palette_entry(_marker_model, make_tag("hut1"), NONE));
  open(map);
  define_hut(3);
  QPoint at;
  ASSERT_TRUE(place_model_in_view(&at));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_REDO));
  SetMapModified(false);
  press(at);
  ASSERT_EQ(tool_models_current_marker(_marker_model), 0);
  {
    popup_chooser chooser("2");
    QTest::qWait(200);  // past the longer arming delay of a pressed model
    ToolMouseHeld(INPUT_MODIFIER_ALT, int16_t(at.x() + 5), int16_t(at.y()));
    EXPECT_TRUE(chooser.shown);
    EXPECT_EQ(chooser.items, QStringList({"0", "1", "2"}));
    EXPECT_EQ(chooser.checked, QStringList({"0"}));
  }
  // The pop-up took the release: nothing stays captured or dragging.
  EXPECT_FALSE(frame->mouseCaptured());
  EXPECT_FALSE(tool_drag.dragging);
  release(at);
  EXPECT_EQ(model_operation_variant(0), 2);
  EXPECT_EQ(model_get(mesh_markers()[0].object_index)->variant, 2);
  EXPECT_TRUE(IsMapModified());
  EXPECT_STREQ(edit_journal_undo_name(), "Choose Model Variant");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(model_operation_variant(0), 0);
  EXPECT_EQ(model_get(mesh_markers()[0].object_index)->variant, 0);

  // A variant the definition doesn't have is refused and changes nothing.
  EXPECT_FALSE(model_operation_set_variant(0, 3));
  EXPECT_FALSE(model_operation_set_variant(0, -1));
  EXPECT_STREQ(edit_journal_undo_name(), "Place Model");
}

// Place Local Projectile Group pressed on a model puts the group at the model's own position.
TEST_F(ToolModes, ALocalProjectileGroupPressedOnAModelStandsAtTheModel) {
  map_fixture map = meadow();
  map.palette.push_back(map_fixture_palette_entry(_marker_model, make_tag("hut1"), NONE));
  map.palette.push_back(map_fixture_palette_entry(_marker_local_projectile_group, make_tag("none"), NONE));
  open(map);
  define_hut(1);
  QPoint at;
  ASSERT_TRUE(place_model_in_view(&at));
  use(_tool_place_local_projectile_group);
  press(at);
  release(at);
  ASSERT_EQ(mesh_marker_count(), 2);
  const marker_data& group = mesh_markers()[1];
  EXPECT_EQ(group.type, _marker_local_projectile_group);
  EXPECT_EQ(group.location.x, mesh_markers()[0].location.x);
  EXPECT_EQ(group.location.y, mesh_markers()[0].location.y);
  EXPECT_EQ(group.location.z, mesh_markers()[0].location.z);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_marker_count(), 1);
}

// The preview follows the cursor as a box of the model's geometry; Left turns it a quarter for a
// model that turns by quarters; a moved model's pitch is shown by the preview.
TEST_F(ToolModes, ThePreviewShowsTheModelsBoxAndAMovedModelsPitch) {
  map_fixture map = meadow();
  map.palette.push_back(map_fixture_palette_entry(_marker_model, make_tag("hut1"), NONE));
  open(map);
  define_hut(1, MODEL_TURNS_BY_QUARTERS);
  use(_tool_place_model);
  *tool_preference_flags(_tool_place_model) &= uint16_t(~0x0002);
  tool_model_outline outline;
  tool_models_follow_cursor(_tool_place_model, false, {});
  EXPECT_FALSE(tool_models_preview_outline(_tool_place_model, &outline));
  tool_models_follow_cursor(_tool_place_model, true, {4000, 4000, 0});
  ASSERT_TRUE(tool_models_preview_outline(_tool_place_model, &outline));
  EXPECT_EQ(outline.corners[0].x, 4000 - 300);
  EXPECT_EQ(outline.corners[7].x, 4000 + 300);
  EXPECT_EQ(outline.corners[7].z - outline.corners[0].z, 600);
  EXPECT_FALSE(tool_models_preview_outline(_tool_select_vertex, &outline));

  QTest::keyClick(view(), Qt::Key_Left);
  EXPECT_EQ(tool_models_preview_facing(_tool_place_model), 0xC000);
  QTest::keyClick(view(), Qt::Key_Right);
  QTest::keyClick(view(), Qt::Key_Right);
  EXPECT_EQ(tool_models_preview_facing(_tool_place_model), 0x4000);

  // A Ctrl drag of the pressed model: the preview takes its facing and pitch. A map's model
  // carries its pitch in its marker, here set as a saved map would have it.
  QPoint at;
  ASSERT_TRUE(place_model_in_view(&at));
  {
    journal_step step("Tilt");
    edit_journal_marker(0)->pitch = 0x0800;
    ASSERT_TRUE(step.commit());
  }
  const int32_t placed_x = mesh_markers()[0].location.x;
  press(at);
  QTest::qWait(200);
  ToolMouseHeld(INPUT_MODIFIER_CTRL, int16_t(at.x() + 20), int16_t(at.y() + 10));
  release(at + QPoint(20, 10));
  EXPECT_EQ(mesh_markers()[0].pitch, 0x0800);
  EXPECT_NE(mesh_markers()[0].location.x, placed_x);
  SelectTool(_tool_place_model);
  tool_models_follow_cursor(_tool_place_model, true, {4000, 4000, 0});
  ASSERT_TRUE(tool_models_preview_outline(_tool_place_model, &outline));
  EXPECT_EQ(outline.pitch, 0x0800);
  EXPECT_EQ(outline.facing, 0);
  // Tilted, the box's top stands off its base.
  EXPECT_NE(outline.corners[4].x, outline.corners[0].x);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_markers()[0].location.x, placed_x);
}

// A quick click with the Submesh tool protects the submesh under it; the protection is saved with
// the shadow maps and is there when the map is opened again.
TEST_F(ToolModes, AProtectedSubmeshSurvivesSaveAndReopen) {
  map_fixture map = meadow();
  open(map);
  use(_tool_submesh);
  QPoint at;
  ASSERT_TRUE(find(_pick_ground, _pick_ground, &at));
  ASSERT_FALSE(shadow_submesh_is_protected(0));
  press(at);
  release(at);
  EXPECT_TRUE(shadow_submesh_is_protected(0));
  EXPECT_STREQ(screen_message_current(screen_message_clock()), "Submesh 0 protected");
  EXPECT_TRUE(IsMapModified());
  EXPECT_TRUE(AreShadowMapsChanged());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_FALSE(shadow_submesh_is_protected(0));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_REDO));
  ASSERT_TRUE(shadow_submesh_is_protected(0));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SAVE_MAP));
  EXPECT_FALSE(AreShadowMapsChanged());
  map_close();
  ASSERT_TRUE(map_open(map_tag));
  EXPECT_TRUE(shadow_submesh_is_protected(0));
}

// The picker's flag mode: the "Color Flags" boxes edit their bits and keep the others; a channel
// left alone keeps its 16 bits. The plain mode has no flags group.
TEST_F(ToolModes, TheColourPickersFlagModeEditsTheFlagsAndKeepsUnchangedChannels) {
  CCustomColorPickerDlg plain(nullptr, 0x00336699u);
  EXPECT_EQ(plain.flagsGroup(), nullptr);
  EXPECT_EQ(plain.colorref(), 0x00336699u);

  const rgb_color16 color = {0x12AB, 0x3456, 0xFF01, uint16_t(_color_uses_global_tint | 0x0100)};
  CCustomColorPickerDlg picker(nullptr, color);
  ASSERT_NE(picker.flagsGroup(), nullptr);
  EXPECT_EQ(picker.flagsGroup()->title(), "Color Flags");
  auto* reversed = picker.findChild<QCheckBox*>("check_1154");
  auto* tint = picker.findChild<QCheckBox*>("check_1155");
  auto* unused = picker.findChild<QCheckBox*>("check_1156");
  ASSERT_TRUE(reversed && tint && unused);
  EXPECT_EQ(unused->text(), "Is Unused");
  EXPECT_FALSE(reversed->isChecked());
  EXPECT_TRUE(tint->isChecked());
  reversed->setChecked(true);
  tint->setChecked(false);
  picker.setCurrentColor(QColor(0x12, 0x80, 0xFF));
  const rgb_color16 result = picker.color16();
  EXPECT_EQ(result.red, 0x12AB);    // unchanged: all 16 bits kept
  EXPECT_EQ(result.green, 0x8080); // changed: the byte in both halves
  EXPECT_EQ(result.blue, 0xFF01);
  EXPECT_EQ(result.flags, uint16_t(_color_is_reversed | 0x0100));
}

}  // namespace

namespace {

// The cursor says what a press does: an arrow to pick with Preview, a cross to aim the vertex,
// painting and placing tools, a hand for the Submesh tool's click; a move drag shows the move.
TEST_F(ToolModes, TheCursorFollowsTheToolAndTheDrag) {
  map_fixture map = meadow();
  map.palette.push_back(map_fixture_palette_entry(_marker_model, make_tag("hut1"), NONE));
  open(map);
  define_hut(1);
  SelectTool(_tool_preview);
  EXPECT_EQ(view()->cursor().shape(), Qt::ArrowCursor);
  SelectTool(_tool_select_vertex);
  EXPECT_EQ(view()->cursor().shape(), Qt::CrossCursor);
  SelectTool(_tool_submesh);
  EXPECT_EQ(view()->cursor().shape(), Qt::PointingHandCursor);
  SelectTool(_tool_place_scenery);
  EXPECT_EQ(view()->cursor().shape(), Qt::CrossCursor);

  // A Ctrl drag of a model pressed with Preview moves it.
  QPoint at;
  ASSERT_TRUE(place_model_in_view(&at));
  press(at, Qt::ControlModifier);
  QTest::qWait(200);
  ToolMouseHeld(INPUT_MODIFIER_CTRL, int16_t(at.x() + 10), int16_t(at.y() + 5));
  EXPECT_EQ(tool_drag.kind, _tool_drag_move);
  EXPECT_EQ(view()->cursor().shape(), Qt::SizeAllCursor);
  release(at + QPoint(10, 5));
  EXPECT_EQ(view()->cursor().shape(), Qt::ArrowCursor);
}

}  // namespace

namespace {

// A double-click on a placement tool's button opens its marker palette and counts as a change even
// when the palette closes untouched; on another tool's button it is only a tool change.
TEST_F(ToolModes, ADoubleClickedPlacementButtonMarksTheMapChanged) {
  map_fixture map = meadow();
  open(map);
  QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
  ToolbarCommand(int32_t(FIRST_TOOL_COMMAND) + int32_t(_tool_select_vertex));
  ToolbarCommand(int32_t(FIRST_TOOL_COMMAND) + int32_t(_tool_select_vertex));
  EXPECT_EQ(shell.current_tool, _tool_select_vertex);
  EXPECT_FALSE(IsMapModified());
  // The palette dialog is modal: close it as soon as it shows.
  QTimer::singleShot(0, [] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
  });
  ToolbarCommand(int32_t(FIRST_TOOL_COMMAND) + int32_t(_tool_place_scenery));
  EXPECT_EQ(shell.current_tool, _tool_place_scenery);
  EXPECT_TRUE(IsMapModified());
  SetMapModified(false);
  QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
  ToolbarCommand(int32_t(FIRST_TOOL_COMMAND) + int32_t(_tool_place_unit));
  EXPECT_FALSE(IsMapModified());
}

}  // namespace

namespace {

// A model animation pressed with Preview becomes the one Delete removes, even with a model current
// before: the press leaves no model current.
TEST_F(ToolModes, PreviewMakesThePressedModelOrAnimationTheOnlyCurrentOne) {
  map_fixture map = meadow();
  map.palette.push_back(map_fixture_palette_entry(_marker_model, make_tag("hut1"), NONE));
  map.palette.push_back(map_fixture_palette_entry(_marker_model_animation, make_tag("mil1"), NONE));
  open(map);
  model_animation_definition mill = {};
  mill.frame_count = 1;
  mill.frame_geometry_tags[0] = make_tag("box1");
  define_hut(1);
  mill.frame_geometry_indexes[0] = hut_geometry;
  ASSERT_NE(definition_add(&model_animation_definitions, make_tag("mil1"), &mill), NONE);
  markers_reset_palette();
  markers_instantiate();
  const int32_t hut = model_operation_place(_marker_model, 0, 3000, 3000, 0);
  const int32_t windmill = model_operation_place(_marker_model_animation, 0, 6000, 3000, 0);
  ASSERT_GE(hut, 0);
  ASSERT_GE(windmill, 0);
  ASSERT_NE(model_animation_get(mesh_markers()[windmill].object_index), nullptr);
  use(_tool_preview);
  tool_models_press_model(_tool_preview, mesh_markers()[hut].object_index, false);
  EXPECT_EQ(tool_models_current_marker(_marker_model), hut);
  tool_models_press_model(_tool_preview, mesh_markers()[windmill].object_index, true);
  EXPECT_EQ(tool_models_current_marker(_marker_model), -1);
  EXPECT_EQ(tool_models_current_marker(_marker_model_animation), windmill);
  QTest::keyClick(view(), Qt::Key_Delete);
  ASSERT_EQ(mesh_marker_count(), 1);
  EXPECT_EQ(mesh_markers()[0].type, _marker_model);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_marker_count(), 2);
}

}  // namespace
