// Draws the maker's picture shown by the About and splash windows and saves
// it as a 354 x 152 true-colour PNG: a radiation trefoil on a yellow disc
// beside the name. Run once; the PNG is kept in the repository.
//   vantor-make-logo src/app/logo.png
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

void DrawTrefoil(QPainter& painter, QPointF centre, double radius) {
  // Disc with a dark rim.
  painter.setPen(QPen(QColor(0x1B, 0x1F, 0x24), radius * 0.06));
  painter.setBrush(QColor(0xF6, 0xC3, 0x1C));
  painter.drawEllipse(centre, radius, radius);

  // Three blades 60 degrees wide around a small hub, one pointing down.
  const double hub = radius * 0.15;
  const double inner = radius * 0.24;
  const double outer = radius * 0.80;
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1B, 0x1F, 0x24));
  painter.drawEllipse(centre, hub, hub);
  const QRectF outerBox(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
  const QRectF innerBox(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
  for (double middle : {30.0, 150.0, 270.0}) {
    QPainterPath blade;
    blade.arcMoveTo(outerBox, middle - 30);
    blade.arcTo(outerBox, middle - 30, 60);
    blade.arcTo(innerBox, middle + 30, -60);
    blade.closeSubpath();
    painter.drawPath(blade);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const char* out = argc > 1 ? argv[1] : "logo.png";

  QImage image(354, 152, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);

  DrawTrefoil(painter, QPointF(78, 76), 58);

  QFont name(QStringLiteral("DejaVu Sans"));
  name.setBold(true);
  // As large as fits between the mark and the right edge.
  for (int size = 56; size > 20; --size) {
    name.setPixelSize(size);
    if (QFontMetrics(name).horizontalAdvance(QStringLiteral("Vantor")) <= 188) {
      break;
    }
  }
  painter.setFont(name);
  painter.setPen(QColor(0x1B, 0x1F, 0x24));
  painter.drawText(QRectF(152, 30, 200, 64), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Vantor"));

  painter.setPen(QPen(QColor(0xF6, 0xC3, 0x1C), 4));
  painter.drawLine(QPointF(153, 98), QPointF(340, 98));

  QFont line(QStringLiteral("DejaVu Sans"));
  line.setPixelSize(14);
  painter.setFont(line);
  painter.setPen(QColor(0x55, 0x5B, 0x63));
  painter.drawText(QRectF(153, 104, 195, 22), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("dosimeter service"));
  painter.end();

  if (!image.save(QString::fromLocal8Bit(out), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", out);
    return 1;
  }
  return 0;
}
