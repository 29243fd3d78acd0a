#include "shell/tool_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

#include "shell/shell.h"

namespace {

// Channels that the 16-bit screen shows exactly.
const QColor kInk(40, 40, 40);
const QColor kGreen(0, 136, 0);
const QColor kBrown(136, 80, 24);
const QColor kWater(0, 96, 208);
const QColor kRed(200, 0, 0);
const QColor kYellow(232, 184, 0);
const QColor kGrey(128, 128, 128);

void pen(QPainter& p, const QColor& colour, double width = 1.5) {
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
}

void fill(QPainter& p, const QColor& colour) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
  pen(p, colour);
  p.drawLine(from, to);
  const QPointF d = (to - from) / std::max(1.0, QLineF(from, to).length());
  const QPointF n(-d.y(), d.x());
  fill(p, colour);
  p.drawPolygon(QPolygonF({to + d * 1.5, to - d * 3 + n * 2.5, to - d * 3 - n * 2.5}));
}

void draw(QPainter& p, int32_t index) {
  switch (index) {
    case 0:  // Preview: an eye
      pen(p, kInk);
      p.drawEllipse(QRectF(2, 5, 18, 9));
      fill(p, kWater);
      p.drawEllipse(QPointF(11, 9.5), 3, 3);
      break;
    case 1:  // Select Vertex: a point in cross-hairs
      pen(p, kInk, 1);
      p.drawLine(QPointF(11, 1), QPointF(11, 7));
      p.drawLine(QPointF(11, 12), QPointF(11, 18));
      p.drawLine(QPointF(3, 9.5), QPointF(8, 9.5));
      p.drawLine(QPointF(14, 9.5), QPointF(19, 9.5));
      fill(p, kRed);
      p.drawEllipse(QPointF(11, 9.5), 2.5, 2.5);
      break;
    case 2: {  // Height Painter: a brush raising a hill
      fill(p, kGreen);
      QPainterPath hill;
      hill.moveTo(1, 18);
      hill.cubicTo(6, 18, 7, 9, 11, 9);
      hill.cubicTo(15, 9, 16, 18, 21, 18);
      hill.closeSubpath();
      p.drawPath(hill);
      arrow(p, QPointF(11, 8), QPointF(11, 2), kRed);
      break;
    }
    case 3:  // Select Cell: a grid with one cell chosen
      fill(p, kYellow);
      p.drawRect(QRectF(8, 7, 6, 5));
      pen(p, kInk, 1);
      for (int i = 0; i <= 3; ++i) {
        p.drawLine(QPointF(2 + 6 * i, 2), QPointF(2 + 6 * i, 17));
        p.drawLine(QPointF(2, 2 + 5 * i), QPointF(20, 2 + 5 * i));
      }
      break;
    case 4:  // Submesh: four large squares, one shaded
      fill(p, kGrey);
      p.drawRect(QRectF(3, 2, 8, 7));
      pen(p, kInk, 1.5);
      p.drawRect(QRectF(3, 2, 16, 15));
      p.drawLine(QPointF(11, 2), QPointF(11, 17));
      p.drawLine(QPointF(3, 9.5), QPointF(19, 9.5));
      break;
    case 5:  // Place Scenery: a tree
      fill(p, kBrown);
      p.drawRect(QRectF(10, 13, 3, 5));
      fill(p, kGreen);
      p.drawPolygon(QPolygonF({QPointF(11.5, 1), QPointF(18, 14), QPointF(5, 14)}));
      break;
    case 6:  // Place Model: a house
      fill(p, kBrown);
      p.drawRect(QRectF(5, 9, 12, 9));
      fill(p, kRed);
      p.drawPolygon(QPolygonF({QPointF(11, 1), QPointF(20, 10), QPointF(2, 10)}));
      fill(p, kInk);
      p.drawRect(QRectF(10, 13, 3, 5));
      break;
    case 7:  // Place Unit: a soldier
      fill(p, kInk);
      p.drawEllipse(QPointF(11, 4), 2.5, 2.5);
      pen(p, kInk, 2);
      p.drawLine(QPointF(11, 7), QPointF(11, 13));
      p.drawLine(QPointF(11, 13), QPointF(7, 18));
      p.drawLine(QPointF(11, 13), QPointF(15, 18));
      p.drawLine(QPointF(6, 9), QPointF(16, 9));
      pen(p, kGrey, 1);
      p.drawLine(QPointF(17, 2), QPointF(17, 14));  // a spear
      break;
    case 8:  // Place Observer: a camera
      fill(p, kInk);
      p.drawRect(QRectF(2, 6, 13, 9));
      p.drawPolygon(QPolygonF({QPointF(15, 10.5), QPointF(20, 6), QPointF(20, 15)}));
      fill(p, kWater);
      p.drawEllipse(QPointF(8.5, 10.5), 2.5, 2.5);
      break;
    case 9:  // Terrain Painting: three swatches of ground
      fill(p, kGreen);
      p.drawRect(QRectF(2, 3, 6, 13));
      fill(p, kBrown);
      p.drawRect(QRectF(8, 3, 6, 13));
      fill(p, kYellow);
      p.drawRect(QRectF(14, 3, 6, 13));
      pen(p, kInk, 1);
      p.drawRect(QRectF(2, 3, 18, 13));
      break;
    case 10:  // Place Projectile: an arrow in flight
      arrow(p, QPointF(2, 16), QPointF(18, 4), kInk);
      pen(p, kRed, 1);
      p.drawLine(QPointF(2, 16), QPointF(2, 12));
      p.drawLine(QPointF(2, 16), QPointF(6, 16));
      break;
    case 11:  // Place Sound Source: a loudspeaker with waves
      fill(p, kInk);
      p.drawPolygon(QPolygonF({QPointF(2, 7), QPointF(6, 7), QPointF(11, 2), QPointF(11, 17), QPointF(6, 12),
                               QPointF(2, 12)}));
      pen(p, kInk, 1.2);
      p.drawArc(QRectF(9, 5, 7, 9), -60 * 16, 120 * 16);
      p.drawArc(QRectF(9, 2, 11, 15), -60 * 16, 120 * 16);
      break;
    case 12:  // Map Actions: a script, lines on a page
      fill(p, QColor(248, 240, 208));
      p.drawRect(QRectF(4, 1, 14, 17));
      pen(p, kInk, 1);
      p.drawRect(QRectF(4, 1, 14, 17));
      for (int i = 0; i < 4; ++i) p.drawLine(QPointF(7, 5 + 3.5 * i), QPointF(i % 2 ? 12 : 15, 5 + 3.5 * i));
      break;
    case 13:  // Place Local Projectile Group: a burst of sparks
      fill(p, kYellow);
      p.drawEllipse(QPointF(11, 9.5), 3, 3);
      pen(p, kRed, 1.2);
      for (int i = 0; i < 8; ++i) {
        const double a = i * 3.14159265 / 4;
        p.drawLine(QPointF(11 + 4.5 * std::cos(a), 9.5 + 4.5 * std::sin(a)),
                   QPointF(11 + 8.5 * std::cos(a), 9.5 + 8 * std::sin(a)));
      }
      break;
    case 14:  // Place Model Animation: a windmill, its sails turning
      fill(p, kBrown);
      p.drawPolygon(QPolygonF({QPointF(8, 18), QPointF(14, 18), QPointF(12.5, 9), QPointF(9.5, 9)}));
      pen(p, kInk, 1.5);
      p.drawLine(QPointF(4, 3), QPointF(18, 15));
      p.drawLine(QPointF(18, 3), QPointF(4, 15));
      arrow(p, QPointF(16, 1.5), QPointF(20, 5.5), kRed);
      break;
    case 15:  // Reflection Painting: waves of water
      pen(p, kWater, 1.8);
      for (int row = 0; row < 3; ++row) {
        QPainterPath wave;
        const double y = 5 + 5 * row;
        wave.moveTo(2, y);
        wave.cubicTo(5, y - 3, 8, y + 3, 11, y);
        wave.cubicTo(14, y - 3, 17, y + 3, 20, y);
        p.drawPath(wave);
      }
      break;
    default:
      break;
  }
}

}  // namespace

QIcon ToolIcon(int32_t index) {
  if (index < 0 || index >= NUMBER_OF_TOOLS) return QIcon();
  QPixmap face(22, 19);
  face.fill(Qt::transparent);
  QPainter painter(&face);
  painter.setRenderHint(QPainter::Antialiasing);
  draw(painter, index);
  painter.end();
  return QIcon(face);
}
