// The marker palette dialog, the palette entry dialog, Edit Marker and the scenery window, driven as
// the author drives them on an open map, each change checked and taken back with Undo. The
// application object comes from shell_test.cpp's environment.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <string>
#include <vector>

#include "engine/window_positions.h"
#include "input/observer.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "shell/command_table.h"
#include "shell/marker_dialogs.h"
#include "shell/scenery_window.h"
#include "shell/shell.h"
#include "shell/shell_dialogs.h"
#include "shell/tool_modes.h"
#include "shell/vellgrim_frame.h"
#include "shell/vellgrim_startup.h"
#include "shell/visual_view.h"
#include "support/collection_fixtures.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tools/connector_selection.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "view/render.h"
#include "shell_test_frame.h"

namespace {

QPushButton* button(QWidget* dialog, const char* name) { return dialog->findChild<QPushButton*>(name); }
QTreeWidget* palette_list(QWidget* dialog) { return dialog->findChild<QTreeWidget*>("list_1015"); }
QCheckBox* check(QWidget* dialog, int id) { return dialog->findChild<QCheckBox*>(QString("check_%1").arg(id)); }
QWidget* band(QWidget* dialog, int id) { return dialog->findChild<QWidget*>(QString("frame_%1").arg(id)); }

QStringList headers(QTreeWidget* list) {
  QStringList texts;
  for (int c = 0; c < list->columnCount(); ++c) texts << list->headerItem()->text(c);
  return texts;
}

class MarkerDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    // Definitions the add flows list (their bytes are not read here).
    for (const char* name : {"oak", "birch", "pine"})
      scenery_tags.push_back(tag_file_get_identifier(fixture_store_tag(make_tag("scen"), name, 1, std::vector<uint8_t>(64, 0))));
    unit_tag = tag_file_get_identifier(fixture_store_tag(make_tag("unit"), "warrior", 1, std::vector<uint8_t>(64, 0)));
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    map_close();
    vellgrim_destroy_windows();
    window_positions_set_file("");
  }

  void open(map_fixture& map) {
    const int32_t map_tag = store.store_map("glen", map);
    ASSERT_NE(map_tag, NONE);
    shell_test_create_frame(store);
    ASSERT_TRUE(map_open(map_tag));
    UpdateMenuState();
  }

  // Oak twice alike (team 1), then birch (team 2), each with markers: oak 0 has one, oak 1 two.
  map_fixture glen() {
    map_fixture map = map_fixture_new(1, 1);
    map.palette = {map_fixture_palette_entry(_marker_scenery, scenery_tags[0], 1),
                   map_fixture_palette_entry(_marker_scenery, scenery_tags[0], 1),
                   map_fixture_palette_entry(_marker_scenery, scenery_tags[1], 2)};
    map.markers = {map_fixture_marker(_marker_scenery, 0, 1000, 1000), map_fixture_marker(_marker_scenery, 1, 2000, 1000),
                   map_fixture_marker(_marker_scenery, 1, 3000, 1000), map_fixture_marker(_marker_scenery, 2, 4000, 1000)};
    return map;
  }

  static std::vector<int32_t> scenery_xs() {
    std::vector<int32_t> xs;
    for (int32_t i = 0; i < mesh_marker_count(); ++i) xs.push_back(mesh_markers()[i].location.x);
    return xs;
  }

  map_test_store store;
  scripted_ui_host ui;
  std::vector<tag> scenery_tags;
  tag unit_tag = NONE_TAG;
};

