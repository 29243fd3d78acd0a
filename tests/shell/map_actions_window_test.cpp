// The map actions window driven through its buttons and dialogs on an open map with templates,
// checked against the model and taken back with Undo. The application object comes from
// shell_test.cpp's environment.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/window_positions.h"
#include "input/keyboard.h"
#include "map/map_actions.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "render/screen_messages.h"
#include "session/engine.h"
#include "shell/command_table.h"
#include "shell/map_action_dialogs.h"
#include "shell/map_actions_window.h"
#include "shell/shell.h"
#include "shell/shell_commands.h"
#include "shell/shell_dialogs.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "shell/vellgrim_frame.h"
#include "shell/vellgrim_startup.h"
#include "shell/visual_view.h"
#include "view/render.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tools/connector_selection.h"
#include "tools/edit_journal.h"
#include "tools/map_action_operations.h"
#include "tools/map_action_text.h"
#include "tools/map_session.h"
#include "shell_test_frame.h"

namespace {

void press_ok(QDialog* dialog) { dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click(); }
void press_cancel(QDialog* dialog) { dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click(); }

void store_lines(tag group, const char* name, const std::vector<std::string>& lines) {
  ASSERT_NE(map_fixture_store_lines(group, name, lines), NONE);
}

class MapActionsWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    ASSERT_TRUE(map_fixture_store_action_keywords());
    store_lines(make_tag("temp"), "defa",
                {"Default", "on_trigger", "optional string name / Name / The action's name.",
                 "optional action_identifier link / Linked Actions / Started too."});
    store_lines(make_tag("temp"), "move",
                {"Move Units", "on_execution", "required monster_identifier subj / Units / Who moves.",
                 "required world_point2d dest / Destination / Where to.", "optional angle face / Facing / How.",
                 "optional string note / Note / A remark."});
    map_fixture map = map_fixture_new(1, 1);
    map.palette = {map_fixture_palette_entry(_marker_unit, make_tag("warr"), 2),
                   map_fixture_palette_entry(_marker_scenery, make_tag("tree"), -1)};
    map.markers = {map_fixture_marker(_marker_unit, 0, 2000, 2000), map_fixture_marker(_marker_scenery, 0, 3000, 3000),
                   map_fixture_marker(_marker_unit, 0, 4000, 2500)};
    map_tag = store.store_map("scripted", map);
    ASSERT_NE(map_tag, NONE);
    shell_test_create_frame(store);
    ASSERT_TRUE(map_open(map_tag));
    window = GetMapActionsWindow();
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    keyboard_set_key(_key_space, false);
    ui.default_answer = ui_answer_no;
    map_close();
    vellgrim_destroy_windows();
    window_positions_set_file("");
  }

  int32_t action(const char* name, const char* type = "", int16_t indent = 0) {
    const int32_t slot = map_action_operation_new(-1);
    map_action_properties properties{0, 0, name, type, "0.00", "0.00"};
    EXPECT_TRUE(map_action_operation_set_properties(slot, properties));
    for (int16_t i = 0; i < indent; ++i) EXPECT_TRUE(map_action_operation_indent(slot, true));
    return slot;
  }
  void show() {
    ShowMapActionsWindow();
    edit_journal_clear();  // the set-up's actions are not the test's steps
    SetMapModified(false);
  }
  QPushButton* button(int32_t id) { return static_cast<QPushButton*>(window->control(id)); }
  void select_actions(std::initializer_list<int> rows) {
    window->actionList()->clearSelection();
    for (int row : rows) window->actionList()->item(row)->setSelected(true);
  }
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (int32_t s = map_action_next(-1); s != -1; s = map_action_next(s)) out.push_back(map_action_name(s));
    return out;
  }
  std::vector<std::string> lines(QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
  }
  // Edit > Undo, which also rebuilds the window's lists.
  bool undo() {
    if (!edit_journal_can_undo()) return false;
    CommandUndo();
    return true;
  }
  // A client point of the visual view whose first hit is the ground, inside the map.
  bool ground_point(QPoint* at, render_pick_hit* hit) {
    visual_view_invalidate();
    visual_view_step();
    for (int y = VISUAL_VIEW_HEIGHT / 2; y < VISUAL_VIEW_HEIGHT; y += 7)
      for (int x = VISUAL_VIEW_WIDTH / 3; x < VISUAL_VIEW_WIDTH * 2 / 3; x += 7) {
        int32_t vx, vy;
        render_client_to_view(x, y, &vx, &vy);
        render_pick_hit hits[4];
        if (render_pick_point(vx, vy, _pick_ground, hits, 4) > 0 && hits[0].a > 1024 && hits[0].b > 1024) {
          *at = QPoint(x, y);
          *hit = hits[0];
          return true;
        }
      }
    return false;
  }
  int32_t marker_of_type(int16_t type) {
    for (int32_t i = 0; i < mesh_marker_count(); ++i)
      if (mesh_markers()[i].type == type) return i;
    return -1;
  }

  map_test_store store;
  scripted_ui_host ui;
  int32_t map_tag = NONE;
  CMapActionsDlg* window = nullptr;
};

