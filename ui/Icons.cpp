#include "ui/Icons.h"

#include <functional>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

// The program's icon is compiled into this static library; its resources must be registered
// by hand or the linker drops them (Q_INIT_RESOURCE works only outside a namespace).
static void RegisterProgramIcon() {
  Q_INIT_RESOURCE(icons);
}

namespace brevanto::ui {

namespace {

using Painter = std::function<void(QPainter&)>;

// Pictograms are drawn in a 32 x 32 box and scaled to every size the icon offers.
QIcon Draw(const Painter& paint) {
  QIcon icon;
  for (int size : {16, 18, 22, 24, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    paint(p);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

void Page(QPainter& p, bool lines) {
  QPainterPath sheet;
  sheet.moveTo(7, 3);
  sheet.lineTo(19, 3);
  sheet.lineTo(26, 10);
  sheet.lineTo(26, 29);
  sheet.lineTo(7, 29);
  sheet.closeSubpath();
  p.setPen(QPen(QColor(90, 100, 115), 1.5));
  p.setBrush(QColor(250, 251, 253));
  p.drawPath(sheet);
  p.setBrush(QColor(215, 222, 232));
  p.drawPolygon(QPolygonF({QPointF(19, 3), QPointF(19, 10), QPointF(26, 10)}));
  if (lines) {
    p.setPen(QPen(QColor(120, 140, 170), 1.6));
    for (int y = 14; y <= 25; y += 4) p.drawLine(QPointF(11, y), QPointF(22, y));
  }
}

void Badge(QPainter& p, const QColor& color) {
  p.setPen(QPen(Qt::white, 1.5));
  p.setBrush(color);
  p.drawEllipse(QRectF(16, 16, 15, 15));
}

void Plus(QPainter& p) {
  Badge(p, QColor(46, 160, 67));
  p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(23.5, 19.5), QPointF(23.5, 27.5));
  p.drawLine(QPointF(19.5, 23.5), QPointF(27.5, 23.5));
}

void Pencil(QPainter& p) {
  p.save();
  p.translate(22, 20);
  p.rotate(45);
  p.setPen(QPen(QColor(120, 70, 20), 1.2));
  p.setBrush(QColor(245, 166, 35));
  p.drawRect(QRectF(-3, -13, 6, 18));
  p.setBrush(QColor(240, 210, 170));
  p.drawPolygon(QPolygonF({QPointF(-3, 5), QPointF(3, 5), QPointF(0, 10)}));
  p.restore();
}

void Cross(QPainter& p, const QRectF& box, const QColor& color, qreal width) {
  p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(box.topLeft(), box.bottomRight());
  p.drawLine(box.topRight(), box.bottomLeft());
}

void Triangle(QPainter& p, qreal left, qreal width, const QColor& color) {
  p.setPen(QPen(color.darker(140), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(color);
  p.drawPolygon(QPolygonF({QPointF(left, 5), QPointF(left + width, 16), QPointF(left, 27)}));
}

void Gear(QPainter& p) {
  QPainterPath gear;
  const QPointF c(16, 16);
  for (int i = 0; i < 16; ++i) {
    const qreal angle = i * M_PI / 8;
    const qreal r = i % 2 == 0 ? 14.0 : 10.5;
    const QPointF a = c + QPointF(r * qCos(angle - 0.17), r * qSin(angle - 0.17));
    const QPointF b = c + QPointF(r * qCos(angle + 0.17), r * qSin(angle + 0.17));
    if (i == 0)
      gear.moveTo(a);
    else
      gear.lineTo(a);
    gear.lineTo(b);
  }
  gear.closeSubpath();
  gear.addEllipse(c, 4.5, 4.5);
  p.setPen(QPen(QColor(70, 78, 90), 1.3));
  p.setBrush(QColor(150, 160, 175));
  p.drawPath(gear);
}

void Grid(QPainter& p) {
  p.setPen(QPen(QColor(60, 90, 140), 1.3));
  p.setBrush(QColor(120, 165, 225));
  for (int row = 0; row < 2; ++row) {
    for (int col = 0; col < 2; ++col)
      p.drawRoundedRect(QRectF(4 + col * 13, 4 + row * 13, 11, 11), 2, 2);
  }
}

void Sign(QPainter& p, const QColor& color, const QString& mark, bool triangle) {
  p.setPen(QPen(color.darker(140), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(color);
  if (triangle) {
    p.drawPolygon(QPolygonF({QPointF(16, 3), QPointF(30, 28), QPointF(2, 28)}));
  } else {
    p.drawEllipse(QRectF(3, 3, 26, 26));
  }
  QFont font;
  font.setBold(true);
  font.setPixelSize(18);
  p.setFont(font);
  p.setPen(triangle ? Qt::black : Qt::white);
  p.drawText(QRectF(0, triangle ? 8 : 3, 32, 24), Qt::AlignCenter, mark);
}

struct ThemedIcon {
  const char* themeName;
  Painter paint;
};

ThemedIcon Lookup(IconRole role) {
  switch (role) {
    case IconRole::Program: break;  // drawn once, as a file: see ProgramIcon
    case IconRole::NewTask:
      return {"document-new", [](QPainter& p) {
                Page(p, false);
                Plus(p);
              }};
    case IconRole::EditTask:
      return {"document-edit", [](QPainter& p) {
                Page(p, true);
                Pencil(p);
              }};
    case IconRole::DeleteTask:
      return {"edit-delete",
              [](QPainter& p) { Cross(p, QRectF(7, 7, 18, 18), QColor(205, 45, 45), 5); }};
    case IconRole::Properties:
      return {"document-properties", [](QPainter& p) {
                Page(p, true);
                Badge(p, QColor(38, 110, 190));
                p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(23.5, 22.5), QPointF(23.5, 27.5));
                p.drawPoint(QPointF(23.5, 19.5));
              }};
    case IconRole::Start:
      return {"media-playback-start", [](QPainter& p) { Triangle(p, 8, 18, QColor(46, 160, 67)); }};
    case IconRole::Stop:
      return {"media-playback-stop", [](QPainter& p) {
                p.setPen(QPen(QColor(150, 30, 30), 1.4));
                p.setBrush(QColor(210, 50, 50));
                p.drawRoundedRect(QRectF(7, 7, 18, 18), 2.5, 2.5);
              }};
    case IconRole::RunNow:
      return {"media-seek-forward", [](QPainter& p) {
                Triangle(p, 3, 13, QColor(240, 150, 30));
                Triangle(p, 16, 13, QColor(240, 150, 30));
              }};
    case IconRole::ViewLog: return {"text-x-generic", [](QPainter& p) { Page(p, true); }};
    case IconRole::Options: return {"preferences-system", Gear};
    case IconRole::ViewMode: return {"view-list-icons", Grid};
    case IconRole::General:
      return {"dialog-information", [](QPainter& p) { Sign(p, QColor(38, 110, 190), "i", false); }};
    case IconRole::Warning:
      return {"dialog-warning", [](QPainter& p) { Sign(p, QColor(245, 190, 40), "!", true); }};
    case IconRole::Error:
      return {"dialog-error",
              [](QPainter& p) { Sign(p, QColor(205, 45, 45), QString(QChar(0x00D7)), false); }};
  }
  return {nullptr, [](QPainter& p) { Page(p, false); }};
}

// The drawn icon (packaging/icons/hicolor) at each size it was rendered to.
QIcon ProgramIcon() {
  static const bool registered = (RegisterProgramIcon(), true);
  (void)registered;
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/icons/brevanto-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace

QIcon MakeIcon(IconRole role) {
  if (role == IconRole::Program) return ProgramIcon();
  const ThemedIcon themed = Lookup(role);
  if (themed.themeName != nullptr && QIcon::hasThemeIcon(QString::fromLatin1(themed.themeName))) {
    return QIcon::fromTheme(QString::fromLatin1(themed.themeName));
  }
  return Draw(themed.paint);
}

}  // namespace brevanto::ui
