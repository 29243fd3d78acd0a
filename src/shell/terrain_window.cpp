// The terrain types window: one row of 12 pixels per type, a colour swatch and the type's name;
// the current type's row is shown inverted, and a click on a paintable type's row makes it current.
#include "shell/terrain_window.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "map/mesh.h"
#include "shell/shell.h"
#include "tools/terrain_painter.h"

namespace {

struct terrain_color {
  uint16_t red, green, blue, whitening;
};

constexpr terrain_color terrain_colors[TERRAIN_TYPE_COUNT] = {
    {0, 0, 0xFFFF, 0x1FFF},           {0, 0, 0xB000, 0x1FFF},           {0, 0, 0x8000, 0x1FFF},
    {0, 0, 0x4000, 0x1FFF},           {0x8000, 0, 0, 0x8000},           {0xFFFF, 0, 0, 0x3000},
    {0, 0, 0, 0},                     {0xFFFF, 0xFFFF, 0, 0x8000},      {0x2000, 0x2000, 0x2000, 0x8000},
    {0x8000, 0x4000, 0, 0x8000},      {0xA000, 0xA000, 0xA000, 0x8000}, {0x2000, 0x7000, 0x2000, 0x8000},
    {0xFFFF, 0, 0xFFFF, 0},           {0, 0, 0, 0},                     {0, 0x8000, 0, 0x1FFF},
    {0, 0xFFFF, 0, 0x1FFF},
};

QString row_text(int32_t type) { return QString::fromLatin1(TerrainTypeName(type)) + QStringLiteral("  "); }

}  // namespace

int32_t TerrainTypeCount() { return TERRAIN_TYPE_COUNT; }

const char* TerrainTypeName(int32_t type) {
  return type >= 0 && type < TERRAIN_TYPE_COUNT ? terrain_type_name(int16_t(type)) : "";
}

int16_t CurrentTerrainType() { return terrain_painter_current_type(); }

QColor terrain_window_swatch_color(int32_t type) {
  if (type < 0 || type >= TERRAIN_TYPE_COUNT) return Qt::white;
  const terrain_color& color = terrain_colors[type];
  const uint32_t w = color.whitening, h = w * 255 >> 16;
  const auto channel = [&](uint16_t value) { return int(h + ((uint32_t(value >> 8) * (65536 - w)) >> 16)); };
  const int red = channel(color.red), green = channel(color.green), blue = channel(color.blue);
  if (red == 0 && green == 0 && blue == 0) return Qt::white;
  return QColor(red, green, blue);
}

CTerrainWnd::CTerrainWnd()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint) {
  setWindowTitle("Terrain Types");
  resize(100, 100);
  buildList();
  // The client area is exactly the list.
  setFixedSize(bitmap_width_, bitmap_height_);
}

void CTerrainWnd::buildList() {
  const QFont font = QGuiApplication::font();
  const QFontMetrics metrics(font);
  largest_text_width_ = 0;
  for (int32_t type = 0; type < TERRAIN_TYPE_COUNT; ++type)
    largest_text_width_ = std::max<int32_t>(largest_text_width_, metrics.horizontalAdvance(row_text(type)));
  bitmap_width_ = largest_text_width_ + TEXT_LEFT;
  bitmap_height_ = TERRAIN_TYPE_COUNT * row_height_;
  list_ = QImage(bitmap_width_, bitmap_height_, QImage::Format_RGB32);
  list_.fill(Qt::white);
  QPainter painter(&list_);
  painter.setFont(font);
  painter.setPen(Qt::black);
  for (int32_t type = 0; type < TERRAIN_TYPE_COUNT; ++type) {
    const int32_t top = type * row_height_;
    painter.drawText(QRect(TEXT_LEFT, top, bitmap_width_ - TEXT_LEFT, row_height_), Qt::AlignLeft | Qt::AlignVCenter,
                     row_text(type));
    painter.fillRect(QRect(0, top, SWATCH_WIDTH, row_height_), terrain_window_swatch_color(type));
  }
}

void CTerrainWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, list_);
  const int32_t type = CurrentTerrainType();
  if (type < 0 || type >= TERRAIN_TYPE_COUNT) return;
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.fillRect(QRect(TEXT_LEFT, type * row_height_, bitmap_width_ - TEXT_LEFT, row_height_), Qt::white);
}

void CTerrainWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int y = int(event->position().y());
  // Below the last row (the window may be taller than its list) or above the first: no type.
  if (y < 0 || y >= TERRAIN_TYPE_COUNT * row_height_) return;
  if (terrain_painter_set_current_type(y / row_height_)) update();
}

QWidget* CreateTerrainWindow() {
  auto* window = new CTerrainWnd;
  shell_place_window(window, _shell_window_terrain);
  return window;
}