TEST_F(MapActionsWindow, LinesShowIndentCodeAndNameAndButtonsFollowTheSelection) {
  action("March", "move", 2);
  const int32_t bare = map_action_operation_new(-1);
  ASSERT_TRUE(map_action_operation_delete_parameter(bare, 0));  // no name parameter at all
  action("Deep", "", 9);
  show();
  EXPECT_EQ(lines(window->actionList()),
            (std::vector<std::string>{"      MOVE.March", "<unnamed action>", std::string(27, ' ') + "Deep"}));
  EXPECT_FALSE(button(MAP_ACTIONS_EDIT)->isEnabled());
  EXPECT_FALSE(window->control(MAP_ACTIONS_PARAMETER_LIST)->isEnabled());
  select_actions({2});
  EXPECT_FALSE(button(MAP_ACTIONS_INDENT)->isEnabled());
  EXPECT_TRUE(button(MAP_ACTIONS_OUTDENT)->isEnabled());
  EXPECT_FALSE(button(MAP_ACTIONS_MOVE_DOWN)->isEnabled());
  select_actions({1});
  EXPECT_FALSE(button(MAP_ACTIONS_OUTDENT)->isEnabled());
  select_actions({0, 1});
  EXPECT_EQ(map_actions_selection.selected_action, -2);
  EXPECT_FALSE(button(MAP_ACTIONS_EDIT)->isEnabled());
  EXPECT_TRUE(button(MAP_ACTIONS_DELETE)->isEnabled());
  EXPECT_FALSE(button(MAP_ACTIONS_MOVE_UP)->isEnabled());
  EXPECT_TRUE(button(MAP_ACTIONS_MOVE_DOWN)->isEnabled());
}

// Choosing a typed action gives it the template's required parameters: a change like any other.
TEST_F(MapActionsWindow, RequiredParametersAddedOnSelectionMarkTheMapAndUndo) {
  action("March", "move");
  show();
  select_actions({0});
  EXPECT_EQ(lines(window->parameterList()),
            (std::vector<std::string>{" The action's name. (name, string)", " Who moves. (subj, monster_identifier)",
                                      " Where to. (dest, world_point2d)"}));
  EXPECT_TRUE(IsMapModified());
  EXPECT_STREQ(edit_journal_undo_name(), "Add Required Parameters");
  // A template parameter cannot be edited or deleted; its description is shown.
  window->parameterList()->item(1)->setSelected(true);
  EXPECT_EQ(window->description()->text().toStdString(), "Who moves.");
  EXPECT_FALSE(button(MAP_ACTIONS_PARAMETER_EDIT)->isEnabled());
  EXPECT_FALSE(button(MAP_ACTIONS_ELEMENT_ADD)->isEnabled());  // markers come from the mouse
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_action_get(0)->parameter_count, 1);
}

