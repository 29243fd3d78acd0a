// The shell over a real tag store: menus and their states, the dispatcher and the main loop, the
// File commands with their questions, and the shared dialogs.
#include <gtest/gtest.h>

#include "input/action_queue.h"
#include "input/keyboard.h"
#include "input/observer.h"
#include "world/world.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "input/observer.h"
#include "world/world.h"
#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "session/engine.h"
#include "engine/preferences.h"
#include "engine/window_positions.h"
#include "map/mesh.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "shell/command_table.h"
#include "shell/input_filter.h"
#include "shell/main_loop.h"
#include "shell/qt_ui_host.h"
#include "shell/shadow_commands.h"
#include "shell/shell.h"
#include "shell/shell_dialogs.h"
#include "shell/tool_modes.h"
#include "shell/vellgrim_frame.h"
#include "shell/vellgrim_startup.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files.h"
#include "tools/edit_recovery.h"
#include "tools/map_session.h"
#include "shell_test_frame.h"

namespace {

// gtest_main owns main(); the application lives in a global environment.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "test_shell";
    static char* argv[] = {name, nullptr};
    application_ = new QApplication(argc, argv);
  }
  void TearDown() override { delete application_; }

 private:
  QApplication* application_ = nullptr;
};
const auto* const qt_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QPushButton* button(QWidget* dialog, const char* name) { return dialog->findChild<QPushButton*>(name); }
QLineEdit* edit(QWidget* dialog, int control_id) {
  return dialog->findChild<QLineEdit*>(QString("edit_%1").arg(control_id));
}

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    map_fixture map = map_fixture_new(1, 1);
    map_tag = store.store_map("harbour", map);
    ASSERT_NE(map_tag, NONE);
    map_fixture other = map_fixture_new(1, 1);
    ASSERT_NE(store.store_map("anvil", other), NONE);
    shell_test_create_frame(store);
    frame = shell.frame;
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;
    map_close();
    vellgrim_destroy_windows();
    window_positions_set_file("");
  }

  bool enabled(int32_t id) const { return frame->menuAction(id)->isEnabled(); }
  bool menu_enabled(int position) const { return frame->topLevelMenu(position)->menuAction()->isEnabled(); }

  // Open Map as the author does it: the command, then "harbour" in the list.
  void open_harbour() {
    with_modal<CTagSelectionDlg>([](CTagSelectionDlg* dialog) {
      const auto items = dialog->list()->findItems("harbour", Qt::MatchExactly);
      ASSERT_EQ(items.size(), 1);
      dialog->list()->setCurrentItem(items[0]);
      button(dialog, "ok")->click();
    });
    ASSERT_TRUE(DispatchMenuCommand(COMMAND_OPEN_MAP));
    ASSERT_TRUE(map_is_open());
  }

  map_test_store store;
  scripted_ui_host ui;
  int32_t map_tag = NONE;
  CVellgrimFrameWnd* frame = nullptr;
  main_loop_state loop;
};

TEST_F(Shell, TheFrameHasAFixedClientAreaAndTheMenuBarOfTheTable) {
  EXPECT_EQ(frame->windowTitle(), "Vellgrim");
  EXPECT_EQ(frame->centralWidget()->size(), QSize(640, 416));
  EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
  EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);

  QStringList titles;
  for (int position = 0; position < NUMBER_OF_TOP_LEVEL_MENUS; ++position)
    titles << frame->topLevelMenu(position)->title();
  EXPECT_EQ(titles, QStringList({"&File", "&Edit", "&Maps", "M&odels", "Mes&h", "&Selection", "&Windows"}));

  QStringList file_items;
  for (QAction* action : frame->topLevelMenu(0)->actions()) file_items << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(file_items, QStringList({"&New Map...", "&Open Map...", "&Close Map", "-", "&Save Map", "&Quit"}));

  QStringList maps_submenus;
  for (QAction* action : frame->topLevelMenu(2)->actions()) maps_submenus << action->text();
  EXPECT_EQ(maps_submenus,
            QStringList({"Shadow Map", "Color Map", "Reflection Map", "Displacement Map", "Terrain Map"}));

  // Every item of the table is on the menu bar with its text; "&&" shows one ampersand.
  for (const menu_entry& entry : menu_bar_entries()) {
    if (entry.kind != _menu_item && entry.kind != _menu_check_item) continue;
    ASSERT_NE(frame->menuAction(entry.id), nullptr) << entry.id;
    EXPECT_EQ(frame->menuAction(entry.id)->text(), QString::fromLatin1(entry.text));
  }
  EXPECT_TRUE(frame->menuAction(COMMAND_BOUNDED_OBSERVER)->isCheckable());
  EXPECT_TRUE(frame->menuAction(COMMAND_CREATE_NEW_CONNECTOR)->isCheckable());
}

// The menu bar as the author sees it, written out here rather than taken from the table that builds
// it: "{" opens a menu, "}" closes it, "-" is a separator, "(check)" marks a check item.
TEST_F(Shell, TheMenuBarAndAcceleratorsAreTheListedOnes) {
  const QStringList expected = {
      "&File{", "32771 &New Map...", "32772 &Open Map...", "32773 &Close Map", "-", "32775 &Save Map", "32776 &Quit",
      "}",
      "&Edit{", "32861 &Undo\tCtrl-Z", "32866 &Redo\tCtrl-Y", "-", "32862 &Cut\tCtrl-X", "32863 C&opy\tCtrl-C",
      "32864 &Paste\tCtrl-V",
      "32865 &Duplicate\tCtrl-D", "-", "32782 &View Preferences...", "32783 &Tool Preferences...", "}",
      "&Maps{",
      "Shadow Map{", "32784 Unprotect All Submeshes", "-", "32785 No Shadows", "32786 Basic Lighting",
      "32787 Add Mesh Shading", "32788 Add Model Shading", "-", "32789 Import...", "32790 Export...", "-",
      "32791 Calculate Model Animation Shadows", "32888 Remove Model Animation Shadows", "}",
      "Color Map{", "32792 Import...", "32793 Export...", "}",
      "Reflection Map{", "32794 Import...", "32887 Export...", "}",
      "Displacement Map{", "32795 Edit Range...", "32796 Import...", "32797 Export...", "32798 Import Water Level...",
      "32799 Export Water Level...", "}",
      "Terrain Map{", "32800 Import...", "32801 Export...", "}",
      "}",
      "M&odels{", "32802 Set Model Location...", "}",
      "Mes&h{", "32803 Bounded Observer (check)", "32804 Drop Observer", "-", "32805 Set Height...",
      "32806 Set Height to Zero", "32807 Set Media Height...", "32808 Set All Media Heights...", "-",
      "32809 Edit Jitter Amount...", "32810 Jitter Selected Vertices\tCtrl-J", "-",
      "32811 Edit Mesh Edge Raise Amount...", "32812 Raise Mesh Edges", "32813 Make Mesh Edges Impassable", "-",
      "32814 Set Mesh Parameters...", "32815 Shift Mesh && Markers...", "32816 Recompute Mesh LOD\tCtrl-R", "-",
      "32817 Export Map Actions...", "32818 Import Map Actions...", "-", "32819 Create New Connector (check)",
      "32889 Remove Connector from Selection", "32820 Remove All Connectors", "-", "32891 Mesh Limits...", "}",
      "&Selection{", "32821 Edit Marker...", "32822 Rotate Selection...", "-", "32823 Create Data Container...",
      "32824 Create Squad...", "32825 Create Observer Movement Action...", "}",
      "&Windows{", "32826 Visual", "32827 Overhead", "32828 Tools", "-", "32829 Zoom In\t+", "32830 Zoom Out\t-", "}",
  };
  std::map<const QAction*, int32_t> ids;
  for (int32_t id = 32768; id < 32900; ++id) {
    if (const QAction* action = frame->menuAction(id)) ids[action] = id;
  }
  QStringList listing;
  std::function<void(const QMenu*)> list_menu = [&](const QMenu* menu) {
    listing << menu->title() + "{";
    for (const QAction* action : menu->actions()) {
      if (action->menu() != nullptr) {
        list_menu(action->menu());
      } else if (action->isSeparator()) {
        listing << "-";
      } else {
        const auto found = ids.find(action);
        listing << QString("%1 %2%3")
                       .arg(found == ids.end() ? 0 : found->second)
                       .arg(action->text(), action->isCheckable() ? " (check)" : "");
      }
    }
    listing << "}";
  };
  for (const QAction* top : frame->menuBar()->actions()) {
    ASSERT_NE(top->menu(), nullptr);
    list_menu(top->menu());
  }
  EXPECT_EQ(listing, expected);

  const std::vector<std::pair<QString, int32_t>> expected_keys = {
      {"+", 32829},      {"-", 32830},      {"Ctrl+C", 32863}, {"Ctrl+D", 32865}, {"Ctrl+J", 32810},
      {"Ctrl+N", 32771}, {"Ctrl+O", 32772}, {"Ctrl+Q", 32776}, {"Ctrl+R", 32816}, {"Ctrl+S", 32775},
      {"Ctrl+Shift+Z", 32866}, {"Ctrl+V", 32864}, {"Ctrl+W", 32773}, {"Ctrl+X", 32862}, {"Ctrl+Y", 32866},
      {"Ctrl+Z", 32861},
  };
  std::vector<std::pair<QString, int32_t>> keys;
  for (const QAction* action : frame->actions()) {
    if (!action->shortcut().isEmpty()) keys.emplace_back(action->shortcut().toString(), action->data().toInt());
  }
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, expected_keys);
}

