// The Mesh menu's vertex commands and the Height Painter Preferences dialog in the editor.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "engine/window_positions.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "shell/command_table.h"
#include "shell/height_painter_dialog.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/vellgrim_frame.h"
#include "shell/vellgrim_startup.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tools/edit_journal.h"
#include "tools/height_painter.h"
#include "tools/map_session.h"
#include "tools/mesh_commands.h"
#include "tools/vertex_selection.h"
#include "shell_test_frame.h"

namespace {

class MeshMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    map_fixture map = map_fixture_new(1, 1);
    const int32_t tag_index = store.store_map("quarry", map);
    ASSERT_NE(tag_index, NONE);
    shell_test_create_frame(store);
    frame = shell.frame;
    ASSERT_TRUE(map_open(tag_index));
    SelectTool(_tool_preview);
    mesh_command_set_jitter_amount(JITTER_AMOUNT_DEFAULT);
  }
  void TearDown() override {
    SelectTool(_tool_preview);
    ui.default_answer = ui_answer_no;
    map_close();
    vellgrim_destroy_windows();
    window_positions_set_file("");
  }
  bool enabled(int32_t id) const { return frame->menuAction(id)->isEnabled(); }
  static int32_t height(int32_t x, int32_t y) { return mesh_get_cell(x, y)->ground_height; }

  map_test_store store;
  scripted_ui_host ui;
  CVellgrimFrameWnd* frame = nullptr;
};

TEST_F(MeshMenu, SetHeightAsksAgainOutsideItsRangeAndFollowsTheSelection) {
  UpdateMenuState();
  EXPECT_FALSE(enabled(COMMAND_SET_HEIGHT));
  vertex_selection_click_cell(31 * 512 + 5, 31 * 512 + 5, 0);  // the corner cell: one vertex
  UpdateMenuState();
  for (int32_t id : {COMMAND_SET_HEIGHT, COMMAND_SET_HEIGHT_TO_ZERO, COMMAND_SET_MEDIA_HEIGHT,
                     COMMAND_JITTER_SELECTED_VERTICES})
    EXPECT_TRUE(enabled(id)) << id;
  ui.values = {12.0, INFINITY, 1.5};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SET_HEIGHT));
  ASSERT_EQ(ui.value_requests.size(), 3u);
  EXPECT_EQ(ui.value_requests[0].title, "Enter the new value:");
  EXPECT_EQ(ui.value_requests[0].label, "Value:");
  EXPECT_EQ(ui.value_requests[0].minimum, -10.0);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].title, "Invalid Value");
  EXPECT_EQ(ui.boxes[0].text, "Please enter a value between -10.000 and 10.000\n");
  EXPECT_EQ(height(31, 31), 768);
  EXPECT_STREQ(edit_journal_undo_name(), "Set Height");
  // The next dialog starts from the current vertex.
  ui.values = {std::nullopt};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SET_MEDIA_HEIGHT));
  EXPECT_EQ(ui.value_requests.back().initial, 0.0);
  ui.values = {std::nullopt};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SET_HEIGHT));
  EXPECT_EQ(ui.value_requests.back().initial, 1.5);
  // A tool change clears the selection.
  SelectTool(_tool_select_cell);
  EXPECT_FALSE(vertex_selection_any());
  EXPECT_FALSE(enabled(COMMAND_SET_HEIGHT));
}

TEST_F(MeshMenu, CancelledHeightDialogsStillMarkTheMapModified) {
  vertex_selection_select_rectangle(1, 1, 2, 2, false);
  ui.values = {std::nullopt};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SET_HEIGHT));
  EXPECT_TRUE(IsMapModified());
  EXPECT_EQ(height(1, 1), 0);
}