TEST_F(MarkerDialogs, ThePaletteListShowsTheTypesColumnsAndTheFlagAbbreviations) {
  map_fixture map = map_fixture_new(1, 1);
  marker_palette_entry veteran = map_fixture_palette_entry(_marker_unit, unit_tag, 3);
  veteran.flags = _palette_uncontrollable | _palette_must_use_veterans;
  map.palette = {veteran, map_fixture_palette_entry(_marker_unit, unit_tag, 4),
                 map_fixture_palette_entry(_marker_model, NONE_TAG, NONE)};
  open(map);
  EXPECT_EQ(palette_entry_flags_text(0x3F), "Unc / Tra / vet / VET / Amb / Hun");
  with_modal([](QDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Marker Palette for type: Unit");
    QTreeWidget* list = palette_list(dialog);
    EXPECT_EQ(headers(list), (QStringList{"Name", "Team", "Count", "Flags"}));
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "warrior");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "3");
    EXPECT_EQ(list->topLevelItem(0)->text(3), "Unc / VET");
    EXPECT_EQ(list->topLevelItem(1)->text(3), "");
    // Each column at least as wide as its header and four spaces.
    EXPECT_GE(list->header()->sectionSize(3), list->fontMetrics().horizontalAdvance("Flags    "));
    EXPECT_FALSE(button(dialog, "button_1013")->isEnabled());
    EXPECT_FALSE(button(dialog, "button_1014")->isHidden());
    list->topLevelItem(0)->setSelected(true);
    EXPECT_TRUE(button(dialog, "button_1013")->isEnabled());
    EXPECT_TRUE(button(dialog, "button_1014")->isEnabled());
    list->topLevelItem(1)->setSelected(true);
    EXPECT_FALSE(button(dialog, "button_1014")->isEnabled());
    button(dialog, "ok")->click();
  });
  OpenMarkerPalette(_marker_unit);
  // Models have no entry dialog: no Edit, and a double-click opens nothing.
  with_modal([](QDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Marker Palette for type: Model");
    EXPECT_EQ(headers(palette_list(dialog)), (QStringList{"Name", "Count"}));
    EXPECT_TRUE(button(dialog, "button_1014")->isHidden());
    QTreeWidget* list = palette_list(dialog);
    emit list->itemDoubleClicked(list->topLevelItem(0), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), dialog);
    button(dialog, "ok")->click();
  });
  OpenMarkerPalette(_marker_model);
}

// Add...: the tag choice, then the entry dialog with the scenery's bands; the scenery window lists
// the new entry, and Undo takes it out of both.
TEST_F(MarkerDialogs, AddingASceneryEntryGoesThroughTheTagChoiceAndTheEntryDialog) {
  map_fixture map = glen();
  open(map);
  SelectTool(_tool_place_scenery);
  QComboBox* combo = PaletteCombo(_tool_place_scenery);
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(2), "birch (team 2)");
  const tag pine = scenery_tags[2];
  with_modal([](QDialog* palette) {
    with_modal([](QDialog* choice) {
      EXPECT_EQ(choice->windowTitle(), "Select some scenery to add:");
      auto* tags = static_cast<CTagSelectionDlg*>(choice);
      const auto items = tags->list()->findItems("pine", Qt::MatchExactly);
      ASSERT_EQ(items.size(), 1);
      tags->list()->setCurrentItem(items[0]);
      with_modal([](QDialog* entry) {
        EXPECT_EQ(entry->windowTitle(), "Select a marker palette entry");
        EXPECT_FALSE(band(entry, 1077)->isHidden());
        EXPECT_FALSE(band(entry, 1076)->isHidden());
        EXPECT_TRUE(band(entry, 1075)->isHidden());
        EXPECT_FALSE(band(entry, 1108)->isHidden());
        auto* tag_combo = entry->findChild<QComboBox*>("combo_1066");
        EXPECT_EQ(tag_combo->itemText(0), "No Tag");
        EXPECT_EQ(tag_combo->currentText(), "pine");
        EXPECT_EQ(entry->findChild<QLineEdit*>("edit_1068")->text(), "-1");
        entry->findChild<QLineEdit*>("edit_1068")->setText("2");
        // All fourteen netgame types start checked; Invert clears them, the first is checked again.
        auto* netgame = entry->findChild<QListWidget*>("list_1107");
        ASSERT_EQ(netgame->count(), 14);
        EXPECT_EQ(netgame->item(10)->text(), "Stampede!");
        button(entry, "button_1111")->click();
        netgame->item(0)->setCheckState(Qt::Checked);
        button(entry, "ok")->click();
      });
      button(choice, "ok")->click();
    });
    button(palette, "button_1012")->click();
    EXPECT_EQ(palette_list(palette)->topLevelItemCount(), 4);
    EXPECT_EQ(palette_list(palette)->topLevelItem(3)->text(0), "pine");
    button(palette, "ok")->click();
  });
  OpenMarkerPalette(_marker_scenery);
  ASSERT_EQ(palette_entry_count_of_type(_marker_scenery), 4);
  const marker_palette_entry* added = palette_entry_get(_marker_scenery, 3);
  EXPECT_EQ(added->definition_tag, pine);
  EXPECT_EQ(added->team, 2);
  EXPECT_EQ(added->netgame_types, 0x1u);
  EXPECT_EQ(combo->count(), 4);
  EXPECT_EQ(combo->itemText(3), "pine (team 2)");
  EXPECT_TRUE(IsMapModified());
  EXPECT_STREQ(edit_journal_undo_name(), "Add Palette Entry");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(palette_entry_count_of_type(_marker_scenery), 3);
  EXPECT_EQ(combo->count(), 3);

  // Cancelled at the entry dialog: nothing added.
  with_modal([](QDialog* choice) {
    auto* tags = static_cast<CTagSelectionDlg*>(choice);
    tags->list()->setCurrentRow(0);
    with_modal([](QDialog* entry) { button(entry, "cancel")->click(); });
    button(choice, "ok")->click();
  });
  EXPECT_FALSE(AddPaletteEntry(_marker_scenery));
  EXPECT_EQ(palette_entry_count_of_type(_marker_scenery), 3);
}

