// Renders the main window (each tab, both languages) and the About and
// splash windows to PNG files in the directory given, as the program shows
// them at start-up with no instrument attached.
//   QT_QPA_PLATFORM=offscreen vantor-screenshots docs
#include <QDir>
#include <QTabWidget>
#include <cstdio>

#include "ErrorBox.h"
#include "ProgramWindows.h"

namespace {

bool Save(QWidget* window, const QDir& dir, const QString& name) {
  window->show();
  QApplication::processEvents();
  const QString path = dir.filePath(name);
  const bool saved = window->grab().save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  window->hide();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  vantor::VantorApplication app(argc, argv);
  const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  if (!dir.exists()) {
    std::fprintf(stderr, "no directory %s\n", qPrintable(dir.path()));
    return 1;
  }
  vantor::ProgramWindows windows;
  vantor::TForm1& form = *windows.Form1;
  const char* tabs[] = {"measure", "settings", "archive"};
  bool ok = true;
  for (const char* language : {"ru", "en"}) {
    if (QByteArray(language) == "ru") {
      form.N4Click();
    } else {
      form.English1Click();
    }
    for (int tab = 0; tab < 3; ++tab) {
      form.PageControl()->setCurrentIndex(tab);
      ok &= Save(&form, dir, QStringLiteral("main-%1-%2.png").arg(language, tabs[tab]));
    }
  }
  ok &= Save(windows.Form3.get(), dir, QStringLiteral("about-ru.png"));
  ok &= Save(windows.Form4.get(), dir, QStringLiteral("about-en.png"));
  ok &= Save(windows.Form5.get(), dir, QStringLiteral("splash-ru.png"));
  ok &= Save(windows.Form6.get(), dir, QStringLiteral("splash-en.png"));
  ok &= Save(windows.Form2.get(), dir, QStringLiteral("connect.png"));
  return ok ? 0 : 1;
}