TEST_F(MeshMenu, AmountDialogsKeepTheirValuesIn16Bits) {
  ui.values = {100.0, 1.25};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_EDIT_JITTER_AMOUNT));
  EXPECT_EQ(ui.value_requests[0].title, "Enter the jitter amount:");
  EXPECT_EQ(ui.value_requests[0].label, "Jitter Amount:");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Please enter a value between -64.000 and 63.998\n");
  EXPECT_EQ(mesh_command_jitter_amount(), 640);
  ui.values = {std::nullopt};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_EDIT_MESH_EDGE_RAISE_AMOUNT));
  EXPECT_EQ(ui.value_requests.back().title, "Enter the mesh edge raise amount:");
  EXPECT_EQ(mesh_command_edge_raise_amount(), MESH_EDGE_RAISE_AMOUNT_DEFAULT);
  EXPECT_FALSE(IsMapModified());  // the amount dialogs change no map
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_RAISE_MESH_EDGES));
  EXPECT_EQ(height(0, 0), MESH_EDGE_RAISE_AMOUNT_DEFAULT);
  EXPECT_TRUE(IsMapModified());
}

TEST_F(MeshMenu, ThePainterRunsWhileItsToolIsCurrentAndItsBatchIsUndone) {
  SelectTool(_tool_height_painter);
  ASSERT_TRUE(height_painter_active());
  height_painter_apply(false, 10, 10, 100);
  height_painter_end_stroke();
  ASSERT_GT(height(10, 10), 0);
  UpdateMenuState();
  EXPECT_TRUE(enabled(COMMAND_UNDO));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(height(10, 10), 0);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_REDO));
  EXPECT_GT(height(10, 10), 0);
  EXPECT_TRUE(enabled(COMMAND_TOOL_PREFERENCES));
  SelectTool(_tool_preview);
  EXPECT_FALSE(height_painter_active());
}

TEST_F(MeshMenu, ThePainterDialogSwitchesItsLabelsAndKeepsEachValue) {
  height_painter_preferences start;
  height_painter_set_defaults(&start);
  CHeightPainterPrefsDlg dialog(frame, start);
  EXPECT_EQ(dialog.windowTitle(), "Height Painter Preferences");
  dialog.show();
  EXPECT_EQ(dialog.rateLabel()->text(), "Raise Rate:");
  EXPECT_EQ(dialog.rateEdit()->text(), "0.08");
  EXPECT_FALSE(dialog.filterCombo()->isVisible());
  dialog.rateEdit()->setText("0.5");
  dialog.toolCombo()->setCurrentIndex(_height_painter_flatten);
  EXPECT_EQ(dialog.rateLabel()->text(), "Elevation:");
  dialog.rateEdit()->setText("2");
  dialog.toolCombo()->setCurrentIndex(_height_painter_filter);
  EXPECT_EQ(dialog.rateLabel()->text(), "Filter Effect Rate:");
  EXPECT_TRUE(dialog.parameterEdit()->isVisible());
  EXPECT_EQ(dialog.parameterLabel()->text(), "Elevation Adjustment:");
  dialog.filterCombo()->setCurrentIndex(_height_painter_smooth);
  EXPECT_EQ(dialog.parameterLabel()->text(), "Smoothing Radius:");
  EXPECT_EQ(dialog.parameterEdit()->text(), "3.01");
  dialog.parameterEdit()->setText("0.5");  // no kernel: refused
  dialog.findChild<QPushButton*>("ok")->click();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Invalid Value");
  EXPECT_TRUE(dialog.isVisible());
  dialog.parameterEdit()->setText("inf");
  dialog.findChild<QPushButton*>("ok")->click();
  EXPECT_EQ(ui.boxes.size(), 2u);
  dialog.parameterEdit()->setText("4");
  dialog.radiusEdit()->setText("3.5");
  dialog.findChild<QPushButton*>("ok")->click();
  ASSERT_FALSE(dialog.isVisible());
  const height_painter_preferences& edited = dialog.preferences();
  EXPECT_EQ(edited.tool, _height_painter_filter);
  EXPECT_EQ(edited.filter, _height_painter_smooth);
  EXPECT_EQ(edited.tool_rates[_height_painter_raise], 0.5f);
  EXPECT_EQ(edited.tool_rates[_height_painter_flatten], 2.0f);
  EXPECT_EQ(edited.filter_parameters[_height_painter_smooth], 4.0f);
  EXPECT_EQ(edited.radius, 3.5f);
}

}  // namespace
