// The overhead view: the whole open map from above, with the editor's overlays. One window for the
// program's life, created hidden at start-up. The picture itself is drawn by view/overhead_image;
// this window keeps the zoom, shows the picture and turns mouse input into observer moves and
// rectangle selections.
#pragma once

#include <QWidget>

#include <cstdint>

#include "cseries/value_types.h"

class COverheadFrameWnd : public QWidget {
  Q_OBJECT
 public:
  COverheadFrameWnd();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// Creates the window ("Overhead View", caption and minimise box only) at the saved position.
QWidget* CreateOverheadView();
// After a map has been opened: the zoom that fits the desktop, its limits, the background.
void ResetOverheadForMap();
// Pixels per 64 world units, and the limits the Windows menu's zoom commands keep to. A new zoom
// resizes the window and redraws the background.
void SetOverheadZoom(float zoom);
float GetOverheadZoom();
float GetOverheadMinimumZoom();
float GetOverheadMaximumZoom();
// Composes the overlays and repaints; after every frame of the visual view.
void RedrawOverhead();

// Colours as 0x00BBGGRR; the observer's disc and heading, and the sound sources and map-action points.
void SetObserverColor(uint32_t color);
uint32_t GetObserverColor();
void SetPointColor(uint32_t color);
uint32_t GetPointColor();

// The points of the map action being edited, drawn while the Map Actions tool is current.
void ClearOverheadPoints();
void AddOverheadPoint(world_point2d point);
void SetOverheadPointsConnected(bool connected);
