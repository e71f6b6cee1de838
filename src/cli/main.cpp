// vantorctl: the instrument's operations from the command line.
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include "HistoryService.h"
#include "Vantorctl.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("vantorctl"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VANTOR_VERSION));
  const int status = vantor::cli::RunVantorctl(QCoreApplication::arguments());
  // A history server that took a connection and never answered still holds
  // the store's thread: vantorctl ends without waiting for it.
  if (vantor::HistoryService::LeftRunning() > 0) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}