// Keys pressed on the frame reach the accelerators of the commands they name, and through them the
// commands that are enabled. Nothing can select vertices yet, so Jitter stays greyed: for it, the
// accelerator is all there is to see.
TEST_F(Shell, AcceleratorsRunTheirCommands) {
  // The command of the accelerator a key press fires, 0 when none fires.
  auto accelerator_of = [this](QKeyCombination keys) {
    int32_t fired = 0;
    std::vector<QMetaObject::Connection> spies;
    for (QAction* action : frame->actions()) {
      spies.push_back(
          QObject::connect(action, &QAction::triggered, [&fired, action] { fired = action->data().toInt(); }));
    }
    QTest::keyClick(frame, keys.key(), keys.keyboardModifiers());
    for (const QMetaObject::Connection& spy : spies) QObject::disconnect(spy);
    return fired;
  };
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  EXPECT_EQ(accelerator_of(Qt::CTRL | Qt::Key_N), COMMAND_NEW_MAP);
  EXPECT_EQ(frame->takeCommand(), COMMAND_NEW_MAP);
  EXPECT_EQ(accelerator_of(Qt::CTRL | Qt::Key_Q), COMMAND_QUIT);
  EXPECT_EQ(frame->takeCommand(), COMMAND_QUIT);

  open_harbour();
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  EXPECT_EQ(accelerator_of(Qt::CTRL | Qt::Key_R), COMMAND_RECOMPUTE_MESH_LOD);
  EXPECT_EQ(frame->takeCommand(), COMMAND_RECOMPUTE_MESH_LOD);
  EXPECT_EQ(accelerator_of(QKeyCombination(Qt::Key_Plus)), COMMAND_ZOOM_IN);
  EXPECT_EQ(frame->takeCommand(), COMMAND_ZOOM_IN);
  EXPECT_EQ(accelerator_of(QKeyCombination(Qt::Key_Minus)), COMMAND_ZOOM_OUT);
  EXPECT_EQ(frame->takeCommand(), COMMAND_ZOOM_OUT);
  EXPECT_EQ(accelerator_of(Qt::CTRL | Qt::Key_J), COMMAND_JITTER_SELECTED_VERTICES);
  EXPECT_FALSE(enabled(COMMAND_JITTER_SELECTED_VERTICES));
  EXPECT_FALSE(frame->hasCommand());
}

TEST_F(Shell, WithoutAMapOnlyFileIsUsable) {
  EXPECT_TRUE(enabled(COMMAND_NEW_MAP));
  EXPECT_TRUE(enabled(COMMAND_OPEN_MAP));
  EXPECT_FALSE(enabled(COMMAND_CLOSE_MAP));
  EXPECT_FALSE(enabled(COMMAND_SAVE_MAP));
  EXPECT_TRUE(enabled(COMMAND_QUIT));
  EXPECT_TRUE(menu_enabled(0));
  for (int position = 1; position < NUMBER_OF_TOP_LEVEL_MENUS; ++position) EXPECT_FALSE(menu_enabled(position));
}

TEST_F(Shell, AcceleratorsOfGreyedItemsDoNothing) {
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  for (QKeyCombination keys : {Qt::CTRL | Qt::Key_Z, Qt::CTRL | Qt::Key_D, Qt::CTRL | Qt::Key_S, Qt::CTRL | Qt::Key_W})
    QTest::keyClick(frame, keys.key(), keys.keyboardModifiers());
  EXPECT_FALSE(frame->hasCommand());
  QTest::keyClick(frame, Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(frame->takeCommand(), COMMAND_OPEN_MAP);
}

TEST_F(Shell, WithAMapTheMenusFollowTheEditorsState) {
  open_harbour();
  EXPECT_EQ(frame->windowTitle(), "mesh:harbour");
  EXPECT_EQ(shell.windows[_shell_window_overhead]->windowTitle(), "mesh:harbour");
  EXPECT_TRUE(shell.windows[_shell_window_tools]->isVisible());
  EXPECT_TRUE(shell.windows[_shell_window_overhead]->isVisible());
  EXPECT_FALSE(shell.windows[_shell_window_terrain]->isVisible());

  EXPECT_FALSE(enabled(COMMAND_NEW_MAP));
  EXPECT_FALSE(enabled(COMMAND_OPEN_MAP));
  EXPECT_TRUE(enabled(COMMAND_CLOSE_MAP));
  for (int position = 0; position < NUMBER_OF_TOP_LEVEL_MENUS; ++position) EXPECT_TRUE(menu_enabled(position));
  // Nothing is selected and Preview is the tool.
  for (int32_t id : {COMMAND_UNDO, COMMAND_REDO, COMMAND_CUT, COMMAND_COPY, COMMAND_PASTE, COMMAND_DUPLICATE,
                     COMMAND_TOOL_PREFERENCES, COMMAND_SET_HEIGHT, COMMAND_SET_HEIGHT_TO_ZERO,
                     COMMAND_SET_MEDIA_HEIGHT, COMMAND_JITTER_SELECTED_VERTICES, COMMAND_ROTATE_SELECTION,
                     COMMAND_CREATE_DATA_CONTAINER, COMMAND_CREATE_SQUAD, COMMAND_SET_MODEL_LOCATION,
                     COMMAND_REMOVE_CONNECTOR_FROM_SELECTION, COMMAND_CALCULATE_MODEL_ANIMATION_SHADOWS})
    EXPECT_FALSE(enabled(id)) << id;
  for (int32_t id : {COMMAND_EDIT_MARKER, COMMAND_CREATE_OBSERVER_MOVEMENT_ACTION, COMMAND_SET_ALL_MEDIA_HEIGHTS,
                     COMMAND_MESH_LIMITS, COMMAND_QUIT})
    EXPECT_TRUE(enabled(id)) << id;
}

TEST_F(Shell, SaveIsEnabledByTheFirstChangeAndClearedBySaving) {
  open_harbour();
  EXPECT_FALSE(enabled(COMMAND_SAVE_MAP));
  // Ctrl+R recomputes the LOD data: a change, run by the main loop like any chosen command.
  frame->postCommand(COMMAND_RECOMPUTE_MESH_LOD);
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_TRUE(IsMapModified());
  EXPECT_TRUE(enabled(COMMAND_SAVE_MAP));

  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SAVE_MAP));
  EXPECT_FALSE(IsMapModified());
  EXPECT_FALSE(enabled(COMMAND_SAVE_MAP));
  EXPECT_TRUE(ui.boxes.empty());
}