TEST_F(MapActionsWindow, ABlockMovedTenPlacesNearEitherEndKeepsItsOrder) {
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) action(name);
  map_action_operation_indent(5, true);  // "   f": what a search for a blank would find
  show();
  select_actions({2, 3, 4});
  // The space bar held over the list is the modifier only, never a search for an indented line.
  QTest::keyPress(window->actionList(), Qt::Key_Space);
  EXPECT_EQ(window->actionList()->selectedItems().size(), 3);
  keyboard_set_key(_key_space, true);
  button(MAP_ACTIONS_MOVE_UP)->click();
  EXPECT_EQ(names(), (std::vector<std::string>{"c", "d", "e", "a", "b", "f"}));
  EXPECT_EQ(map_actions_selection.selected_action, -2);
  EXPECT_EQ(map_actions_selection.first_selected, 0);
  EXPECT_EQ(map_actions_selection.selected_count, 3);
  EXPECT_EQ(window->actionList()->selectedItems().size(), 3);
  button(MAP_ACTIONS_MOVE_DOWN)->click();
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "f", "c", "d", "e"}));
  EXPECT_EQ(map_actions_selection.first_selected, 3);
  keyboard_set_key(_key_space, false);
  ASSERT_TRUE(undo());
  EXPECT_EQ(names(), (std::vector<std::string>{"c", "d", "e", "a", "b", "f"}));
  ASSERT_TRUE(undo());
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
  // Without the space bar one place; indent and outdent each one step.
  select_actions({1});
  button(MAP_ACTIONS_MOVE_DOWN)->click();
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "c", "b", "d", "e", "f"}));
  EXPECT_EQ(map_actions_selection.selected_action, 2);
  button(MAP_ACTIONS_INDENT)->click();
  EXPECT_EQ(map_action_get(map_actions_window_row_slot(2))->indent, 1);
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_action_get(map_actions_window_row_slot(2))->indent, 0);
}

TEST_F(MapActionsWindow, EditingAnActionWhoseTemplateIsMissingKeepsItsType) {
  const int32_t slot = action("Strange", "");
  ASSERT_TRUE(map_action_operation_set_type(slot, make_tag("ZqX1")));
  show();
  select_actions({0});
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Couldn't find the template tag for 'ZqX1'");
  select_actions({});
  select_actions({0});
  EXPECT_EQ(ui.boxes.size(), 1u);  // once per open map
  with_modal<CEditMapActionDlg>([](CEditMapActionDlg* dialog) {
    EXPECT_EQ(dialog->type()->currentText().toStdString(), "ZqX1");
    EXPECT_EQ(dialog->type()->itemText(0).toStdString(), "NONE");
    dialog->name()->setText("Renamed");
    dialog->flag(1)->click();  // Initially Active
    press_ok(dialog);
  });
  button(MAP_ACTIONS_EDIT)->click();
  EXPECT_EQ(map_action_get(slot)->action_type, make_tag("ZqX1"));
  EXPECT_EQ(map_action_name(slot), "Renamed");
  EXPECT_EQ(map_action_get(slot)->action_flags & 0xF, uint32_t(_map_action_initially_active));
  EXPECT_EQ(window->actionList()->item(0)->data(Qt::UserRole).toInt(), 1);
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_action_name(slot), "Strange");
  EXPECT_EQ(map_action_get(slot)->action_type, make_tag("ZqX1"));
}