// A model already in the palette is not offered again; Model has no entry dialog.
TEST_F(MarkerDialogs, TheModelAddFlowListsOnlyModelsNotInThePalette) {
  const tag hut = tag_file_get_identifier(fixture_store_tag(make_tag("mode"), "hut", 1, std::vector<uint8_t>(64, 0)));
  ASSERT_NE(fixture_store_tag(make_tag("mode"), "tower", 1, std::vector<uint8_t>(64, 0)), NONE);
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_model, hut, NONE)};
  open(map);
  with_modal([](QDialog* choice) {
    EXPECT_EQ(choice->windowTitle(), "Select a model to add:");
    auto* tags = static_cast<CTagSelectionDlg*>(choice);
    ASSERT_EQ(tags->list()->count(), 1);
    EXPECT_EQ(tags->list()->item(0)->text(), "tower");
    tags->list()->setCurrentRow(0);
    button(choice, "ok")->click();
  });
  EXPECT_TRUE(AddPaletteEntry(_marker_model));
  EXPECT_EQ(palette_entry_count_of_type(_marker_model), 2);
}

TEST_F(MarkerDialogs, EditingAUnitEntryWritesEveryBandAndUndoPutsItBack) {
  map_fixture map = map_fixture_new(1, 1);
  marker_palette_entry unit = map_fixture_palette_entry(_marker_unit, unit_tag, 0);
  unit.netgame_types = 0xFFFF;
  unit.flags = 0x80;  // a bit the dialog doesn't show, kept
  map.palette = {unit};
  open(map);
  with_modal([](QDialog* palette) {
    QTreeWidget* list = palette_list(palette);
    list->topLevelItem(0)->setSelected(true);
    with_modal([](QDialog* entry) {
      for (int id : {1077, 1076, 1075, 1108}) EXPECT_FALSE(band(entry, id)->isHidden()) << id;
      EXPECT_EQ(check(entry, 1073)->text(), "Must use veterans");
      check(entry, 1070)->setChecked(true);
      check(entry, 1073)->setChecked(true);
      entry->findChild<QLineEdit*>("edit_1068")->setText("5");
      button(entry, "button_1110")->click();  // None
      entry->findChild<QListWidget*>("list_1107")->item(13)->setCheckState(Qt::Checked);
      entry->findChild<QComboBox*>("combo_1066")->setCurrentIndex(0);  // No Tag
      button(entry, "ok")->click();
    });
    button(palette, "button_1014")->click();
    EXPECT_EQ(list->topLevelItem(0)->text(0), "");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "5");
    EXPECT_EQ(list->topLevelItem(0)->text(3), "Unc / VET");
    button(palette, "ok")->click();
  });
  OpenMarkerPalette(_marker_unit);
  const marker_palette_entry* edited = palette_entry_get(_marker_unit, 0);
  EXPECT_EQ(edited->team, 5);
  EXPECT_EQ(edited->flags, 0x89);
  EXPECT_EQ(edited->netgame_types, 1u << 13);
  EXPECT_EQ(edited->definition_tag, NONE_TAG);
  EXPECT_STREQ(edit_journal_undo_name(), "Edit Palette Entry");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(palette_entry_get(_marker_unit, 0)->team, 0);
  EXPECT_EQ(palette_entry_get(_marker_unit, 0)->definition_tag, unit_tag);
}

