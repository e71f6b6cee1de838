#pragma once
#include <QApplication>

namespace vantor::test {

// Widgets need one application object for the whole test process.
inline void EnsureApplication() {
  if (QApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "measure_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
}

}  // namespace vantor::test
