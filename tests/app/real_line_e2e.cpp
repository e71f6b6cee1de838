// The whole program on a line as a real adapter gives it: a terminal left at
// the kernel's default settings (XON/XOFF on), bytes paced at 115200 baud, a
// pause between each reply's header and the rest, and replies full of the
// 0x11 and 0x13 bytes that software flow control would swallow.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QTabWidget>
#include <cstring>
#include <thread>

#include "AppTestSupport.h"
#include "ArchivePage.h"
#include "MeasurePage.h"
#include "PageFixture.h"
#include "ProgramWindows.h"
#include "ScreenCapture.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;

class RealLineE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureVantorApplication(); }

  void Start(sim::LineOptions line) {
    instrument_ =
        std::make_unique<sim::VirtualInstrument>(sim::VirtualInstrument::TimeMode::Manual, line);
    ASSERT_TRUE(instrument_->PinAs(3));
    windows_ = std::make_unique<ProgramWindows>(&clock_);
    form_ = windows_->Form1.get();
    form_->show();
  }

  void Poll() {
    form_->PageControl()->setCurrentIndex(0);
    form_->Measure()->Timer1Timer();
    EXPECT_TRUE(test::Settled(form_->GetSession()));
  }

  TempConfigHome home_;
  test::WorkDir dir_;
  test::ErrorBoxCatcher errors_;
  FixedClock clock_{1699999999};  // a clock second of 19, an XOFF byte
  std::unique_ptr<sim::VirtualInstrument> instrument_;
  std::unique_ptr<ProgramWindows> windows_;  // goes first, closing its port
  TForm1* form_ = nullptr;
};

TEST_F(RealLineE2e, ConnectsPollsCapturesAndReadsOnADefaultTerminalWithPausedReplies) {
  sim::LineOptions line;
  line.KernelDefaultTerminal = true;
  line.HeaderPause = 80ms;
  Start(line);
  instrument_->WithLock([](sim::InstrumentModel& m) {
    // XON and XOFF in the identifying variable and in the clock's seconds.
    m.Values().Service.HvDac = 0x1311;
    m.Values().Service.Floats[3] = [] {
      const uint8_t bytes[4] = {0x11, 0x13, 0x11, 0x13};
      float f = 0;
      std::memcpy(&f, bytes, sizeof f);
      return f;
    }();
    m.FreezeScreen(std::array<uint8_t, ScreenBytes>{});  // an all-zero screen
    m.PrefillArchive(30, 2);
  });
  // In step with the computer, so the poll writes no clock.
  instrument_->SetDeviceClock(clock_.ToLocal(clock_.Now()));

  form_->Timer2Timer();
  EXPECT_TRUE(test::Settled(form_->GetSession()));
  ASSERT_EQ(form_->GetSession().PortNumber, 3);
  EXPECT_EQ(form_->PanelText(3), "COM3");
  EXPECT_EQ(form_->GetSession().Link.Values().Service.HvDac, 0x1311);

  Poll();
  EXPECT_EQ(form_->PanelText(0), "Чтение");
  EXPECT_EQ(form_->GetSession().Link.Values().Measurement.DeviceClock[ClockSecond], 19);

  form_->PageControl()->setCurrentIndex(1);
  form_->findChild<QAbstractButton*>(QStringLiteral("Button13"))->click();
  EXPECT_TRUE(test::Settled(form_->GetSession()));
  const QByteArray bitmap = test::ReadBytes(dir_.File("screen.bmp"));
  ASSERT_EQ(bitmap.size(), ScreenBitmapSize);
  EXPECT_EQ(bitmap.mid(ScreenBitmapPixelOffset), QByteArray(ScreenWidth * ScreenHeight, '\0'));

  form_->PageControl()->setCurrentIndex(2);
  form_->Archive()->ServeDuringRead = nullptr;
  form_->Archive()->Button4Click();
  EXPECT_TRUE(test::Settled(form_->GetSession()));
  ASSERT_EQ(form_->Archive()->RecordsRead(), 30);
  const auto archive = instrument_->Snapshot().Archive;
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(form_->Archive()->Buffer()[i].Bytes,
              ArchiveRecord::From(archive[static_cast<size_t>(i)]).Bytes);
  }
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

TEST_F(RealLineE2e, AnUnpluggedInstrumentComesBackByItselfOnTheNextPoll) {
  Start({});
  instrument_->SetDeviceClock(clock_.ToLocal(clock_.Now()));
  form_->Timer2Timer();
  EXPECT_TRUE(test::Settled(form_->GetSession()));
  ASSERT_EQ(form_->PanelText(3), "COM3");

  instrument_->Unplug();
  Poll();
  EXPECT_EQ(form_->PanelText(0), "Ошибка связи");
  EXPECT_EQ(form_->PanelText(3), "---");
  Poll();  // still gone
  EXPECT_EQ(form_->PanelText(3), "---");

  ASSERT_TRUE(instrument_->Plug());  // a new terminal under the same COM number
  instrument_->SetDeviceClock(clock_.ToLocal(clock_.Now()));
  Poll();
  EXPECT_EQ(form_->PanelText(0), "Чтение");
  EXPECT_EQ(form_->PanelText(3), "COM3");
  EXPECT_EQ(form_->GetSession().Link.OpenPortNumber(), 3);
  // Pulled while a poll waits for its reply: seen by that poll, and the
  // first poll after the cable is back reaches the instrument.
  instrument_->SetLatency(60ms);
  std::thread puller([this] {
    std::this_thread::sleep_for(20ms);
    instrument_->Unplug();
  });
  Poll();
  puller.join();
  EXPECT_EQ(form_->PanelText(3), "---");
  instrument_->SetLatency(0ms);
  ASSERT_TRUE(instrument_->Plug());
  Poll();
  EXPECT_EQ(form_->PanelText(0), "Чтение");
  EXPECT_EQ(form_->PanelText(3), "COM3");
}

}  // namespace
}  // namespace vantor