// The observer entry dialog has the team band alone, and is no taller than that band needs.
TEST_F(MarkerDialogs, TheObserverEntryDialogShowsOnlyItsTeamBand) {
  map_fixture map = map_fixture_new(1, 1);
  open(map);
  int full_height = 0, observer_height = 0;
  with_modal([&full_height](QDialog* entry) {
    full_height = entry->sizeHint().height();
    button(entry, "cancel")->click();
  });
  marker_palette_entry unit = map_fixture_palette_entry(_marker_unit, unit_tag, 0);
  EXPECT_FALSE(EditPaletteEntry(&unit, palette_entry_sections(_marker_unit), make_tag("unit")));
  with_modal([&observer_height](QDialog* entry) {
    EXPECT_TRUE(band(entry, 1077)->isHidden());
    EXPECT_FALSE(band(entry, 1076)->isHidden());
    EXPECT_TRUE(band(entry, 1075)->isHidden());
    EXPECT_TRUE(band(entry, 1108)->isHidden());
    observer_height = entry->sizeHint().height();
    EXPECT_LE(observer_height, band(entry, 1076)->sizeHint().height() + button(entry, "ok")->sizeHint().height() + 60);
    entry->findChild<QLineEdit*>("edit_1068")->setText("4");
    button(entry, "ok")->click();
  });
  marker_palette_entry observer = map_fixture_palette_entry(_marker_observer, NONE_TAG, 0);
  EXPECT_TRUE(EditPaletteEntry(&observer, palette_entry_sections(_marker_observer), NONE_TAG));
  EXPECT_EQ(observer.team, 4);
  EXPECT_LT(observer_height, full_height);
}

// Delete by the row's own entry: of two alike entries the second goes with its own markers. Both
// questions, exact texts; the Place Scenery tool keeps the entry it had.
TEST_F(MarkerDialogs, DeletingEntriesAsksAndTakesTheSelectedRowsOwnEntries) {
  map_fixture map = glen();
  open(map);
  SelectTool(_tool_place_scenery);
  SetToolPaletteEntry(_tool_place_scenery, 3);  // birch
  with_modal([this](QDialog* palette) {
    QTreeWidget* list = palette_list(palette);
    list->topLevelItem(0)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    ui.answers.push_back(ui_answer_no);
    button(palette, "button_1013")->click();
    EXPECT_EQ(list->topLevelItemCount(), 3);
    list->clearSelection();
    list->topLevelItem(1)->setSelected(true);
    ui.answers.push_back(ui_answer_yes);
    button(palette, "button_1013")->click();
    EXPECT_EQ(list->topLevelItemCount(), 2);
    button(palette, "ok")->click();
  });
  OpenMarkerPalette(_marker_scenery);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "Are you sure you want to delete these 2 marker palette entries?");
  EXPECT_EQ(ui.boxes[0].buttons, ui_buttons_yes_no);
  EXPECT_EQ(ui.boxes[1].text, "Are you sure you want to delete oak?");
  EXPECT_EQ(scenery_xs(), (std::vector<int32_t>{1000, 4000}));
  EXPECT_EQ(mesh_markers()[1].palette_index, 1);
  EXPECT_EQ(tool_palette_entry(_tool_place_scenery), 2);
  EXPECT_EQ(PaletteCombo(_tool_place_scenery)->currentText(), "birch (team 2)");
  EXPECT_STREQ(edit_journal_undo_name(), "Delete Palette Entry");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(scenery_xs(), (std::vector<int32_t>{1000, 2000, 3000, 4000}));
  EXPECT_EQ(PaletteCombo(_tool_place_scenery)->count(), 3);
}