TEST_F(MapActionsWindow, ChoosingATypeSetsItsExpirationAndABadTimeIsRefused) {
  action("New one");
  show();
  select_actions({0});
  with_modal<CEditMapActionDlg>([this](CEditMapActionDlg* dialog) {
    const int move = dialog->type()->findText("Move Units");
    ASSERT_GT(move, 0);
    dialog->type()->setCurrentIndex(move);
    emit dialog->type()->activated(move);
    EXPECT_EQ(dialog->expiration()->currentText().toStdString(), "on execution");
    dialog->lower()->setText("soon");
    press_ok(dialog);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, MAP_ACTION_BAD_TRIGGER_TIME);
    EXPECT_TRUE(dialog->isVisible());
    dialog->lower()->setText("1.5");
    dialog->upper()->setText("2");
    press_ok(dialog);
  });
  button(MAP_ACTIONS_EDIT)->click();
  const map_action* a = map_action_get(0);
  EXPECT_EQ(a->action_type, make_tag("move"));
  EXPECT_EQ(a->expiration_mode, _expires_on_execution);
  EXPECT_EQ(a->trigger_time_lower, 45);
  EXPECT_EQ(a->trigger_time_range, 15);
  EXPECT_EQ(map_action_get(0)->parameter_count, 3);  // the required ones came with OK
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_action_get(0)->action_type, NONE_TAG);
}

TEST_F(MapActionsWindow, AddWithCancelLeavesNothingAndAddWithOkIsOneStep) {
  show();
  with_modal<CEditMapActionDlg>([](CEditMapActionDlg* dialog) { press_cancel(dialog); });
  button(MAP_ACTIONS_ADD)->click();
  EXPECT_EQ(map_actions_count(), 0);
  EXPECT_FALSE(edit_journal_can_undo());
  with_modal<CEditMapActionDlg>([](CEditMapActionDlg* dialog) {
    EXPECT_EQ(dialog->name()->text().toStdString(), "new action");
    dialog->name()->setText("Opening");
    press_ok(dialog);
  });
  button(MAP_ACTIONS_ADD)->click();
  ASSERT_EQ(map_actions_count(), 1);
  EXPECT_EQ(map_actions_selection.selected_action, 0);
  EXPECT_EQ(lines(window->actionList()), std::vector<std::string>{"Opening"});
  EXPECT_TRUE(IsMapModified());
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_actions_count(), 0);
  EXPECT_EQ(map_actions_selection.selected_action, -1);
}

TEST_F(MapActionsWindow, DeletingAsksTheQuestionAndSelectsTheActionBefore) {
  action("March", "move");
  action("Wait");
  action("Attack");
  show();
  select_actions({0});
  ui.answers.push_back(ui_answer_no);
  button(MAP_ACTIONS_DELETE)->click();
  ASSERT_FALSE(ui.boxes.empty());
  EXPECT_EQ(ui.boxes.back().text, "Are you sure you want to delete 'MOVE.March'?");
  EXPECT_EQ(ui.boxes.back().title, "Warning");
  EXPECT_EQ(ui.boxes.back().icon, ui_icon_warning);
  EXPECT_EQ(ui.boxes.back().buttons, ui_buttons_yes_no);
  EXPECT_EQ(map_actions_count(), 3);
  select_actions({1, 2});
  ui.answers.push_back(ui_answer_yes);
  button(MAP_ACTIONS_DELETE)->click();
  EXPECT_EQ(ui.boxes.back().text, "Are you sure you want to delete these 2 map actions?");
  EXPECT_EQ(names(), std::vector<std::string>{"March"});
  EXPECT_EQ(map_actions_selection.selected_action, 0);
  ASSERT_TRUE(undo());
  EXPECT_EQ(names(), (std::vector<std::string>{"March", "Wait", "Attack"}));
  // Deleting the first of three leaves the new first selected.
  select_actions({0});
  ui.answers.push_back(ui_answer_yes);
  button(MAP_ACTIONS_DELETE)->click();
  EXPECT_EQ(names(), (std::vector<std::string>{"Wait", "Attack"}));
  EXPECT_EQ(map_actions_selection.selected_action, 0);
  EXPECT_TRUE(window->actionList()->item(0)->isSelected());
}

