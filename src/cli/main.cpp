// vantorctl: the instrument's operations from the command line.
#include <QCoreApplication>

#include "Vantorctl.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("vantorctl"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VANTOR_VERSION));
  return vantor::cli::RunVantorctl(QCoreApplication::arguments());
}