// The observer is placed bounded; the item's check and the observer's flag follow each other.
TEST_F(Shell, BoundedObserverTogglesItsCheck) {
  open_harbour();
  EXPECT_TRUE(frame->menuAction(COMMAND_BOUNDED_OBSERVER)->isChecked());
  EXPECT_TRUE(observer_is_bounded());
  DispatchMenuCommand(COMMAND_BOUNDED_OBSERVER);
  EXPECT_FALSE(frame->menuAction(COMMAND_BOUNDED_OBSERVER)->isChecked());
  EXPECT_FALSE(observer_is_bounded());
  DispatchMenuCommand(COMMAND_BOUNDED_OBSERVER);
  EXPECT_TRUE(frame->menuAction(COMMAND_BOUNDED_OBSERVER)->isChecked());
  EXPECT_TRUE(observer_is_bounded());
}

TEST_F(Shell, EachPassOfTheMainLoopRunsOneCommand) {
  open_harbour();
  frame->postCommand(COMMAND_BOUNDED_OBSERVER);
  frame->postCommand(COMMAND_BOUNDED_OBSERVER);
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_FALSE(frame->menuAction(COMMAND_BOUNDED_OBSERVER)->isChecked());
  EXPECT_TRUE(frame->hasCommand());
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_TRUE(frame->menuAction(COMMAND_BOUNDED_OBSERVER)->isChecked());
  EXPECT_FALSE(frame->hasCommand());
}

// Keys pressed anywhere in the editor reach the key table; losing the keyboard lets go of them all.
TEST_F(Shell, KeysFeedTheKeyTableUntilTheEditorLosesTheKeyboard) {
  QTest::keyPress(frame->visualView(), Qt::Key_W);
  EXPECT_TRUE(keyboard_key_is_down(_key_w));
  QTest::keyPress(frame->visualView(), Qt::Key_8, Qt::KeypadModifier);
  EXPECT_TRUE(keyboard_key_is_down(_key_keypad_0 + 8));
  EXPECT_FALSE(keyboard_key_is_down(_key_h));
  QTest::keyRelease(frame->visualView(), Qt::Key_8, Qt::KeypadModifier);
  EXPECT_FALSE(keyboard_key_is_down(_key_keypad_0 + 8));
  QEvent deactivate(QEvent::ApplicationDeactivate);
  QCoreApplication::sendEvent(qApp, &deactivate);
  EXPECT_FALSE(keyboard_key_is_down(_key_w));
}

TEST_F(Shell, KeySlotsCompareKeyCodesNotCharacters) {
  EXPECT_EQ(shell_key_slot(Qt::Key_8, true, 0), _key_keypad_0 + 8);
  EXPECT_EQ(shell_key_slot(Qt::Key_1, true, 0), _key_keypad_0 + 1);
  EXPECT_EQ(shell_key_slot(Qt::Key_H, false, 0), _key_h);
  EXPECT_EQ(shell_key_slot(Qt::Key_F1, false, 0), _key_f1);
  EXPECT_EQ(shell_key_slot(Qt::Key_Plus, true, 0), _key_keypad_plus);
  EXPECT_EQ(shell_key_slot(Qt::Key_Shift, false, 0xFFE2), _key_right_shift);
  EXPECT_EQ(shell_key_slot(Qt::Key_Shift, false, 0xFFE1), _key_shift);
  EXPECT_EQ(shell_key_slot(Qt::Key_Control, false, 0xFFE4), _key_right_control);
  EXPECT_EQ(shell_key_slot(Qt::Key_unknown, false, 0), -1);
}

// One pass with ticks waiting: drained, the world advanced by as many, the camera moved with the
// observer; without an active application the observer stays.
TEST_F(Shell, TheMainLoopStepsTheWorldByTheTicksDrained) {
  open_harbour();
  input_shutdown();  // the test makes the ticks itself
  input_flush();
  keyboard_release_all();
  keyboard_set_key(_key_w, true);
  for (int i = 0; i < 4; ++i) input_sample(nullptr);
  const int32_t time = world_time();
  const int32_t x = observer_get()->target.x;
  shell.application_active = 1;
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_EQ(world_time(), time + 4);
  EXPECT_EQ(input_queue_count(), 0);
  EXPECT_NE(observer_get()->target.x, x);
  EXPECT_EQ(observer_get()->camera.facing, observer_get()->facing);
  const int32_t moved = observer_get()->target.x;
  shell.application_active = 0;
  for (int i = 0; i < 3; ++i) input_sample(nullptr);
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_EQ(world_time(), time + 7);
  EXPECT_EQ(observer_get()->target.x, moved);
  keyboard_release_all();
}

TEST_F(Shell, TheVisualViewIsGreyWithoutAMap) {
  const QImage view = frame->visualView()->grab().toImage();
  ASSERT_EQ(view.size(), QSize(640, 416));
  EXPECT_EQ(view.pixelColor(0, 0), QColor(128, 128, 128));
  EXPECT_EQ(view.pixelColor(639, 415), QColor(128, 128, 128));
}

TEST_F(Shell, UnknownIdentifiersAreNotDispatched) {
  EXPECT_FALSE(DispatchMenuCommand(12345));
  EXPECT_FALSE(DispatchMenuCommand(FIRST_TOOL_COMMAND));
  EXPECT_TRUE(DispatchMenuCommand(COMMAND_CUT));  // in the table, with no work
}

TEST_F(Shell, QuitAnsweredWithCancelKeepsTheMapOpen) {
  open_harbour();
  SetMapModified(true);
  ui.answers.push_back(ui_answer_cancel);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_QUIT));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "Save 'harbour' before closing?");
  EXPECT_EQ(ui.boxes[0].buttons, ui_buttons_yes_no_cancel);
  EXPECT_TRUE(map_is_open());
  EXPECT_TRUE(IsMapModified());
  EXPECT_FALSE(shell.quit);
  EXPECT_TRUE(main_loop_pass(&loop));
  EXPECT_EQ(frame->windowTitle(), "mesh:harbour");
}

TEST_F(Shell, TheCloseBoxQuitsAndTheWindowPositionsAreSaved) {
  open_harbour();
  SetMapModified(true);
  frame->move(40, 30);
  ui.answers.push_back(ui_answer_no);
  frame->close();
  EXPECT_TRUE(frame->isVisible());  // the close box runs Quit; it does not close by itself
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_FALSE(map_is_open());
  EXPECT_EQ(game_data_get()->state, _game_state_quitting);
  EXPECT_FALSE(main_loop_pass(&loop));
  EXPECT_FALSE(frame->isVisible());

  window_positions saved{};
  ASSERT_TRUE(window_positions_read(&saved));
  const QPoint corner = frame->frameGeometry().topLeft();
  EXPECT_EQ(saved.windows[_window_screen].x, corner.x());
  EXPECT_EQ(saved.windows[_window_screen].y, corner.y());
}