// The last entry chosen, and deleted: the tool takes the entry now last, not one past the list.
TEST_F(MarkerDialogs, DeletingTheToolsEntryClampsItToTheList) {
  map_fixture map = glen();
  open(map);
  SelectTool(_tool_place_scenery);
  SetToolPaletteEntry(_tool_place_scenery, 3);
  with_modal([this](QDialog* palette) {
    palette_list(palette)->topLevelItem(2)->setSelected(true);
    ui.answers.push_back(ui_answer_yes);
    button(palette, "button_1013")->click();
    button(palette, "ok")->click();
  });
  OpenMarkerPalette(_marker_scenery);
  EXPECT_EQ(palette_entry_count_of_type(_marker_scenery), 2);
  EXPECT_EQ(tool_palette_entry(_tool_place_scenery), 2);
  EXPECT_EQ(PaletteCombo(_tool_place_scenery)->currentIndex(), 1);
}

// Three markers, one of them "Stone", difficulties Timid, Heroic, Timid: "Stone" shows mixed and
// stays each marker's own, "<mixed selection>" keeps each difficulty.
TEST_F(MarkerDialogs, EditingSeveralMarkersKeepsWhatIsMixed) {
  map_fixture map = glen();
  map.markers[1].flags = _marker_stone;
  map.markers[2].minimum_difficulty = 3;
  open(map);
  for (int32_t i : {0, 1, 2}) ASSERT_TRUE(connector_selection_add_index(i));
  with_modal([](QDialog* dialog) {
    EXPECT_TRUE(dialog->findChild<QWidget*>("position_fields")->isHidden());
    auto* difficulty = dialog->findChild<QComboBox*>("combo_1017");
    EXPECT_EQ(difficulty->currentText(), "<mixed selection>");
    EXPECT_EQ(check(dialog, 1024)->text(), "Stone");
    EXPECT_EQ(check(dialog, 1024)->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(check(dialog, 1023)->checkState(), Qt::Unchecked);
    EXPECT_EQ(check(dialog, 1037)->text(), "Use Monster Entrance");
    check(dialog, 1023)->setCheckState(Qt::Checked);  // Invisible
    button(dialog, "ok")->click();
  });
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_EDIT_MARKER));
  EXPECT_EQ(mesh_markers()[0].flags & 0x1FF, uint32_t(_marker_invisible));
  EXPECT_EQ(mesh_markers()[1].flags & 0x1FF, uint32_t(_marker_invisible | _marker_stone));
  EXPECT_EQ(mesh_markers()[2].flags & 0x1FF, uint32_t(_marker_invisible));
  EXPECT_EQ(mesh_markers()[3].flags & 0x1FF, 0u);
  EXPECT_EQ(mesh_markers()[0].minimum_difficulty, 0);
  EXPECT_EQ(mesh_markers()[2].minimum_difficulty, 3);
  EXPECT_TRUE(IsMapModified());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_markers()[0].flags & 0x1FF, 0u);
  EXPECT_EQ(mesh_markers()[1].flags & 0x1FF, uint32_t(_marker_stone));
}

