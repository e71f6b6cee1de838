#include "CoreApplication.h"

#include <QCoreApplication>

namespace vantor::test {

void EnsureCoreApplication() {
  if (QCoreApplication::instance() != nullptr) {
    return;
  }
  static int argc = 1;
  static char name[] = "vantor-test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  (void)app;
}

}  // namespace vantor::test