TEST_F(MapActionsWindow, AStringIsOneLineThatIsStoredAndReadBack) {
  const int32_t slot = action("Speak");
  ASSERT_GE(map_action_operation_add_parameter(slot, make_tag("text"), _parameter_string), 0);
  show();
  select_actions({0});
  window->parameterList()->item(1)->setSelected(true);
  EXPECT_TRUE(button(MAP_ACTIONS_ELEMENT_ADD)->isEnabled());
  with_modal<CElementValueDlg>([](CElementValueDlg* dialog) {
    dialog->value()->setText("Hold the ford");
    press_ok(dialog);
  });
  button(MAP_ACTIONS_ELEMENT_ADD)->click();
  EXPECT_EQ(lines(window->elementList()), std::vector<std::string>{"Hold the ford"});
  EXPECT_EQ(map_action_parameter(slot, 1)->element_count, 14);  // the text and its zero
  EXPECT_EQ(map_action_string_text(slot, 1), "Hold the ford");
  with_modal<CElementValueDlg>([](CElementValueDlg* dialog) {
    EXPECT_EQ(dialog->value()->text().toStdString(), "Hold the ford");
    dialog->value()->setText("Cross the river");
    press_ok(dialog);
  });
  button(MAP_ACTIONS_ELEMENT_EDIT)->click();
  EXPECT_EQ(lines(window->elementList()), std::vector<std::string>{"Cross the river"});
  EXPECT_EQ(map_action_string_text(slot, 1), "Cross the river");
  ASSERT_TRUE(undo());
  EXPECT_EQ(lines(window->elementList()), std::vector<std::string>{"Hold the ford"});
  button(MAP_ACTIONS_ELEMENT_DELETE)->click();
  EXPECT_TRUE(lines(window->elementList()).empty());
  ASSERT_TRUE(undo());
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_action_parameter(slot, 1)->element_count, 0);
}

TEST_F(MapActionsWindow, TypedValuesAreParsedAndABadOneIsRefused) {
  const int32_t slot = action("Count");
  ASSERT_GE(map_action_operation_add_parameter(slot, make_tag("numb"), _parameter_integer), 0);
  show();
  select_actions({0});
  window->parameterList()->item(1)->setSelected(true);
  EXPECT_TRUE(button(MAP_ACTIONS_PARAMETER_EDIT)->isEnabled());  // a custom parameter
  with_modal<CElementValueDlg>([](CElementValueDlg* dialog) {
    dialog->value()->setText("12");
    press_ok(dialog);
  });
  button(MAP_ACTIONS_ELEMENT_ADD)->click();
  int32_t value = 0;
  ASSERT_TRUE(map_action_element_value(slot, 1, 0, &value));
  EXPECT_EQ(value, 12);
  // A cancelled Add leaves no half-made value behind.
  with_modal<CElementValueDlg>([](CElementValueDlg* dialog) { press_cancel(dialog); });
  button(MAP_ACTIONS_ELEMENT_ADD)->click();
  EXPECT_EQ(map_action_parameter(slot, 1)->element_count, 1);
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_action_parameter(slot, 1)->element_count, 0);
}

TEST_F(MapActionsWindow, TheParameterDialogOffersTemplateThenDefaultAndNothingDisablesOk) {
  const int32_t slot = action("March", "move");
  show();
  select_actions({0});  // name, subj, dest now present
  with_modal<CEditMapActionParameterDlg>([](CEditMapActionParameterDlg* dialog) {
    ASSERT_EQ(dialog->type()->count(), 4);
    EXPECT_EQ(dialog->type()->itemText(2).toStdString(), MAP_ACTION_PARAMETER_SEPARATOR);
    EXPECT_EQ(dialog->description()->text().toStdString(), "How.");
    dialog->type()->setCurrentIndex(2);  // the separator moves to the entry above
    EXPECT_EQ(dialog->type()->currentIndex(), 1);
    dialog->type()->setCurrentIndex(3);
    EXPECT_EQ(dialog->description()->text().toStdString(), "Started too.");
    press_ok(dialog);
  });
  button(MAP_ACTIONS_PARAMETER_ADD)->click();
  EXPECT_EQ(map_action_find_parameter(slot, make_tag("link"), _parameter_action_identifier), 3);
  EXPECT_EQ(map_actions_selection.selected_parameter, 3);
  // Everything given: OK is disabled rather than storing a nameless parameter.
  ASSERT_GE(map_action_operation_add_parameter(slot, make_tag("face"), _parameter_angle), 0);
  ASSERT_GE(map_action_operation_add_parameter(slot, make_tag("note"), _parameter_string), 0);
  with_modal<CEditMapActionParameterDlg>([](CEditMapActionParameterDlg* dialog) {
    EXPECT_EQ(dialog->type()->count(), 0);
    EXPECT_FALSE(dialog->okButton()->isEnabled());
    press_cancel(dialog);
  });
  const int16_t before = map_action_get(slot)->parameter_count;
  button(MAP_ACTIONS_PARAMETER_ADD)->click();
  EXPECT_EQ(map_action_get(slot)->parameter_count, before);
}