TEST_F(MarkerDialogs, EditingOneMarkerWritesItsFieldsInCells) {
  map_fixture map = glen();
  map.markers[3].vector_i = 768;
  map.markers[3].minimum_difficulty = 4;
  map.markers[3].yaw = 0x4000;
  open(map);
  with_modal([](QDialog* dialog) {
    EXPECT_FALSE(dialog->findChild<QWidget*>("position_fields")->isHidden());
    EXPECT_EQ(dialog->findChild<QComboBox*>("combo_1017")->count(), 5);
    EXPECT_EQ(dialog->findChild<QComboBox*>("combo_1017")->currentText(), "Legendary");
    EXPECT_EQ(dialog->findChild<QLineEdit*>("edit_1016")->text(), "1.50");
    EXPECT_EQ(dialog->findChild<QLineEdit*>("edit_1021")->text(), "16384");
    EXPECT_EQ(dialog->findChild<QLabel*>("label_1035")->text(), "Yaw:");
    dialog->findChild<QLineEdit*>("edit_1020")->setText("2.25");
    dialog->findChild<QLineEdit*>("edit_1022")->setText("100");
    dialog->findChild<QComboBox*>("combo_1017")->setCurrentIndex(1);
    check(dialog, 1028)->setChecked(true);
    button(dialog, "ok")->click();
  });
  ASSERT_TRUE(EditMarker(3));
  const marker_data& marker = mesh_markers()[3];
  EXPECT_EQ(marker.location.z, 1152);
  EXPECT_EQ(marker.pitch, 100);
  EXPECT_EQ(marker.vector_i, 768);
  EXPECT_EQ(marker.minimum_difficulty, 1);
  EXPECT_EQ(marker.flags, uint32_t(_marker_respawns));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_markers()[3].location.z, 0);
  EXPECT_EQ(mesh_markers()[3].minimum_difficulty, 4);
  // Cancel changes nothing.
  with_modal([](QDialog* dialog) { button(dialog, "cancel")->click(); });
  EXPECT_FALSE(EditMarker(3));
  EXPECT_FALSE(edit_journal_can_undo());
}

