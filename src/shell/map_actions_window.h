// The map actions window: the map's scripting model as three lists (actions, parameters, values)
// with their buttons and the description of the selected parameter. A modeless dialog owned by the
// frame, created hidden at start-up and shown while the Map Actions tool is current. Every change
// it makes is an operation of tools/map_action_operations.h, so each is one step of the journal.
#pragma once

#include <QDialog>

#include <cstdint>

#include "cseries/value_types.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
struct render_view;

// Control identifiers of the window (the lists and buttons).
enum map_actions_control : int32_t {
  MAP_ACTIONS_LIST = 1082,
  MAP_ACTIONS_ADD = 1083,
  MAP_ACTIONS_DUPLICATE = 1084,
  MAP_ACTIONS_EDIT = 1085,
  MAP_ACTIONS_DELETE = 1086,
  MAP_ACTIONS_MOVE_UP = 1087,
  MAP_ACTIONS_MOVE_DOWN = 1088,
  MAP_ACTIONS_INDENT = 1098,
  MAP_ACTIONS_OUTDENT = 1099,
  MAP_ACTIONS_PARAMETER_GROUP = 1080,
  MAP_ACTIONS_PARAMETER_LIST = 1089,
  MAP_ACTIONS_PARAMETER_ADD = 1090,
  MAP_ACTIONS_PARAMETER_CUSTOM = 1091,
  MAP_ACTIONS_PARAMETER_EDIT = 1092,
  MAP_ACTIONS_PARAMETER_DELETE = 1093,
  MAP_ACTIONS_DESCRIPTION_GROUP = 1101,
  MAP_ACTIONS_DESCRIPTION = 1100,
  MAP_ACTIONS_ELEMENT_GROUP = 1081,
  MAP_ACTIONS_ELEMENT_LIST = 1094,
  MAP_ACTIONS_ELEMENT_ADD = 1095,
  MAP_ACTIONS_ELEMENT_EDIT = 1096,
  MAP_ACTIONS_ELEMENT_DELETE = 1097,
};

// Which lists a refresh rebuilds: the actions (and everything below), the parameters (and the
// elements), the elements.
enum map_actions_lists : uint32_t {
  MAP_ACTIONS_REBUILD_ACTIONS = 1,
  MAP_ACTIONS_REBUILD_PARAMETERS = 2,
  MAP_ACTIONS_REBUILD_ELEMENTS = 4,
};

// The window's selection, read by the tool modes. Action -1 is none and -2 several: then the block
// from first_selected, selected_count long. Rows of the action list are the model's used slots in
// order.
struct map_actions_window_state {
  int32_t selected_action = -1;
  int32_t first_selected = -1;
  int32_t selected_count = 0;
  int32_t selected_parameter = -1;
  int32_t selected_element = -1;
};
extern map_actions_window_state map_actions_selection;

enum map_action_pick_mode : int16_t {
  _pick_mode_none = -1,
  _pick_mode_markers = 0,
  _pick_mode_models = 1,
  _pick_mode_model_animations = 2,
  _pick_mode_points = 3,
  _pick_mode_facing = 4,
};

class CMapActionsDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CMapActionsDlg(QWidget* frame);

  // Enter and Escape do nothing: the window never closes itself.
  void accept() override {}
  void reject() override {}

  QWidget* control(int32_t id) const;
  QListWidget* actionList() const { return actions_; }
  QListWidget* parameterList() const { return parameters_; }
  QListWidget* elementList() const { return elements_; }
  QLabel* description() const { return description_; }

  void refresh(uint32_t lists, bool keep);
  void updateButtons();

  // The buttons' work, also reached by double-clicks.
  void addAction();
  void editAction();
  void duplicateActions();
  void deleteActions();
  void moveActions(bool up);
  void indentActions(bool deeper);
  void addParameter(bool custom);
  void editParameter();
  void deleteParameter();
  void addElement();
  void editElement();
  void deleteElement();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void actionSelectionChanged();
  void parameterSelectionChanged();
  void elementSelectionChanged();
  void rebuildActions();
  void rebuildParameters();
  void rebuildElements();
  void restoreSelections(uint32_t lists);

  QListWidget* actions_;
  QListWidget* parameters_;
  QListWidget* elements_;
  QLabel* description_;
  QGroupBox* parameter_group_;
  QGroupBox* description_group_;
  QGroupBox* element_group_;
  bool rebuilding_ = false;
};

// At start-up: the window, hidden, at the saved map-actions-window position.
QWidget* CreateMapActionsWindow(QWidget* frame);
CMapActionsDlg* GetMapActionsWindow();
void RefreshMapActionsWindow(uint32_t lists, bool keep);
// Rebuilds all three lists without keeping selections and shows the window.
void ShowMapActionsWindow();

// The selected action's slot when exactly one is selected, -1 otherwise.
int32_t map_actions_window_action_slot();
// The slot of a row of the action list, -1 past its end.
int32_t map_actions_window_row_slot(int32_t row);

// ---- the Map Actions tool (map_action_picks.cpp) ----

// From the selected parameter's edit class; none without one selected action and a parameter.
int16_t MapActionsPickMode();
// Each answers the element it selected or added (-1 for none) and then refreshes the element list
// with it selected; a change marks the map modified. A marker of another type than the parameter
// refers to is refused with a message on the visual view.
int32_t PickModeAddMarker(int32_t marker_index, bool alt);
// A model (or model animation) by its object index.
int32_t PickModeAddModel(int32_t object_index, bool animation, bool alt);
int32_t PickModeAddPoint(world_point2d point, bool alternative);
int32_t PickModeSetFacing(uint16_t facing, bool alternative);
// The message a marker of the wrong type gets ("A %s value refers to another kind of marker.").
inline constexpr char MAP_ACTIONS_WRONG_MARKER_MESSAGE[] = "A %s value refers to another kind of marker.";
// Points within this many world units of a pick are the same point.
inline constexpr int32_t MAP_ACTIONS_POINT_RADIUS = 50;

// The tool's overlay: the selected parameter's objects or points on the visual view, and the point
// list of the overhead view.
void DrawMapActionOverlay(render_view* view);
// Changes whenever the overlay would look different; the window calls MapActionOverlayChanged
// after every rebuild.
uint64_t MapActionOverlayStamp();
void MapActionOverlayChanged();
// The Map Actions tool's mouse in view-buffer coordinates (the tool modes hand tool 12's input
// here): a press picks by the pick mode and acts on the hit, or arms a facing drag that the held
// button turns and the release stores.
void MapActionsToolPress(uint32_t time, uint16_t modifiers, int16_t x, int16_t y);
void MapActionsToolHeld(int32_t x, int32_t y);
void MapActionsToolRelease(uint16_t modifiers);
