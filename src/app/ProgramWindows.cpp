#include "ProgramWindows.h"

#include <QApplication>
#include <QTimer>

namespace vantor {

ProgramWindows::ProgramWindows(CalendarClock* clock)
    : Form1(std::make_unique<TForm1>(clock)),
      Form2(std::make_unique<TForm2>()),
      Form3(std::make_unique<TForm3>()),
      Form4(std::make_unique<TForm4>()),
      Form5(std::make_unique<TForm5>()),
      Form6(std::make_unique<TForm6>()) {
  Form1->SetSecondaryWindows(Form2.get(), Form3.get(), Form4.get(), Form5.get(), Form6.get());
}

void ProgramWindows::CloseOnExitSignals() {
  exitSignals_ = std::make_unique<ExitSignals>([this](int signal) { CloseForSignal(signal); });
}

void ProgramWindows::CloseForSignal(int signal) {
  // A window busy with a port search or an archive read keeps itself open
  // until that step ends; it is asked again until it closes.
  if (Form1->close()) {
    QApplication::closeAllWindows();
    QCoreApplication::exit(ExitSignals::ExitStatus(signal));
    return;
  }
  QTimer::singleShot(100, Form1.get(), [this, signal] { CloseForSignal(signal); });
}

// The secondary windows go before the main window that refers to them.
ProgramWindows::~ProgramWindows() {
  Form1->SetSecondaryWindows(nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace vantor
