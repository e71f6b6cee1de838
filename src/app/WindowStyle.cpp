#include "WindowStyle.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QTextDocument>
#include <QWidget>

namespace vantor {

void LoadDesignFonts() {
  if (QFontDatabase::hasFamily("Tahoma")) {
    return;
  }
  // Only the regular face: the bold face of this metric-compatible Tahoma
  // draws its strokes no heavier than the regular one, while the regular face
  // emboldened by the font engine reads as bold on the live tab.
  const char* path = "/usr/share/wine/fonts/tahoma.ttf";
  if (QFile::exists(path)) {
    QFontDatabase::addApplicationFont(path);
  }
}

QFont WindowFont() {
  QFont font;
  font.setFamilies({"Tahoma", "Liberation Sans", "Arial", "DejaVu Sans"});
  font.setPixelSize(11);
  return font;
}

QFont CaptionFont(const QStringList& families, int pixelSize) {
  QFont font;
  QStringList present;
  for (const QString& family : families) {
    if (QFontDatabase::hasFamily(family)) {
      present << family;
    }
  }
  font.setFamilies(present.isEmpty() ? families : present);
  font.setPixelSize(pixelSize);
  font.setBold(true);
  font.setItalic(true);
  return font;
}

QFont FitFont(QFont font, const QString& text, int width) {
  while (font.pixelSize() > 8 && QFontMetrics(font).horizontalAdvance(text) > width) {
    font.setPixelSize(font.pixelSize() - 1);
  }
  return font;
}

void CenterOnScreen(QWidget* window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    return;
  }
  const QRect desktop = screen->availableGeometry();
  window->move(desktop.center() - window->rect().center());
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/vantor/icon-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

void PaintWhite(QWidget* window) {
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, Qt::white);
  window->setPalette(palette);
  window->setAutoFillBackground(true);
}

QString MarkAccelerator(const QString& caption, QChar letter) {
  QString marked = caption;
  marked.replace(QLatin1Char('&'), QStringLiteral("&&"));
  const qsizetype at = marked.indexOf(letter, 0, Qt::CaseInsensitive);
  if (at >= 0) {
    marked.insert(at, QLatin1Char('&'));
  }
  return marked;
}

QString PlainToolTip(const QString& text) {
  return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

}  // namespace vantor