TEST_F(Shell, AHiddenWindowIsSavedAndShownAgainWhereItWasHidden) {
  open_harbour();
  QWidget* tools = shell.windows[_shell_window_tools];
  tools->move(120, 200);
  const QPoint corner = tools->frameGeometry().topLeft();
  HideShellWindow(tools);
  // What some window managers do to a window whose frame they take away.
  tools->move(-2, 451);
  main_loop_save_window_positions();
  window_positions saved{};
  ASSERT_TRUE(window_positions_read(&saved));
  EXPECT_EQ(saved.windows[_window_tools].x, corner.x());
  EXPECT_EQ(saved.windows[_window_tools].y, corner.y());
  DispatchMenuCommand(COMMAND_WINDOW_TOOLS);
  EXPECT_EQ(tools->frameGeometry().topLeft(), corner);
}

// A window sized by its layout when first shown keeps its frame at the saved position.
TEST_F(Shell, AWindowSizedByItsContentsIsShownAtItsSavedPosition) {
  QWidget* tools = shell.windows[_shell_window_tools];
  const window_position saved = shell.positions.windows[_shell_window_tools];
  ShowShellWindow(tools);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(tools));
  EXPECT_EQ(tools->frameGeometry().topLeft(), QPoint(saved.x, saved.y));
}

TEST_F(Shell, ClosingTheMapRestoresTheTitleOnce) {
  open_harbour();
  ASSERT_TRUE(main_loop_pass(&loop));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CLOSE_MAP));
  EXPECT_FALSE(map_is_open());
  EXPECT_FALSE(shell.windows[_shell_window_overhead]->isVisible());
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_EQ(frame->windowTitle(), "Vellgrim");
  frame->setWindowTitle("something else");
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_EQ(frame->windowTitle(), "something else");
  EXPECT_FALSE(enabled(COMMAND_CLOSE_MAP));
}

TEST_F(Shell, AFailedSaveSaysSoAndKeepsSaveEnabled) {
  open_harbour();
  SetMapModified(true);
  atomic_file_set_test_hook([](const file_specification*) { return false; });
  DispatchMenuCommand(COMMAND_SAVE_MAP);
  atomic_file_set_test_hook(nullptr);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Error");
  EXPECT_NE(ui.boxes[0].text.find("harbour"), std::string::npos);
  EXPECT_TRUE(IsMapModified());
  EXPECT_TRUE(enabled(COMMAND_SAVE_MAP));
}

TEST_F(Shell, MeshLimitsShowsTheCountsInAnInformationBox) {
  open_harbour();
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_MESH_LIMITS));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Current Mesh Limits");
  EXPECT_EQ(ui.boxes[0].icon, ui_icon_information);
  EXPECT_EQ(ui.boxes[0].buttons, ui_buttons_ok);
  // Every line, in its order, with the maxima of the groups and arrays; the local projectiles
  // count 0 until their module exists.
  EXPECT_EQ(ui.boxes[0].text,
            "ambient sound definitions: 0 / 64\n"
            "artifact definitions: 0 / 128\n"
            "collection definitions: 1 / 256\n"
            "collection reference definitions: 0 / 320\n"
            "local physics definitions: 0 / 128\n"
            "local projectiles: 0 / 0\n"
            "local proj group definitions: 0 / 128\n"
            "lightning systems definitions: 0 / 16\n"
            "map actions: 0 / 1024\n"
            "mesh_effect definitions: 0 / 32\n"
            "models: 0 / 1024\n"
            "model definitions: 0 / 512\n"
            "model animation definitions: 0 / 8\n"
            "monster definitions: 0 / 96\n"
            "object definitions: 0 / 256\n"
            "projectile definitions: 0 / 1024\n"
            "projectile group definitions: 0 / 768\n"
            "scenery definitions: 0 / 96\n"
            "unit definitions: 0 / 512\n"
            "objects: 0 / 1024\n"
            "MA params size: 0 / 98304\n");
  EXPECT_FALSE(IsMapModified());
}

TEST_F(Shell, MeshParametersAreStoredOnOkOnly) {
  open_harbour();
  const int16_t left = mesh_globals.header->observer_margin_left;
  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) { button(dialog, "cancel")->click(); });
  DispatchMenuCommand(COMMAND_SET_MESH_PARAMETERS);
  EXPECT_EQ(mesh_globals.header->observer_margin_left, left);
  EXPECT_FALSE(IsMapModified());

  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Mesh Parameters");
    edit(dialog, 1059)->setText("3");
    edit(dialog, 1060)->setText("4");
    edit(dialog, 1061)->setText("5");
    edit(dialog, 1062)->setText("99999");
    button(dialog, "ok")->click();
  });
  DispatchMenuCommand(COMMAND_SET_MESH_PARAMETERS);
  EXPECT_EQ(mesh_globals.header->observer_margin_left, 3);
  EXPECT_EQ(mesh_globals.header->observer_margin_right, 4);
  EXPECT_EQ(mesh_globals.header->observer_margin_top, 5);
  EXPECT_EQ(mesh_globals.header->observer_margin_bottom, 32767);
  EXPECT_TRUE(IsMapModified());
}

TEST_F(Shell, UndoAndRedoNameTheirStepAndWalkTheJournalFromKeysAndMenu) {
  open_harbour();
  UpdateMenuState();
  EXPECT_FALSE(enabled(COMMAND_UNDO));
  EXPECT_FALSE(enabled(COMMAND_REDO));
  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) {
    edit(dialog, 1059)->setText("6");
    button(dialog, "ok")->click();
  });
  DispatchMenuCommand(COMMAND_SET_MESH_PARAMETERS);
  ASSERT_EQ(mesh_header()->observer_margin_left, 6);
  EXPECT_TRUE(enabled(COMMAND_UNDO));
  EXPECT_EQ(frame->menuAction(COMMAND_UNDO)->text(), "&Undo Set Mesh Parameters\tCtrl-Z");

  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  QTest::keyClick(frame, Qt::Key_Z, Qt::ControlModifier);
  main_loop_pass(&loop);  // the accelerator posts its command
  EXPECT_NE(mesh_header()->observer_margin_left, 6);
  EXPECT_FALSE(IsMapModified());  // back where it was opened
  EXPECT_FALSE(enabled(COMMAND_SAVE_MAP));
  EXPECT_EQ(frame->menuAction(COMMAND_REDO)->text(), "&Redo Set Mesh Parameters\tCtrl-Y");
  EXPECT_EQ(frame->menuAction(COMMAND_UNDO)->text(), "&Undo\tCtrl-Z");

  QTest::keyClick(frame, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  main_loop_pass(&loop);  // the accelerator posts its command
  EXPECT_EQ(mesh_header()->observer_margin_left, 6);
  EXPECT_TRUE(enabled(COMMAND_SAVE_MAP));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNDO));
  QTest::keyClick(frame, Qt::Key_Y, Qt::ControlModifier);
  main_loop_pass(&loop);  // the accelerator posts its command
  EXPECT_EQ(mesh_header()->observer_margin_left, 6);
  EXPECT_FALSE(enabled(COMMAND_REDO));
}

TEST_F(Shell, RecoveredChangesLeaveTheMapModifiedAndSaveEnabled) {
  edit_recovery_enable(true);
  open_harbour();
  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) {
    edit(dialog, 1059)->setText("7");
    button(dialog, "ok")->click();
  });
  DispatchMenuCommand(COMMAND_SET_MESH_PARAMETERS);
  const std::string left = store.folder().read_file(edit_recovery_path("harbour"));
  ASSERT_FALSE(left.empty());
  // The editor stops without saving; the file it leaves is put back after the close removed it.
  ui.default_answer = ui_answer_no;
  ASSERT_TRUE(map_close());
  ASSERT_TRUE(store.folder().write_file(edit_recovery_path("harbour"), left));

  ui.default_answer = ui_answer_yes;
  open_harbour();
  EXPECT_EQ(mesh_header()->observer_margin_left, 7);
  EXPECT_TRUE(IsMapModified());
  EXPECT_TRUE(enabled(COMMAND_SAVE_MAP));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SAVE_MAP));
  EXPECT_FALSE(IsMapModified());
  EXPECT_TRUE(store.folder().read_file(edit_recovery_path("harbour")).empty());
  edit_recovery_enable(false);
}

