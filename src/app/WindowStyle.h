#pragma once
#include <QFont>
#include <QIcon>
#include <QString>

class QWidget;

namespace vantor {

// Makes the window fonts available: Tahoma comes with the Wine fonts on
// Debian, which fontconfig does not list, so it is registered from there when
// the system has no Tahoma of its own. Needs the application object.
void LoadDesignFonts();

// Tahoma 8 pt at 96 dpi, that is 11 pixels, so the designed pixel layout
// holds on any screen; a font of similar width where Tahoma is missing.
QFont WindowFont();

// A font of `pixelSize` pixels, bold italic, of the first family present
// (Calibri, or its metric twin Carlito, for the About caption).
QFont CaptionFont(const QStringList& families, int pixelSize);

// The largest pixel size, at most `font`'s own, at which `text` fits in
// `width` pixels; a fallback font wider than the designed one shrinks
// rather than being cut off at the window's edge.
QFont FitFont(QFont font, const QString& text, int width);

// Places a top-level window at the centre of the desktop.
void CenterOnScreen(QWidget* window);

// The program's icon, in every size the desktop's menu entry has.
QIcon ProgramIcon();

// A tooltip that shows `text` as it is: a tooltip that looks like markup
// would otherwise be rendered as such, so such a text is escaped.
QString PlainToolTip(const QString& text);

// A menu caption with an Alt accelerator on its first `letter` (in either
// case); the caption reads as it is, the letter underlined. A caption
// without the letter gets none.
QString MarkAccelerator(const QString& caption, QChar letter);

// Plain white background for a window.
void PaintWhite(QWidget* window);

}  // namespace vantor
