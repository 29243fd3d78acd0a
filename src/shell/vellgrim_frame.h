// The main window: its client area is the visual view (the rendered picture of the open map), it
// owns the menu bar and the accelerators, receives every menu command and hands mouse and key
// input in the visual view to the current tool.
#pragma once

#include <QMainWindow>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

class QAction;
class QMenu;

// The client area: 640 x 416, grey without a map, the screen's frame with one.
class CVisualView : public QWidget {
  Q_OBJECT
 public:
  explicit CVisualView(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

class CVellgrimFrameWnd : public QMainWindow {
  Q_OBJECT
 public:
  CVellgrimFrameWnd();

  CVisualView* visualView() const { return visual_view_; }
  // The menu item of a command, none for an identifier without one.
  QAction* menuAction(int32_t id) const;
  // The top-level menus in menu-bar order (File is 0).
  QMenu* topLevelMenu(int position) const;

  // A command chosen from the menu or by an accelerator waits here for the main loop, which runs
  // one per pass so that each command is followed by an engine step.
  void postCommand(int32_t id);
  // The oldest waiting command, 0 when none.
  int32_t takeCommand();
  bool hasCommand() const { return !commands_.empty(); }

  // Set while a mouse button that went down in the visual view (with a map open) is held.
  bool mouseCaptured() const { return mouse_captured_; }
  void setMouseCaptured(bool captured) { mouse_captured_ = captured; }

  // The main loop closes the frame for good when it ends; any other close is the Quit command.
  void closeForExit();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void buildAccelerators();
  void acceleratorTriggered(int32_t id);

  bool mouse_captured_ = false;
  QWidget* scenery_window_ = nullptr;

  CVisualView* visual_view_ = nullptr;
  std::unordered_map<int32_t, QAction*> actions_;
  std::unordered_map<int32_t, int> top_positions_;  // of each item's top-level menu
  std::vector<QMenu*> top_level_menus_;
  std::deque<int32_t> commands_;
  bool closing_for_exit_ = false;
};

// The low byte of the virtual key code of a key event (letters and digits as their characters,
// the arrows, Delete, the keypad, the function keys, the backquote key).
uint8_t shell_virtual_key(int qt_key, bool keypad);