TEST_F(Shell, DisplacementBoundsEditTheEditorsPreferences) {
  open_harbour();
  vellgrim_preferences* preferences = vellgrim_preferences_get();
  ASSERT_NE(preferences, nullptr);
  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Edit Displacement Bounds");
    EXPECT_EQ(edit(dialog, 1058)->text(), "-3.00");
    EXPECT_EQ(edit(dialog, 1059)->text(), "3.00");
    edit(dialog, 1058)->setText("-1.5");
    button(dialog, "ok")->click();
  });
  DispatchMenuCommand(COMMAND_EDIT_DISPLACEMENT_RANGE);
  EXPECT_EQ(preferences->displacement_lower_bound, -768);
  EXPECT_EQ(preferences->displacement_upper_bound, 1536);
}

// Sixteen different pictures, each button named by its tool, and the names shown on hover even
// while the tools window is not the active one.
TEST_F(Shell, EveryToolHasItsOwnPictureAndItsNameAsTooltip) {
  QWidget* tools = shell.windows[_shell_window_tools];
  EXPECT_TRUE(tools->testAttribute(Qt::WA_AlwaysShowToolTips));
  std::vector<QImage> faces;
  for (int32_t index = 0; index < NUMBER_OF_TOOLS; ++index) {
    auto* action = tools->findChild<QAction*>(QString("tool_%1").arg(int32_t(FIRST_TOOL_COMMAND) + index));
    ASSERT_NE(action, nullptr) << index;
    EXPECT_EQ(action->toolTip(), QString::fromLatin1(tool_name(index)));
    const QImage face = action->icon().pixmap(22, 19).toImage();
    ASSERT_FALSE(face.isNull()) << index;
    for (size_t other = 0; other < faces.size(); ++other) {
      EXPECT_NE(face, faces[other]) << tool_name(index) << " looks like " << tool_name(int32_t(other));
    }
    faces.push_back(face);
  }
}

TEST_F(Shell, TheToolsWindowFollowsTheMapAndTheCurrentTool) {
  QWidget* tools = shell.windows[_shell_window_tools];
  auto* preview = tools->findChild<QAction*>(QString("tool_%1").arg(FIRST_TOOL_COMMAND));
  const int32_t terrain_command = int32_t(FIRST_TOOL_COMMAND) + _tool_terrain_painting;
  auto* terrain = tools->findChild<QAction*>(QString("tool_%1").arg(terrain_command));
  ASSERT_NE(preview, nullptr);
  ASSERT_NE(terrain, nullptr);
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_FALSE(preview->isEnabled());
  open_harbour();
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_TRUE(preview->isEnabled());
  EXPECT_TRUE(preview->isChecked());
  terrain->trigger();
  EXPECT_EQ(shell.current_tool, _tool_terrain_painting);
  EXPECT_TRUE(terrain->isChecked());
  EXPECT_FALSE(preview->isChecked());
  // The map windows of the terrain painter: its types window comes with the others.
  HideMapWindows();
  ShowMapWindows();
  EXPECT_TRUE(shell.windows[_shell_window_terrain]->isVisible());
  EXPECT_FALSE(shell.windows[_shell_window_scenery]->isVisible());
  EXPECT_FALSE(shell.windows[_shell_window_map_actions]->isVisible());
}

TEST_F(Shell, TheWindowsMenuOnlyShows) {
  open_harbour();
  // The visual view comes last of the map windows: it has the keyboard.
  EXPECT_TRUE(QTest::qWaitForWindowActive(frame));
  QWidget* tools = shell.windows[_shell_window_tools];
  tools->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(tools));
  DispatchMenuCommand(COMMAND_WINDOW_VISUAL);
  EXPECT_TRUE(QTest::qWaitForWindowActive(frame));

  HideMapWindows();
  DispatchMenuCommand(COMMAND_WINDOW_OVERHEAD);
  EXPECT_TRUE(shell.windows[_shell_window_overhead]->isVisible());
  DispatchMenuCommand(COMMAND_WINDOW_TOOLS);
  EXPECT_TRUE(shell.windows[_shell_window_tools]->isVisible());
  DispatchMenuCommand(COMMAND_WINDOW_OVERHEAD);
  EXPECT_TRUE(shell.windows[_shell_window_overhead]->isVisible());
}

TEST_F(Shell, TheViewCapturesTheMouseForAPressNotForADoubleClick) {
  open_harbour();
  QWidget* view = frame->visualView();
  const QPointF at(20, 30);
  QMouseEvent double_click(QEvent::MouseButtonDblClick, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                           Qt::NoModifier);
  QApplication::sendEvent(view, &double_click);
  EXPECT_FALSE(frame->mouseCaptured());
  QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, at.toPoint());
  EXPECT_TRUE(frame->mouseCaptured());
  QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, at.toPoint());
  EXPECT_FALSE(frame->mouseCaptured());
}

// As with an owned window on Windows, closing a modal dialog gives the keyboard back to its owner,
// whatever the window manager does.
TEST_F(Shell, AClosedDialogGivesTheKeyboardBackToItsOwner) {
  open_harbour();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  SetMapModified(true);
  const ui_host* scripted = ui_host_current();
  qt_ui_host_install();
  with_modal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Cancel)->click(); });
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_CLOSE_MAP));
  ui_host_install(scripted);
  EXPECT_TRUE(map_is_open());
  EXPECT_TRUE(QTest::qWaitForWindowActive(frame));
}

TEST_F(Shell, KeysReachTheToolsAsVirtualKeyCodes) {
  EXPECT_EQ(shell_virtual_key(Qt::Key_A, false), 0x41);
  EXPECT_EQ(shell_virtual_key(Qt::Key_H, false), 0x48);
  EXPECT_EQ(shell_virtual_key(Qt::Key_Space, false), 0x20);
  EXPECT_EQ(shell_virtual_key(Qt::Key_Left, false), 0x25);
  EXPECT_EQ(shell_virtual_key(Qt::Key_Down, false), 0x28);
  EXPECT_EQ(shell_virtual_key(Qt::Key_Delete, false), 0x2E);
  EXPECT_EQ(shell_virtual_key(Qt::Key_F9, false), 0x78);
  // The keypad's 0 and the backquote key share Qt's code 0x60 for neither.
  EXPECT_EQ(shell_virtual_key(Qt::Key_0, true), 0x60);
  EXPECT_EQ(shell_virtual_key(Qt::Key_0, false), 0x30);
  EXPECT_EQ(shell_virtual_key(Qt::Key_QuoteLeft, false), 0xC0);
  EXPECT_EQ(shell_virtual_key(Qt::Key_Eacute, false), 0);
}

