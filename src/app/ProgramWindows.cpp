#include "ProgramWindows.h"

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

// The secondary windows go before the main window that refers to them.
ProgramWindows::~ProgramWindows() {
  Form1->SetSecondaryWindows(nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace vantor
