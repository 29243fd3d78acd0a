// The overhead view: the whole open map from above, with the editor's overlays. One window for the
// program's life, created hidden at start-up.
#pragma once

#include <QWidget>

class COverheadFrameWnd : public QWidget {
  Q_OBJECT
 public:
  COverheadFrameWnd();
};

// Creates the window ("Overhead View", caption and minimise box only) at the saved position.
QWidget* CreateOverheadView();
// After a map has been opened.
void ResetOverheadForMap();
// Pixels per 64 world units, and the limits the Windows menu's zoom commands keep to.
void SetOverheadZoom(float zoom);
float GetOverheadZoom();
float GetOverheadMinimumZoom();
float GetOverheadMaximumZoom();
// Composes the overlays and repaints; after every frame of the visual view.
void RedrawOverhead();