TEST_F(Shell, TheQtHostAsksWithMessageBoxes) {
  // The scripted host stands aside for the Qt one for this test.
  const ui_host* scripted = ui_host_current();
  qt_ui_host_install();
  struct case_t {
    ui_buttons buttons;
    QMessageBox::StandardButton press;
    ui_answer answer;
  };
  for (const case_t& c : {case_t{ui_buttons_yes_no_cancel, QMessageBox::Cancel, ui_answer_cancel},
                          case_t{ui_buttons_yes_no_cancel, QMessageBox::No, ui_answer_no},
                          case_t{ui_buttons_yes_no, QMessageBox::Yes, ui_answer_yes},
                          case_t{ui_buttons_ok, QMessageBox::Ok, ui_answer_ok}}) {
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    with_modal<QMessageBox>([&, c](QMessageBox* box) {
      title = box->windowTitle();
      icon = box->icon();
      box->button(c.press)->click();
    });
    EXPECT_EQ(ui_message_box("", "Save 'harbour' before closing?", ui_icon_warning, c.buttons), c.answer);
    EXPECT_EQ(title, "Error");  // a box without a caption gets the system's
    EXPECT_EQ(icon, QMessageBox::Warning);
  }
  ui_host_install(scripted);
}

// ---- dialogs ----

TEST_F(Shell, TheValueDialogRefusesValuesOutsideItsRangeAndStaysOpen) {
  CValueDlg dialog(frame, 0.0, -10.0, 10.0);
  EXPECT_EQ(dialog.windowTitle(), "Enter the new value:");
  EXPECT_EQ(dialog.field(0)->text(), "0.00");
  dialog.show();
  for (const char* refused : {"10.5", "-10.001", "nan"}) {
    ui.boxes.clear();
    dialog.field(0)->setText(refused);
    button(&dialog, "ok")->click();
    ASSERT_EQ(ui.boxes.size(), 1u) << refused;
    EXPECT_EQ(ui.boxes[0].title, "Invalid Value");
    EXPECT_EQ(ui.boxes[0].text, "Please enter a value between -10.000 and 10.000\n");
    EXPECT_EQ(ui.boxes[0].icon, ui_icon_error);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.field(0)->text(), refused);
  }
  dialog.field(0)->setText("-10");
  button(&dialog, "ok")->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.value(), -10.0);
}

TEST_F(Shell, TheTagSelectionDialogListsSortedNamesAndOpensOnlyAChoice) {
  CTagSelectionDlg dialog(frame, "Select a mesh:", MESH_DEFINITION_GROUP_TAG);
  EXPECT_EQ(dialog.windowTitle(), "Select a mesh:");
  ASSERT_EQ(dialog.list()->count(), 2);
  EXPECT_EQ(dialog.list()->item(0)->text(), "anvil");
  EXPECT_EQ(dialog.list()->item(1)->text(), "harbour");
  EXPECT_FALSE(dialog.openButton()->isEnabled());
  dialog.list()->setCurrentRow(1);
  EXPECT_TRUE(dialog.openButton()->isEnabled());
  dialog.accept();
  EXPECT_EQ(dialog.chosenTagIndex(), map_tag);

  CTagSelectionDlg filtered(frame, "Select a mesh:", MESH_DEFINITION_GROUP_TAG,
                            [](int32_t tag_index, int32_t extra) { return tag_index != extra; }, map_tag);
  ASSERT_EQ(filtered.list()->count(), 1);
  EXPECT_EQ(filtered.list()->item(0)->text(), "anvil");
}

// The caret starts on the first name with nothing chosen: Down chooses that name, Return opens it.
TEST_F(Shell, DownAndReturnInTheTagSelectionDialogOpenTheFirstName) {
  CTagSelectionDlg dialog(frame, "Select a mesh:", MESH_DEFINITION_GROUP_TAG);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  dialog.list()->setFocus(Qt::TabFocusReason);
  QTest::keyClick(dialog.list(), Qt::Key_Down);
  EXPECT_TRUE(dialog.openButton()->isEnabled());
  QTest::keyClick(dialog.list(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_STREQ(tag_file_get_name(dialog.chosenTagIndex()), "anvil");
}

TEST_F(Shell, TheNamingDialogAsksBeforeReplacingAName) {
  CNamingDlg dialog(frame, "Name the mesh:", MESH_DEFINITION_GROUP_TAG, "new mesh", MESH_VERSION);
  EXPECT_EQ(dialog.edit()->text(), "new mesh");
  EXPECT_EQ(dialog.edit()->maxLength(), 31);
  EXPECT_EQ(dialog.list()->count(), 2);
  EXPECT_FALSE(dialog.list()->isEnabled());
  dialog.show();

  dialog.edit()->setText("  harbour ");
  ui.answers.push_back(ui_answer_no);
  dialog.accept();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "Are you sure you want to replace 'harbour'?");
  EXPECT_EQ(ui.boxes[0].buttons, ui_buttons_yes_no);
  EXPECT_TRUE(dialog.isVisible());

  // A name that the tag store would turn into a listed one asks too; the new tag keeps the old
  // one's identifier.
  const tag harbour = tag_file_get_identifier(map_tag);
  ui.boxes.clear();
  dialog.edit()->setText("harbour.");
  ui.answers.push_back(ui_answer_yes);
  dialog.accept();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.chosenTag(), harbour);
}

TEST_F(Shell, TheNameEntryDialogRefusesAnEmptyName) {
  CNameEntryDlg dialog(frame, "squad");
  EXPECT_EQ(dialog.windowTitle(), "Enter the new name:");
  EXPECT_EQ(dialog.field(0)->maxLength(), 255);
  dialog.show();
  dialog.field(0)->clear();
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  dialog.field(0)->setText("first squad");
  dialog.accept();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.name(), "first squad");

  // A name is at most 255 bytes however it was typed.
  CNameEntryDlg accented(frame, std::string(2, '\xE9'));
  EXPECT_EQ(accented.field(0)->text(), QString(2, QChar(0xE9)));
  accented.field(0)->setText(QString(300, QChar(0xE9)));
  EXPECT_EQ(accented.name(), std::string(255, '\xE9'));
}

TEST_F(Shell, LocationAndShiftDialogsConvertCellsAndWholeCells) {
  world_point3d point = {1024, -256, 300};
  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Enter a location");
    EXPECT_EQ(edit(dialog, 1055)->text(), "2.00");
    EXPECT_EQ(edit(dialog, 1056)->text(), "-0.50");
    EXPECT_EQ(edit(dialog, 1020)->text(), "0.59");
    edit(dialog, 1055)->setText("1.999");
    edit(dialog, 1056)->setText("-0.001");
    edit(dialog, 1020)->setText("1e12");
    button(dialog, "ok")->click();
  });
  ASSERT_TRUE(LocationDialog(frame, &point));
  EXPECT_EQ(point.x, 1023);
  EXPECT_EQ(point.y, 0);
  EXPECT_EQ(point.z, INT32_MAX);

  int32_t shift_x = 0, shift_y = 0;
  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) {
    EXPECT_EQ(edit(dialog, 1061)->text(), "16");
    EXPECT_EQ(edit(dialog, 1062)->text(), "16");
    button(dialog, "ok")->click();
  });
  ASSERT_TRUE(ShiftDialog(frame, 16, 16, &shift_x, &shift_y));
  EXPECT_EQ(shift_x, -16);
  EXPECT_EQ(shift_y, 16);

  int16_t jitter = 10;
  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) {
    edit(dialog, 1060)->setText("0.5");
    button(dialog, "cancel")->click();
  });
  EXPECT_FALSE(JitterAmountDialog(frame, &jitter));
  EXPECT_EQ(jitter, 10);
}

TEST(ShellFields, TextIsReadLikeTheCLibraryDoes) {
  EXPECT_EQ(dialog_read_real("  +1.5xyz"), 1.5);
  EXPECT_EQ(dialog_read_real("abc"), 0.0);
  EXPECT_EQ(dialog_read_real("-.25"), -0.25);
  EXPECT_EQ(dialog_read_integer(" 42 cells"), 42);
  EXPECT_EQ(dialog_read_integer("-7"), -7);
  EXPECT_EQ(dialog_read_integer("99999999999"), INT32_MAX);
  EXPECT_EQ(dialog_read_integer("-99999999999999999999"), INT32_MIN);
  EXPECT_EQ(dialog_real_text(-1.0 / 512), "-0.00");
  EXPECT_EQ(world16_from_cells(100.0), 32767);
  EXPECT_EQ(world_from_cells(std::nan("")), 0);
}


