// screen: a picture of the instrument's display.
#include "CommandTable.h"

namespace vantor::cli {
namespace {

QString ScreenFile(const QCommandLineParser& /*line*/, CommandOptions& c) {
  const QString& file = c.Words.front();
  const QString suffix = file.section(QLatin1Char('.'), -1).toLower();
  if (file.indexOf(QLatin1Char('.')) < 0 ||
      (suffix != QLatin1String("bmp") && suffix != QLatin1String("png"))) {
    return QStringLiteral("screen writes a .bmp or a .png file");
  }
  return {};
}

}  // namespace

std::vector<CommandForm> CaptureCommands() {
  CommandForm screen;
  screen.Words = QStringList{"screen"};
  screen.Usage = {
      {{"screen FILE"},
       {"the instrument's display: FILE.bmp exactly as",
        "the program's PrintScreen writes it, FILE.png", "four times as large, for people"}}};
  screen.Files = 1;
  screen.Run = &ScreenCommand;
  screen.CheckPlace = &ScreenFile;
  return {screen};
}

}  // namespace vantor::cli
