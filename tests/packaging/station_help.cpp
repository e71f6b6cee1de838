// What `vantor-station --help` prints, for checking its manual page while the
// station's own executable is not built.
#include <cstdio>

#include "StationConfig.h"

int main() {
  std::fputs(vantor::StationHelpText().toUtf8().constData(), stdout);
  return 0;
}
