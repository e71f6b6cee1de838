#include <QTimer>
#include <exception>

#include "ErrorBox.h"
#include "ProgramWindows.h"

int main(int argc, char** argv) {
  vantor::VantorApplication app(argc, argv);
  try {
    vantor::ProgramWindows windows;
    windows.Form1->show();
    // The start-up sequence (splash, port search) runs on the first tick,
    // once the message loop is going.
    windows.Form1->Timer2()->start();
    app.exec();
  } catch (const std::exception& error) {
    vantor::ShowErrorBox(vantor::ExceptionText(&error));
  } catch (...) {
    vantor::ShowErrorBox(vantor::ExceptionText(nullptr));
  }
  return 0;
}
