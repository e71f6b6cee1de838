#include "TempConfigHome.h"

#include <QFile>
#include <cstdlib>

namespace vantor::test {

TempConfigHome::Saved TempConfigHome::Set(const char* name, const QString& value) {
  Saved saved{name, qEnvironmentVariableIsSet(name), qgetenv(name)};
  qputenv(name, QFile::encodeName(value));
  return saved;
}

void TempConfigHome::Restore(const Saved& saved) {
  if (saved.HadValue) {
    qputenv(saved.Name, saved.Previous);
  } else {
    qunsetenv(saved.Name);
  }
}

TempConfigHome::TempConfigHome()
    : config_((dir_.isValid() ? void() : std::abort(), Set("XDG_CONFIG_HOME", dir_.path()))),
      data_(Set("XDG_DATA_HOME", DataPath())) {}

TempConfigHome::~TempConfigHome() {
  Restore(data_);
  Restore(config_);
}

}  // namespace vantor::test
