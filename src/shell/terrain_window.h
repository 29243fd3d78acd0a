// The terrain types window: the sixteen terrain types with their colour swatches, from which the
// Terrain Painting tool takes the type it paints. Created hidden at start-up.
#pragma once

#include <QWidget>

class CTerrainWnd : public QWidget {
  Q_OBJECT
 public:
  CTerrainWnd();
};

// "Terrain Types", caption and minimise box only, at the saved terrain-window position.
QWidget* CreateTerrainWindow();