TEST_F(MapActionsWindow, PicksAcceptOnlyTheParametersMarkerTypeAndUndo) {
  const int32_t slot = action("March", "move");
  show();
  select_actions({0});
  window->parameterList()->item(1)->setSelected(true);  // subj, monster_identifier
  ASSERT_EQ(MapActionsPickMode(), _pick_mode_markers);
  const int32_t tree = marker_of_type(_marker_scenery), unit = marker_of_type(_marker_unit);
  ASSERT_GE(tree, 0);
  EXPECT_EQ(PickModeAddMarker(tree, false), -1);
  EXPECT_STREQ(screen_message_current(screen_message_clock()), "A monster_identifier value refers to another kind of marker.");
  EXPECT_EQ(map_action_parameter(slot, 1)->element_count, 0);
  SetMapModified(false);
  EXPECT_EQ(PickModeAddMarker(unit, false), 0);
  EXPECT_TRUE(IsMapModified());
  EXPECT_EQ(PickModeAddMarker(unit, false), 0);  // already there: selected, not added
  EXPECT_EQ(map_action_parameter(slot, 1)->element_count, 1);
  EXPECT_EQ(window->elementList()->currentRow(), 0);
  EXPECT_EQ(PickModeAddMarker(unit, true), -1);  // Alt takes it out
  EXPECT_EQ(map_action_parameter(slot, 1)->element_count, 0);
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_action_parameter(slot, 1)->element_count, 1);
  // Points: near an existing one selects it; the alternative moves the selected one.
  window->parameterList()->item(2)->setSelected(true);  // dest, world_point2d
  ASSERT_EQ(MapActionsPickMode(), _pick_mode_points);
  EXPECT_EQ(PickModeAddPoint({5000, 5000}, false), 0);
  EXPECT_EQ(PickModeAddPoint({6000, 5000}, false), 1);
  EXPECT_EQ(PickModeAddPoint({5030, 5030}, false), 0);
  EXPECT_EQ(map_action_parameter(slot, 2)->element_count, 2);
  EXPECT_EQ(PickModeAddPoint({7000, 7000}, true), 0);
  int32_t x = 0;
  ASSERT_TRUE(map_action_element_value(slot, 2, 0, &x, 0));
  EXPECT_EQ(x, 7000);
  ASSERT_TRUE(undo());
  ASSERT_TRUE(map_action_element_value(slot, 2, 0, &x, 0));
  EXPECT_EQ(x, 5000);
  // The overlay lists the points for the overhead view.
  DrawMapActionOverlay(nullptr);
}

TEST_F(MapActionsWindow, EditingAValueWhoseMarkerIsGoneSaysSo) {
  const int32_t slot = action("March");
  const int32_t p = map_action_operation_add_parameter(slot, make_tag("subj"), _parameter_monster_identifier);
  const int16_t nobody = 31000;
  ASSERT_TRUE(map_action_operation_append_elements(slot, p, 1, std::as_bytes(std::span(&nobody, 1))));
  show();
  select_actions({0});
  window->parameterList()->item(1)->setSelected(true);
  window->elementList()->item(0)->setSelected(true);
  ASSERT_TRUE(button(MAP_ACTIONS_ELEMENT_EDIT)->isEnabled());
  button(MAP_ACTIONS_ELEMENT_EDIT)->click();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "The marker this value refers to is no longer in the map.");
}

