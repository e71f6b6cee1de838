#pragma once
#include <QString>
#include <QStringList>

#include "CommandTable.h"
#include "HistoryLocation.h"
#include "SeveralInstruments.h"

namespace vantor::cli {

// What a command line asks vantorctl to do, read and checked.
struct CommandLine {
  // The command to run; null when there is none: Text is then what to
  // write (--help, --version), or Mistake the first mistake found.
  const CommandForm* Form = nullptr;
  QString Text;
  QString Mistake;  // one line, without the pointer to --help

  CommandOptions Options;
  PortChoice Ports;  // --port; none given: no ports
  bool PortGiven = false;
  int Port = 0;    // the one port of --port; 0 for several or none
  QString Device;  // --device
  QString TraceFile;
  HistoryLocation History;
};

// Reads vantorctl's arguments (the program name first) and checks them in
// the order vantorctl always has, so that of two mistakes on a line the
// same one is said. Opens nothing.
CommandLine ReadCommandLine(const QStringList& arguments);

// vantorctl's --help: the general text, every command, every option.
QString HelpText();

}  // namespace vantor::cli
