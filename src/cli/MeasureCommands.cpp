// info and live: what the instrument is, and its readings as they come.
#include "CommandTable.h"

namespace vantor::cli {
namespace {

QString LiveOptions(const QCommandLineParser& line, CommandOptions& c) {
  bool ok = true;
  if (line.isSet(QStringLiteral("count"))) {
    c.Count = line.value(QStringLiteral("count")).toLongLong(&ok);
    if (!ok || c.Count < 1) {
      return QStringLiteral("--count needs a whole number of readings, 1 or more");
    }
  }
  c.Interval = line.value(QStringLiteral("interval")).toDouble(&ok);
  // Written so that NaN is refused too.
  if (!ok || !(c.Interval >= 0.1 && c.Interval <= 86400)) {
    return QStringLiteral("--interval needs seconds from 0.1 to 86400");
  }
  return {};
}

}  // namespace

std::vector<CommandForm> MeasureCommands() {
  CommandForm info;
  info.Words = QStringList{"info"};
  info.Usage = {
      {{"info"},
       {"firmware, device type and data, the", "instrument's clock and its drift, the archive"}}};
  info.Run = &InfoCommand;
  info.Several = true;

  CommandForm live;
  live.Words = QStringList{"live"};
  live.Usage = {
      {{"live [--count N] [--interval S]"},
       {"one line per reading, every S seconds", "(default 1) until N readings or Ctrl-C: time,",
        "dose rate, uncertainty, dose, accumulation", "time, mode"}}};
  live.Options = {
      {"count", "live: stops after N readings.", "N"},
      {"interval", "live: seconds between readings.", "S", "1"},
  };
  live.Run = &LiveCommand;
  live.Several = true;
  live.ReadOptions = &LiveOptions;
  return {info, live};
}

}  // namespace vantor::cli
