// clock: the instrument's clock against the computer's, and setting it.
#include "CommandTable.h"

namespace vantor::cli {
namespace {

QString ClockOptions(const QCommandLineParser& line, CommandOptions& c) {
  c.Sync = line.isSet(QStringLiteral("sync"));
  return {};
}

}  // namespace

std::vector<CommandForm> ClockCommands() {
  CommandForm clock;
  clock.Words = QStringList{"clock"};
  clock.Usage = {{{"clock [--sync]"},
                  {"the instrument's clock and its drift from the",
                   "computer's; --sync sets it to the computer's"}}};
  clock.Options = {{"sync", "clock: sets the instrument to the computer's time."}};
  clock.Run = &ClockCommand;
  clock.Several = true;
  clock.ReadOptions = &ClockOptions;
  return {clock};
}

}  // namespace vantor::cli
