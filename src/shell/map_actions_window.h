// The map actions window: the map's scripting model as three lists (actions, parameters, values).
// A modeless dialog owned by the frame, created hidden at start-up.
#pragma once

#include <QDialog>

class CMapActionsDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CMapActionsDlg(QWidget* frame);

  // Enter and Escape do nothing: the window never closes itself.
  void accept() override {}
  void reject() override {}
};

// "Map Actions", at the saved map-actions-window position.
QWidget* CreateMapActionsWindow(QWidget* frame);