// ---- New Map ----

// Runs `act` on the next modal dialog of that type once it is up, waiting out the one closing.
template <class Dialog>
void on_next_modal(const std::function<void(Dialog*)>& act, int tries_left = 200) {
  QTimer::singleShot(5, [act, tries_left] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog && dialog->isVisible()) return act(dialog);
    if (tries_left > 0) return on_next_modal<Dialog>(act, tries_left - 1);
    ADD_FAILURE() << "the expected dialog never came up";
  });
}

// A 256 x 256 8-bit Windows bitmap, written byte by byte; its path.
std::string write_new_map_bitmap(const std::string& folder) {
  std::vector<uint8_t> bytes;
  auto put = [&bytes](uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
  };
  const uint32_t pixels_at = 14 + 40 + 1024;
  put('B' | ('M' << 8), 2);
  put(pixels_at + 256 * 256, 4);
  put(0, 4);
  put(pixels_at, 4);
  for (uint32_t value : {40u, 256u, 256u}) put(value, 4);
  put(1, 2);
  put(8, 2);
  for (int field = 0; field < 6; ++field) put(0, 4);
  for (uint32_t i = 0; i < 256; ++i) put(i | (i << 8) | (i << 16), 4);
  for (int pixel = 0; pixel < 256 * 256; ++pixel) bytes.push_back(uint8_t(pixel % 7));
  const std::string path = folder + "/meadow.bmp";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return path;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return path;
}

class ShellNewMap : public Shell {
 protected:
  // Types the name into the naming dialog and saves it.
  static void name_it(const char* name) {
    on_next_modal<CNamingDlg>([name](CNamingDlg* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Name the mesh:");
      EXPECT_EQ(dialog->edit()->text(), "new mesh");
      dialog->edit()->setText(name);
      button(dialog, "ok")->click();
    });
  }
  // Picks "water" in the media choice, or cancels it.
  static void choose_media(bool pick) {
    on_next_modal<CTagSelectionDlg>([pick](CTagSelectionDlg* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Select the media type:");
      const auto items = dialog->list()->findItems("water", Qt::MatchExactly);
      ASSERT_EQ(items.size(), 1);
      dialog->list()->setCurrentItem(items[0]);
      button(dialog, pick ? "ok" : "cancel")->click();
    });
  }
  int32_t tag_count() const {
    return tag_file_count(MESH_DEFINITION_GROUP_TAG) + tag_file_count(COLLECTION_DEFINITION_GROUP_TAG);
  }
};

// Nothing is created or replaced until every answer is in, even after Yes to replacing a map.
TEST_F(ShellNewMap, CancellingAnyStepChangesNothing) {
  const std::vector<uint8_t> harbour = store.tag_bytes(map_tag);
  const int32_t tags_before = tag_count();
  const QString folder_before = QDir::currentPath();
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    ui.boxes.clear();
    ui.open_requests.clear();
    if (step == 0) {
      on_next_modal<CNamingDlg>([](CNamingDlg* dialog) { button(dialog, "cancel")->click(); });
    } else {
      // A new name, then a replacement agreed to.
      if (step == 2) ui.answers = {ui_answer_yes};
      name_it(step == 1 ? "meadow" : "harbour");
      choose_media(step == 2);
      ui.open_files = {std::nullopt};
    }
    ASSERT_TRUE(DispatchMenuCommand(COMMAND_NEW_MAP));
    EXPECT_EQ(ui.boxes.size(), step == 2 ? 1u : 0u);
    EXPECT_EQ(ui.open_requests.size(), step == 2 ? 1u : 0u);
    EXPECT_FALSE(map_is_open());
    EXPECT_EQ(tag_count(), tags_before);
    EXPECT_EQ(store.tag_bytes(tag_file_find(MESH_DEFINITION_GROUP_TAG, tag_file_get_identifier(map_tag))), harbour);
    EXPECT_EQ(QDir::currentPath(), folder_before);
    EXPECT_EQ(frame->windowTitle(), "Vellgrim");
  }
  ASSERT_EQ(ui.open_requests.size(), 1u);
  EXPECT_EQ(ui.open_requests[0].title, "Select a bitmap for the new map");
  EXPECT_EQ(ui.open_requests[0].filter, "Bitmap Files|*.BMP *.bmp");
}

TEST_F(ShellNewMap, AFullRunMakesAndOpensTheMapLikeOpenMap) {
  name_it("  meadow ");
  choose_media(true);
  ui.open_files = {write_new_map_bitmap(store.folder().path())};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_NEW_MAP));
  EXPECT_TRUE(ui.boxes.empty()) << (ui.boxes.empty() ? "" : ui.boxes[0].text);
  ASSERT_TRUE(map_is_open());
  EXPECT_STREQ(map_name(), "meadow");
  EXPECT_EQ(mesh_globals.header->media_tag, store.media_tag());
  EXPECT_EQ(frame->windowTitle(), "mesh:meadow");
  EXPECT_TRUE(shell.windows[_shell_window_tools]->isVisible());
  EXPECT_TRUE(shell.windows[_shell_window_overhead]->isVisible());
  EXPECT_FALSE(IsMapModified());
  EXPECT_FALSE(AreShadowMapsChanged());
  EXPECT_TRUE(enabled(COMMAND_CLOSE_MAP));
  EXPECT_FALSE(enabled(COMMAND_NEW_MAP));
}

// The naming dialog asks about the replacement; New Map does not ask a second time.
TEST_F(ShellNewMap, ReplacingAMapAsksOnce) {
  const tag harbour = tag_file_get_identifier(map_tag);
  ui.answers = {ui_answer_yes};
  name_it("harbour");
  choose_media(true);
  ui.open_files = {write_new_map_bitmap(store.folder().path())};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_NEW_MAP));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Are you sure you want to replace 'harbour'?");
  ASSERT_TRUE(map_is_open());
  EXPECT_EQ(frame->windowTitle(), "mesh:harbour");
  EXPECT_EQ(tag_file_get_identifier(tag_file_find(MESH_DEFINITION_GROUP_TAG, harbour)), harbour);
  EXPECT_EQ(mesh_globals.header->marker_count, 0);
}

// A refused bitmap ends the command with its message and no map.
TEST_F(ShellNewMap, ARefusedBitmapLeavesNoMapAndNoWindows) {
  const int32_t tags_before = tag_count();
  name_it("meadow");
  choose_media(true);
  const std::string text_file = store.folder().path() + "/notes.bmp";
  FILE* file = std::fopen(text_file.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("not a picture at all, but long enough to have a header.........", file);
  std::fclose(file);
  ui.open_files = {text_file};
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_NEW_MAP));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Error");
  EXPECT_FALSE(map_is_open());
  EXPECT_EQ(tag_count(), tags_before);
  EXPECT_FALSE(shell.windows[_shell_window_overhead]->isVisible());
}