TEST_F(MapActionsWindow, TheSelectionCommandsMakeActionsFromTheSelectedMarkers) {
  show();
  ASSERT_TRUE(connector_selection_add_index(marker_of_type(_marker_unit)));
  ASSERT_TRUE(connector_selection_add_index(marker_of_type(_marker_scenery)));
  with_modal<CNameEntryDlg>([](CNameEntryDlg* dialog) {
    dialog->field(0)->setText("Guards");
    dialog->accept();
  });
  CommandCreateSquad();
  EXPECT_EQ(names(), (std::vector<std::string>{"Guards", "Guards squad"}));
  const int32_t subj = map_action_find_parameter(0, make_tag("subj"), _parameter_monster_identifier);
  ASSERT_GE(subj, 0);
  EXPECT_EQ(map_action_parameter(0, subj)->element_count, 1);  // the scenery has no identifier type
  int32_t linked = 0;
  ASSERT_TRUE(map_action_element_value(1, map_action_find_parameter(1, make_tag("data")), 0, &linked));
  EXPECT_EQ(linked, map_action_get(0)->identifier);
  EXPECT_EQ(map_action_get(1)->indent, 1);
  EXPECT_TRUE(IsMapModified());
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_actions_count(), 0);
  with_modal<CNameEntryDlg>([](CNameEntryDlg* dialog) {
    dialog->field(0)->setText("Pan to the ford");
    dialog->accept();
  });
  CommandCreateObserverMovementAction();
  ASSERT_EQ(map_actions_count(), 1);
  EXPECT_GE(map_action_find_parameter(0, make_tag("loca"), _parameter_world_point2d), 0);
  EXPECT_GE(map_action_find_parameter(0, make_tag("face"), _parameter_angle), 0);
}

TEST_F(MapActionsWindow, WithTheToolAPressOnTheGroundAddsAPointAndADragSetsAFacing) {
  const int32_t slot = action("March", "move");
  ASSERT_GE(map_action_operation_add_parameter(slot, make_tag("face"), _parameter_angle), 0);
  SelectTool(_tool_map_actions);
  ASSERT_TRUE(window->isVisible());
  edit_journal_clear();
  select_actions({0});
  window->parameterList()->item(1)->setSelected(true);  // face (the required ones come after)
  ASSERT_EQ(MapActionsPickMode(), _pick_mode_facing);
  QPoint at;
  render_pick_hit hit;
  ASSERT_TRUE(ground_point(&at, &hit));
  QWidget* view = shell.frame->visualView();
  QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, at);
  QTest::qWait(120);
  ToolMouseHeld(0, int16_t(at.x() + 40), int16_t(at.y()));
  QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, at + QPoint(40, 0));
  ASSERT_EQ(map_action_parameter(slot, 1)->element_count, 1);
  EXPECT_EQ(map_actions_selection.selected_element, 0);
  const int32_t dest = map_action_find_parameter(slot, make_tag("dest"), _parameter_world_point2d);
  window->parameterList()->item(dest)->setSelected(true);
  ASSERT_EQ(MapActionsPickMode(), _pick_mode_points);
  QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, at);
  ASSERT_EQ(map_action_parameter(slot, dest)->element_count, 1);
  int32_t x = 0, y = 0;
  ASSERT_TRUE(map_action_element_value(slot, dest, 0, &x, 0));
  ASSERT_TRUE(map_action_element_value(slot, dest, 0, &y, 1));
  EXPECT_LE(std::abs(x - hit.a) + std::abs(y - hit.b), 1);
  ASSERT_TRUE(undo());
  EXPECT_EQ(map_action_parameter(slot, dest)->element_count, 0);
  EXPECT_EQ(map_actions_selection.selected_element, -1);
  SelectTool(_tool_preview);
  EXPECT_FALSE(window->isVisible());
}

