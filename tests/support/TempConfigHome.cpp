#include "TempConfigHome.h"

#include <QFile>
#include <cstdlib>

namespace vantor::test {

TempConfigHome::TempConfigHome() : hadValue_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
  previous_ = qgetenv("XDG_CONFIG_HOME");
  if (!dir_.isValid()) {
    std::abort();  // a test without its own configuration home could see real ports
  }
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
}

TempConfigHome::~TempConfigHome() {
  if (hadValue_) {
    qputenv("XDG_CONFIG_HOME", previous_);
  } else {
    qunsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace vantor::test
