// settings: showing, backing up and restoring what the instrument is set to.
#include "CommandTable.h"

namespace vantor::cli {
namespace {

QString RestoreOptions(const QCommandLineParser& line, CommandOptions& c) {
  c.DryRun = line.isSet(QStringLiteral("dry-run"));
  return {};
}

}  // namespace

std::vector<CommandForm> SettingsCommands() {
  CommandForm show;
  show.Words = QStringList{"settings", "show"};
  show.Usage = {{{"settings show"}, {"every service parameter and user setting"}}};
  show.Run = &SettingsShowCommand;
  show.Several = true;

  CommandForm backup;
  backup.Words = QStringList{"settings", "backup"};
  backup.Usage = {{{"settings backup FILE"}, {"saves them, exactly, into FILE (JSON)"}}};
  backup.Files = 1;
  backup.Run = &SettingsBackupCommand;
  backup.Several = true;
  backup.File = SeveralRun::FileName::Argument;

  CommandForm restore;
  restore.Words = QStringList{"settings", "restore"};
  restore.Usage = {
      {{"settings restore FILE [--dry-run]"},
       {"shows what differs from FILE, writes only", "that, reads it back and checks it"}}};
  restore.Files = 1;
  restore.Options = {{"dry-run", "settings restore: shows what differs, writes nothing."}};
  restore.Run = &SettingsRestoreCommand;
  restore.ReadOptions = &RestoreOptions;
  return {show, backup, restore};
}

}  // namespace vantor::cli
