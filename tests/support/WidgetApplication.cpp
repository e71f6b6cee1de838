#include "WidgetApplication.h"

#include <QApplication>

namespace vantor::test {

void EnsureApplication() {
  if (QApplication::instance() != nullptr) {
    return;
  }
  static int argc = 1;
  static char name[] = "vantor-widget-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}

}  // namespace vantor::test