// The window shows the tool's combo box under the type's name; the entry chosen there is the one
// a press places, on the ground.
TEST_F(MarkerDialogs, ASceneryMarkerIsAddedFromTheSceneryWindowsChoice) {
  map_fixture map = glen();
  open(map);
  SelectTool(_tool_place_scenery);
  QWidget* window = shell.windows[_shell_window_scenery];
  ASSERT_TRUE(window->isVisible());
  EXPECT_EQ(window->findChild<QLabel*>("label_1001")->text(), "Scenery:");
  QComboBox* combo = PaletteCombo(_tool_place_scenery);
  EXPECT_TRUE(combo->isVisible());
  EXPECT_FALSE(PaletteCombo(_tool_place_unit)->isVisible());
  EXPECT_FALSE(PaletteCombo(_tool_place_unit)->isEnabled());  // no unit entries
  EXPECT_EQ(combo->itemText(0), "oak (team 1)");
  combo->setCurrentIndex(2);
  EXPECT_EQ(tool_palette_entry(_tool_place_scenery), 3);

  visual_view_invalidate();
  visual_view_step();
  render_pick_hit hit;
  QPoint at;
  bool found = false;
  for (int y = VISUAL_VIEW_HEIGHT / 2; y < VISUAL_VIEW_HEIGHT && !found; y += 5)
    for (int x = VISUAL_VIEW_WIDTH / 4; x < VISUAL_VIEW_WIDTH * 3 / 4 && !found; x += 5) {
      int32_t vx, vy;
      render_client_to_view(x, y, &vx, &vy);
      if (render_pick_point(vx, vy, _pick_marker | _pick_ground, &hit, 1) > 0 && hit.kind == _pick_ground) {
        at = QPoint(x, y);
        found = true;
      }
    }
  ASSERT_TRUE(found);
  QTest::mousePress(shell.frame->visualView(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(shell.frame->visualView(), Qt::LeftButton, Qt::NoModifier, at);
  ASSERT_EQ(mesh_marker_count(), 5);
  const marker_data& placed = mesh_markers()[4];
  EXPECT_EQ(placed.type, _marker_scenery);
  EXPECT_EQ(placed.palette_index, 2);
  EXPECT_EQ(placed.location.x, hit.point.x);
  EXPECT_EQ(placed.location.z, 0);  // on the (flat) ground
  EXPECT_TRUE(IsMapModified());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_marker_count(), 4);

  // Another tool hides the window; a placement tool shows it again with its own combo box.
  SelectTool(_tool_select_vertex);
  EXPECT_FALSE(window->isVisible());
  SelectTool(_tool_place_unit);
  EXPECT_EQ(window->findChild<QLabel*>("label_1001")->text(), "Unit:");
  EXPECT_FALSE(combo->isVisible());
}

// Duplicate copies the selected observers half a cell on, selects the copies; Undo takes them back.
TEST_F(MarkerDialogs, DuplicateCopiesTheSelectionAndUndoTakesTheCopiesBack) {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0)};
  map.markers = {map_fixture_marker(_marker_observer, 0, 1000, 1000), map_fixture_marker(_marker_observer, 0, 5000, 16300)};
  open(map);
  ASSERT_NE(mesh_markers()[0].object_index, NONE);
  ASSERT_TRUE(connector_selection_add_index(0));
  ASSERT_TRUE(connector_selection_add_index(1));
  UpdateMenuState();
  EXPECT_TRUE(shell.frame->menuAction(COMMAND_DUPLICATE)->isEnabled());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_DUPLICATE));
  ASSERT_EQ(mesh_marker_count(), 4);
  EXPECT_EQ(mesh_markers()[2].location.x, 1256);
  EXPECT_EQ(mesh_markers()[2].location.y, 1256);
  EXPECT_EQ(mesh_markers()[3].location.y, 32 * 512 - 513);  // kept inside the map
  EXPECT_EQ(connector_selection_indices(), (std::vector<int32_t>{2, 3}));
  EXPECT_TRUE(IsMapModified());
  EXPECT_STREQ(edit_journal_undo_name(), "Duplicate");
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_marker_count(), 2);
  EXPECT_EQ(connector_selection_indices(), (std::vector<int32_t>{0, 1}));
}

// A double-click on a placement tool's button opens its palette and marks the map modified.
TEST_F(MarkerDialogs, DoubleClickingAPlacementToolsButtonOpensItsPalette) {
  map_fixture map = glen();
  open(map);
  ASSERT_FALSE(IsMapModified());
  QString title;
  with_modal([&title](QDialog* dialog) {
    title = dialog->windowTitle();
    button(dialog, "ok")->click();
  });
  ToolbarCommand(int32_t(FIRST_TOOL_COMMAND) + int32_t(_tool_place_observer));
  ToolbarCommand(int32_t(FIRST_TOOL_COMMAND) + int32_t(_tool_place_observer));
  EXPECT_EQ(title, "Marker Palette for type: Observer");
  EXPECT_TRUE(IsMapModified());
}

// Drop Observer places the Place Observer tool's choice in the scenery window, kept on the map when
// the unbounded observer looks past its edge.
TEST_F(MarkerDialogs, DropObserverPlacesTheChosenEntryInsideTheMap) {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                 map_fixture_palette_entry(_marker_observer, NONE_TAG, 1)};
  open(map);
  SelectTool(_tool_place_observer);
  PaletteCombo(_tool_place_observer)->setCurrentIndex(1);
  EXPECT_EQ(PaletteCombo(_tool_place_observer)->currentText(), "Team 1");
  observer_set_bounded(false);
  observer_jump_to({20000, -500});
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_DROP_OBSERVER));
  ASSERT_EQ(mesh_marker_count(), 1);
  EXPECT_EQ(mesh_markers()[0].palette_index, 1);
  EXPECT_EQ(mesh_markers()[0].location.x, 32 * 512 - 1);
  EXPECT_EQ(mesh_markers()[0].location.y, 0);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  EXPECT_EQ(mesh_marker_count(), 0);
}

}  // namespace
