// The terrain types window: the sixteen terrain types with their colour swatches, from which the
// Terrain Painting tool takes the type it paints. Created hidden at start-up; shown while that
// tool is current.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <cstdint>

class CTerrainWnd : public QWidget {
  Q_OBJECT
 public:
  CTerrainWnd();

  enum { ROW_HEIGHT = 12, SWATCH_WIDTH = 30, TEXT_LEFT = 35 };
  // The list as drawn before the current row is inverted.
  const QImage& listImage() const { return list_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void buildList();

  int32_t largest_text_width_ = 0;
  int32_t row_height_ = ROW_HEIGHT;
  int32_t bitmap_width_ = 0, bitmap_height_ = 0;
  QImage list_;
};

// "Terrain Types", caption and minimise box only, at the saved terrain-window position.
QWidget* CreateTerrainWindow();

int32_t TerrainTypeCount();
// The type's name (at most 20 bytes), "" outside 0..15.
const char* TerrainTypeName(int32_t type);
int16_t CurrentTerrainType();
// The swatch colour of a type as the window shows it: each channel whitened by the type's
// whitening amount, and pure black shown white.
QColor terrain_window_swatch_color(int32_t type);