// An idle editor draws nothing: a pass whose tick changed nothing leaves the screen alone; a
// moving camera draws a new frame, and the view shows it.
TEST_F(Shell, TheVisualViewDrawsOnlyWhenWhatItShowsChanged) {
  open_harbour();
  input_shutdown();  // the test makes the ticks itself
  input_flush();
  keyboard_release_all();
  shell.application_active = 1;
  input_sample(nullptr);
  ASSERT_TRUE(main_loop_pass(&loop));
  uint16_t* pixels = screen_get_pixels();
  ASSERT_NE(pixels, nullptr);
  const uint16_t sky = pixels[0];
  pixels[0] = 0x1234;
  input_sample(nullptr);
  ASSERT_TRUE(main_loop_pass(&loop));
  EXPECT_EQ(pixels[0], 0x1234);  // nothing changed, nothing drawn
  keyboard_set_key(_key_a, true);  // turning
  input_sample(nullptr);
  ASSERT_TRUE(main_loop_pass(&loop));
  keyboard_release_all();
  EXPECT_EQ(pixels[0], sky);
  const QImage view = frame->visualView()->grab().toImage();
  const uint16_t shown = screen_pixel(uint16_t(view.pixelColor(0, 0).red() << 8),
                                      uint16_t(view.pixelColor(0, 0).green() << 8),
                                      uint16_t(view.pixelColor(0, 0).blue() << 8));
  EXPECT_EQ(shown, sky);
}

}  // namespace

namespace {

// The Shadow Map commands: a refusal is shown with its reason and changes nothing; No Shadows is a
// change that Save writes with the shadow maps.
TEST_F(Shell, ShadowMapCommandsShowRefusalsAndMarkTheirChanges) {
  open_harbour();
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_BASIC_LIGHTING));  // the store's lighting is all zeros
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Error");
  EXPECT_EQ(ui.boxes[0].text, "couldn't compute Basic Lighting: mesh lighting missing.");
  EXPECT_FALSE(IsMapModified());
  EXPECT_FALSE(AreShadowMapsChanged());

  ASSERT_TRUE(DispatchMenuCommand(COMMAND_NO_SHADOWS));
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_TRUE(AreShadowMapsChanged());
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_UNPROTECT_ALL_SUBMESHES));
  EXPECT_TRUE(IsMapModified());
  EXPECT_TRUE(enabled(COMMAND_SAVE_MAP));
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SAVE_MAP));
  EXPECT_FALSE(AreShadowMapsChanged());
  EXPECT_FALSE(IsMapModified());
}

// ---- the Maps menu's images and Shift Mesh & Markers ----

TEST_F(Shell, EveryWholeMapExportAsksWhereWithItsTitleAndWritesTheImage) {
  open_harbour();
  struct expected_export {
    int32_t command;
    const char* title;
    const char* untitled;
  };
  const expected_export exports[] = {
      {COMMAND_EXPORT_COLOR_MAP, "Save color map as:", "Untitled Color Map"},
      {COMMAND_EXPORT_SHADOW_MAP, "Save shadow map as:", "Untitled Shadow Map"},
      {COMMAND_EXPORT_DISPLACEMENT_MAP, "Save displacement map as:", "Untitled Displacement Map"},
      {COMMAND_EXPORT_WATER_LEVEL, "Save water level map as:", "Untitled Water Level Map"},
      {COMMAND_EXPORT_TERRAIN_MAP, "Save terrain map as:", "Untitled Terrain Map"},
      {COMMAND_EXPORT_REFLECTION_MAP, "Save reflection map as:", "Untitled Reflection Map"},
  };
  for (const expected_export& e : exports) {
    const std::string path = store.folder().path() + "/" + e.untitled + ".bmp";
    ui.save_files.push_back(path);
    ASSERT_TRUE(DispatchMenuCommand(e.command)) << e.title;
    ASSERT_FALSE(ui.save_requests.empty());
    EXPECT_EQ(ui.save_requests.back().title, e.title);
    EXPECT_NE(ui.save_requests.back().suggested.find(e.untitled), std::string::npos) << e.title;
    EXPECT_EQ(QFileInfo(QString::fromStdString(path)).size(), 1078 + 256 * 256) << e.title;
  }
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(IsMapModified());
  // A cancelled save dialog writes nothing.
  ui.save_files.push_back(std::nullopt);
  DispatchMenuCommand(COMMAND_EXPORT_TERRAIN_MAP);
  EXPECT_EQ(ui.save_requests.size(), 7u);
}

TEST_F(Shell, ImportsAskForABitmapAndApplyItToTheMap) {
  open_harbour();
  const std::string path = store.folder().path() + "/terrain.bmp";
  ui.save_files.push_back(path);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_EXPORT_TERRAIN_MAP));
  mesh_edit_cell(4, 4)->terrain_and_flags = uint16_t((mesh_edit_cell(4, 4)->terrain_and_flags & 0xFF00) | 0x99);
  ui.open_files.push_back(path);
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_IMPORT_TERRAIN_MAP));
  ASSERT_EQ(ui.open_requests.size(), 1u);
  EXPECT_EQ(ui.open_requests[0].title, "Select a bitmap to import");
  EXPECT_EQ(mesh_edit_cell(4, 4)->terrain_and_flags & 0xFF, 0x66);
  EXPECT_TRUE(IsMapModified());
  EXPECT_TRUE(enabled(COMMAND_SAVE_MAP));
  // The reflection import has its own title; a refused file says why in an "Error" box.
  const std::string text_file = store.folder().path() + "/not a bitmap.bmp";
  FILE* file = std::fopen(text_file.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("hello, this is not a bitmap at all, but it is long enough to have a header of sorts......", file);
  std::fclose(file);
  ui.open_files.push_back(text_file);
  DispatchMenuCommand(COMMAND_IMPORT_REFLECTION_MAP);
  EXPECT_EQ(ui.open_requests.back().title, "Select a bitmap for the new map");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Error");
  EXPECT_EQ(ui.boxes[0].text, text_file + " is not a valid bitmap file!");
}

TEST_F(Shell, ShiftMeshAndMarkersMovesTheCellsByTheDialogsAmount) {
  open_harbour();
  mesh_edit_cell(3, 3)->ground_height = 300;
  with_modal<CFieldsDlg>([](CFieldsDlg* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Enter the shift amount");
    EXPECT_EQ(edit(dialog, 1061)->text(), "16");
    EXPECT_EQ(edit(dialog, 1062)->text(), "16");
    edit(dialog, 1061)->setText("-2");
    edit(dialog, 1062)->setText("1");
    button(dialog, "ok")->click();
  });
  ASSERT_TRUE(DispatchMenuCommand(COMMAND_SHIFT_MESH_AND_MARKERS));
  EXPECT_EQ(mesh_edit_cell(5, 4)->ground_height, 300);  // x by -dx, y by dy
  EXPECT_EQ(mesh_edit_cell(3, 3)->ground_height, 0);
  EXPECT_TRUE(IsMapModified());
}

}  // namespace

namespace {

// The Submesh tool's pop-up carries the submesh's own images: an export chosen there writes one
// 256 x 256 bitmap of that submesh.
TEST_F(Shell, TheShadowToolPopupExportsTheSubmeshUnderThePoint) {
  open_harbour();
  const std::string path = store.folder().path() + "/submesh colours.bmp";
  ui.save_files.push_back(path);
  QTimer::singleShot(0, [] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), "Shadow Tool");
    QAction* chosen = nullptr;
    for (QAction* group : menu->actions())
      if (group->menu() && group->text() == "Color Map")
        for (QAction* item : group->menu()->actions())
          if (item->text() == "Export...") chosen = item;
    ASSERT_NE(chosen, nullptr);
    // A chosen action ends the pop-up's loop with that action as the answer.
    chosen->trigger();
    menu->close();
  });
  ShowShadowToolPopup(frame, QPoint(10, 10), 100, 100);
  ASSERT_EQ(ui.save_requests.size(), 1u);
  EXPECT_EQ(ui.save_requests[0].title, "Save color map as:");
  EXPECT_EQ(QFileInfo(QString::fromStdString(path)).size(), 1078 + 256 * 256);
}

}  // namespace