// Export, then read back through Mesh > Import Map Actions...: the window shows what was read.
TEST_F(MapActionsWindow, AnImportedScriptIsListedAtOnce) {
  const int32_t slot = action("Cross the ford", "move");
  ASSERT_GE(map_action_operation_add_required_parameters(slot), 0);
  const int32_t dest = map_action_find_parameter(slot, make_tag("dest"), _parameter_world_point2d);
  const int32_t point[2] = {12 * 512, 20 * 512};
  ASSERT_TRUE(map_action_operation_append_elements(slot, dest, 1, std::as_bytes(std::span(point))));
  const std::string path = store.folder().path() + "/script.txt";
  ASSERT_TRUE(map_action_text_export_file(path));
  std::vector<int32_t> everything = {slot};
  ASSERT_TRUE(map_action_operation_delete(everything, true));
  show();
  EXPECT_EQ(window->actionList()->count(), 0);
  ui.open_files.push_back(path);
  CommandImportMapActions();
  EXPECT_EQ(lines(window->actionList()), std::vector<std::string>{"MOVE.Cross the ford"});
  select_actions({0});
  window->parameterList()->item(dest)->setSelected(true);
  ASSERT_EQ(window->elementList()->count(), 1);
  int32_t x = 0, y = 0;
  ASSERT_TRUE(map_action_element_value(map_actions_window_row_slot(0), dest, 0, &x, 0));
  ASSERT_TRUE(map_action_element_value(map_actions_window_row_slot(0), dest, 0, &y, 1));
  EXPECT_EQ(x, point[0]);
  EXPECT_EQ(y, point[1]);
  ASSERT_TRUE(undo());
  EXPECT_EQ(window->actionList()->count(), 0);
}

TEST_F(MapActionsWindow, TemplateMessagesAreShownOncePerOpenMap) {
  store_lines(make_tag("temp"), "badt", {"Broken", "sometimes"});
  ASSERT_TRUE(map_close());
  ASSERT_TRUE(map_open(map_tag));
  show();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Got unknown deactivation keyword 'sometimes'");
  HideShellWindow(window);
  ShowMapActionsWindow();
  RefreshMapActionsWindow(MAP_ACTIONS_REBUILD_ACTIONS, false);
  EXPECT_EQ(ui.boxes.size(), 1u);
  ASSERT_TRUE(map_close());
  ASSERT_TRUE(map_open(map_tag));
  ShowMapActionsWindow();
  EXPECT_EQ(ui.boxes.size(), 2u);
}

TEST_F(MapActionsWindow, DuplicateCopiesOneThroughTheDialogAndABlockWithout) {
  action("a");
  action("b", "move");
  action("c");
  show();
  select_actions({1});
  with_modal<CEditMapActionDlg>([](CEditMapActionDlg* dialog) {
    EXPECT_EQ(dialog->type()->currentText().toStdString(), "Move Units");
    dialog->name()->setText("b again");
    press_ok(dialog);
  });
  button(MAP_ACTIONS_DUPLICATE)->click();
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c", "b again"}));
  EXPECT_EQ(map_actions_selection.selected_action, 3);
  with_modal<CEditMapActionDlg>([](CEditMapActionDlg* dialog) { press_cancel(dialog); });
  button(MAP_ACTIONS_DUPLICATE)->click();
  EXPECT_EQ(map_actions_count(), 4);
  select_actions({0, 1});
  button(MAP_ACTIONS_DUPLICATE)->click();
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c", "b again", "a", "b"}));
  EXPECT_EQ(map_actions_selection.selected_action, -2);
  EXPECT_EQ(map_actions_selection.first_selected, 4);
  EXPECT_EQ(map_actions_selection.selected_count, 2);
  ASSERT_TRUE(undo());
  ASSERT_TRUE(undo());
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
