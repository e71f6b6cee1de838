#include <gtest/gtest.h>

#include "ErrorBox.h"

// The windows need the program's own application object, which shows
// escaping exceptions and registers the window fonts.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleTest(&argc, argv);
  vantor::VantorApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
