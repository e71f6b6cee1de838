#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "DiagnosticLog.h"
#include "ErrorBox.h"
#include "HistoryService.h"
#include "PortMap.h"
#include "ProgramWindows.h"

#ifndef VANTOR_VERSION
#error "VANTOR_VERSION comes from the project version in CMake"
#endif

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("Vantor"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VANTOR_VERSION));
  // Lets the desktop match the windows to the installed menu entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("example.vantor.Vantor"));
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Service program for portable radiation dosimeters on a serial port."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption trace(
      QStringLiteral("trace"),
      QStringLiteral("Records every write, read, purge and timeout on the line into <file>, with "
                     "its time, one event a line."),
      QStringLiteral("file"));
  parser.addOption(trace);
  const QCommandLineOption port(
      QStringLiteral("port"),
      QStringLiteral("Opens the window on COM <n> (1..254) of the port map instead of looking for "
                     "the instrument, so several windows can each serve an instrument of their "
                     "own."),
      QStringLiteral("n"));
  parser.addOption(port);
  const QCommandLineOption device(
      QStringLiteral("device"),
      QStringLiteral("Opens the window on the serial device at <path> instead of looking for the "
                     "instrument."),
      QStringLiteral("path"));
  parser.addOption(device);

  // --help and --version answer without a display. Anything else waits for
  // the application object, which takes the toolkit's own options (-platform,
  // -style, ...) out of the command line first.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    arguments << QString::fromLocal8Bit(argv[i]);
  }
  if (parser.parse(arguments) && (parser.isSet(help) || parser.isSet(version))) {
    QCoreApplication console(argc, argv);
    parser.process(console);  // prints and exits
  }

  vantor::VantorApplication app(argc, argv);
  vantor::DiagnosticLog::Install();
  parser.process(app);  // an unknown option prints the error and exits with 1
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "Vantor: Unknown argument '%s'.\n",
                 qPrintable(parser.positionalArguments().constFirst()));
    return 1;
  }
  int chosenPort = 0;
  if (parser.isSet(port)) {
    bool ok = false;
    chosenPort = parser.value(port).toInt(&ok);
    if (!ok || chosenPort < vantor::FirstPortNumber || chosenPort > vantor::LastPortNumber) {
      std::fprintf(stderr, "Vantor: --port needs a COM number from 1 to 254.\n");
      return 1;
    }
  }
  if (parser.isSet(port) && parser.isSet(device)) {
    std::fprintf(stderr, "Vantor: --port and --device name two places; give one.\n");
    return 1;
  }
  if (parser.isSet(device) && parser.value(device).isEmpty()) {
    std::fprintf(stderr, "Vantor: --device needs the path of a serial device.\n");
    return 1;
  }
  int status = 0;
  try {
    vantor::ProgramWindows windows;
    windows.CloseOnExitSignals();
    if (chosenPort != 0) {
      windows.Form1->ChoosePort(chosenPort);
    } else if (parser.isSet(device)) {
      windows.Form1->ChooseDevice(parser.value(device));
    }
    if (parser.isSet(trace)) {
      QString error;
      if (!windows.Form1->StartTraceFile(parser.value(trace), &error)) {
        std::fprintf(stderr, "Vantor: cannot write the trace %s: %s\n",
                     qPrintable(parser.value(trace)), qPrintable(error));
        return 1;
      }
    }
    windows.Form1->show();
    // The start-up sequence (splash, port search) runs on the first tick,
    // once the message loop is going.
    windows.Form1->Timer2()->start();
    status = vantor::VantorApplication::exec();
  } catch (const std::exception& error) {
    vantor::ShowErrorBox(vantor::ExceptionText(&error));
  } catch (...) {
    vantor::ShowErrorBox(vantor::ExceptionText(nullptr));
  }
  // A history server that took a connection and never answered still holds
  // the store's thread: the program ends without waiting for it (what it
  // owed waits in the spool, and the database keeps whole transactions
  // only).
  if (vantor::HistoryService::LeftRunning() > 0) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}
