// Draws the maker's picture shown by the About and splash windows and saves
// it as a 354 x 152 true-colour PNG: a radiation trefoil on a yellow disc
// beside the name. With --icons it draws the trefoil alone as the desktop
// icon instead, laid out as in the hicolor theme: PNGs in its sizes and a
// scalable SVG of the same shapes. Run by hand; the pictures are kept in the
// repository.
//   vantor-make-logo src/app/logo.png
//   vantor-make-logo --icons packaging/icons
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <cmath>
#include <cstdio>

namespace {

// The trefoil's proportions, as shares of the disc's radius.
constexpr double RimWidth = 0.06;
constexpr double HubRadius = 0.15;
constexpr double BladeInner = 0.24;
constexpr double BladeOuter = 0.80;
// Three blades 60 degrees wide, one pointing down.
constexpr double BladeMiddles[] = {30.0, 150.0, 270.0};

void DrawTrefoil(QPainter& painter, QPointF centre, double radius) {
  // Disc with a dark rim.
  painter.setPen(QPen(QColor(0x1B, 0x1F, 0x24), radius * RimWidth));
  painter.setBrush(QColor(0xF6, 0xC3, 0x1C));
  painter.drawEllipse(centre, radius, radius);

  // The blades around a small hub.
  const double hub = radius * HubRadius;
  const double inner = radius * BladeInner;
  const double outer = radius * BladeOuter;
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1B, 0x1F, 0x24));
  painter.drawEllipse(centre, hub, hub);
  const QRectF outerBox(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
  const QRectF innerBox(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
  for (double middle : BladeMiddles) {
    QPainterPath blade;
    blade.arcMoveTo(outerBox, middle - 30);
    blade.arcTo(outerBox, middle - 30, 60);
    blade.arcTo(innerBox, middle + 30, -60);
    blade.closeSubpath();
    painter.drawPath(blade);
  }
}

const char* const IconName = "example.vantor.Vantor";
const int IconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
// The disc with its rim fills the square but for a thin margin.
constexpr double IconRadius = 0.46;

bool WritePngIcon(const QString& dir, int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawTrefoil(painter, QPointF(size / 2.0, size / 2.0), size * IconRadius);
  painter.end();
  return image.save(QStringLiteral("%1/%2x%2/apps/%3.png").arg(dir).arg(size).arg(IconName), "PNG");
}

// The same shapes as DrawTrefoil, written out as SVG on a 256 grid.
bool WriteSvgIcon(const QString& dir) {
  const double size = 256;
  const double c = size / 2;
  const double radius = size * IconRadius;
  const double inner = radius * BladeInner;
  const double outer = radius * BladeOuter;
  auto point = [c](double r, double degrees) {
    // Counter-clockwise from three o'clock, as QPainterPath::arcTo counts.
    const double a = qDegreesToRadians(degrees);
    return QStringLiteral("%1 %2")
        .arg(c + r * std::cos(a), 0, 'f', 2)
        .arg(c - r * std::sin(a), 0, 'f', 2);
  };
  QString blades;
  for (double middle : BladeMiddles) {
    blades += QStringLiteral("M%1A%2 %2 0 0 0 %3L%4A%5 %5 0 0 1 %6Z")
                  .arg(point(outer, middle - 30))
                  .arg(outer, 0, 'f', 2)
                  .arg(point(outer, middle + 30))
                  .arg(point(inner, middle + 30))
                  .arg(inner, 0, 'f', 2)
                  .arg(point(inner, middle - 30));
  }
  const QString svg =
      QStringLiteral(
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
          "viewBox=\"0 0 256 256\">\n"
          "  <circle cx=\"%1\" cy=\"%1\" r=\"%2\" fill=\"#f6c31c\" stroke=\"#1b1f24\" "
          "stroke-width=\"%3\"/>\n"
          "  <circle cx=\"%1\" cy=\"%1\" r=\"%4\" fill=\"#1b1f24\"/>\n"
          "  <path fill=\"#1b1f24\" d=\"%5\"/>\n"
          "</svg>\n")
          .arg(c, 0, 'f', 2)
          .arg(radius, 0, 'f', 2)
          .arg(radius * RimWidth, 0, 'f', 2)
          .arg(radius * HubRadius, 0, 'f', 2)
          .arg(blades);
  const QByteArray bytes = svg.toUtf8();
  QFile file(QStringLiteral("%1/scalable/apps/%2.svg").arg(dir, IconName));
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int WriteIcons(const QString& dir) {
  for (int size : IconSizes) {
    QDir().mkpath(QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size));
    if (!WritePngIcon(dir, size)) {
      std::fprintf(stderr, "cannot write the %dx%d icon under %s\n", size, size, qPrintable(dir));
      return 1;
    }
  }
  QDir().mkpath(dir + QStringLiteral("/scalable/apps"));
  if (!WriteSvgIcon(dir)) {
    std::fprintf(stderr, "cannot write the scalable icon under %s\n", qPrintable(dir));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc > 2 && QByteArray(argv[1]) == "--icons") {
    return WriteIcons(QString::fromLocal8Bit(argv[2]));
  }
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
