#pragma once
#include <QApplication>
#include <QString>
#include <QStringList>

#include "ErrorBox.h"
#include "WorkDir.h"

namespace vantor::test {

// The program's own application object, once for the whole test process.
inline void EnsureVantorApplication() {
  if (QApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "app_e2e";
    static char* argv[] = {name, nullptr};
    new VantorApplication(argc, argv);
  }
}

// Collects what would go to the error box instead of showing it.
class ErrorBoxCatcher {
 public:
  ErrorBoxCatcher()
      : previous_(SetErrorBoxHook([this](const QString& message) { Messages << message; })) {}
  ~ErrorBoxCatcher() { SetErrorBoxHook(previous_); }
  ErrorBoxCatcher(const ErrorBoxCatcher&) = delete;
  ErrorBoxCatcher& operator=(const ErrorBoxCatcher&) = delete;

  QStringList Messages;

 private:
  ErrorBoxHook previous_;
};

}  // namespace vantor::test
