// The window on COM3 while the cable goes from one instrument to another
// (another serial under the same COM number) and back: what it reads goes
// under the instrument it came from, panel 0 says another one is connected,
// and nothing of the one before stays on the tabs.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include <QAbstractButton>
#include <QLabel>
#include <QLineSeries>
#include <QTabWidget>
#include <QTimer>
#include <map>
#include <memory>

#include "AppTestSupport.h"
#include "ArchivePage.h"
#include "Dictionary.h"
#include "Eventually.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "InstrumentEngine.h"
#include "MeasurePage.h"
#include "PageFixture.h"
#include "ProgramWindows.h"
#include "SettingsPage.h"
#include "StringGrid.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC

class AnotherInstrumentE2e : public test::PageFixture {
 protected:
  static void SetUpTestSuite() { test::EnsureVantorApplication(); }

  void SetUp() override {
    Prepare(first_, "SN004711", 0.12);
    first_.PrefillArchive(30, 2);
    ASSERT_TRUE(first_.PinAs(3));
    windows_ = std::make_unique<ProgramWindows>(&clock_);
    form_ = windows_->Form1.get();
    Look(form_);
    Watch(form_->GetSession());
    form_->ChoosePort(3);
    form_->Timer2Timer();
    Settle();
    ASSERT_EQ(form_->GetSession().PortNumber, 3);
    form_->Timer1()->stop();  // the test ticks it
  }

  // In step with the computer's clock, so a poll writes none.
  void Prepare(sim::VirtualInstrument& instrument, const char* serial, double background) {
    instrument.WithLock([serial = std::string(serial)](sim::InstrumentModel& m) {
      m.SetSerial(serial);
      return 0;
    });
    instrument.SetFirmware("VNT-2 v1.07");
    instrument.SetBackground(background);
    instrument.SetDeviceClock(clock_.ToLocal(clock_.Now()));
  }

  // A second of the instrument on the line and a poll of the live tab, as
  // the timer does it; then what the poll left for the event loop.
  void Tick(sim::VirtualInstrument& instrument) {
    clock_.Advance(1);
    instrument.AdvanceSeconds(1);
    form_->PageControl()->setCurrentWidget(form_->Measure());
    Act([this] { form_->Measure()->Timer1Timer(); });
  }

  void ReadArchive() {
    form_->PageControl()->setCurrentWidget(form_->Archive());
    form_->Archive()->ServeDuringRead = nullptr;
    Act([this] { form_->Archive()->Button4Click(); });
  }

  // The readings the history holds, by serial, each with its dose rates.
  std::map<QString, std::vector<float>> ReadingsBySerial() {
    EXPECT_TRUE(form_->GetSession().History->WaitIdle(20000));
    HistoryStore history(ParseHistoryLocation(home_.HistoryPath()));
    std::map<int64_t, QString> serials;
    for (const StoredInstrument& stored : history.Instruments().Value) {
      serials[stored.Id] = SerialText(stored.Identity.DeviceData);
    }
    std::map<QString, std::vector<float>> readings;
    EXPECT_TRUE(history
                    .VisitReadings(std::nullopt, {},
                                   [&](const StoredReading& r) {
                                     readings[serials[r.InstrumentId]].push_back(
                                         r.Reading.DoseRate);
                                     return true;
                                   })
                    .Ok);
    return readings;
  }

  int64_t ArchiveRecordsOf(sim::VirtualInstrument& instrument) {
    EXPECT_TRUE(form_->GetSession().History->WaitIdle(20000));
    HistoryStore history(ParseHistoryLocation(home_.HistoryPath()));
    InstrumentIdentity identity;
    identity.DeviceType = instrument.Values().Service.DeviceType;
    identity.DeviceData = instrument.Values().DeviceData;
    identity.Firmware = QString::fromLatin1(instrument.Values().Firmware.data());
    return history.ArchiveRecordCount(identity).Value;
  }

  QLabel* Panel(int n) const { return Find<QLabel>(qPrintable(QStringLiteral("Panel%1").arg(n))); }

  test::WorkDir dir_;
  TempConfigHome home_;
  test::ErrorBoxCatcher errors_;
  FixedClock clock_{Start};
  sim::VirtualInstrument first_;
  std::unique_ptr<sim::VirtualInstrument> second_;  // goes before the first
  std::unique_ptr<ProgramWindows> windows_;         // goes first, closing its port
  TForm1* form_ = nullptr;
};

TEST_F(AnotherInstrumentE2e, AnotherSerialOnThePortIsAnotherInstrumentInTheWindowAndTheHistory) {
  EXPECT_EQ(Panel(3)->toolTip(), "Прибор SN004711, прошивка VNT-2 v1.07");
  Tick(first_);
  Tick(first_);
  ReadArchive();
  ASSERT_EQ(form_->Archive()->RecordsRead(), 30);
  ASSERT_FALSE(form_->Archive()->Grid()->Cell(1, 1).isEmpty());
  ASSERT_GT(form_->Measure()->PointSeries()->count(), 0);

  // The cable goes to another instrument, with its own archive and field.
  first_.Unplug();
  Tick(first_);
  EXPECT_EQ(form_->PanelText(3), "---");
  second_ = std::make_unique<sim::VirtualInstrument>();
  Prepare(*second_, "SN004719", 5.0);
  second_->SetFirmware("VNT-2 v1.09");
  second_->PrefillArchive(12, 1);
  ASSERT_TRUE(second_->PinAs(3));
  Tick(*second_);  // asks who it is; the poll made for the first does not go out
  EXPECT_EQ(second_->RequestsSeen(IdMeasurement), 0u);
  Tick(*second_);
  EXPECT_EQ(second_->RequestsSeen(IdMeasurement), 1u);
  EXPECT_EQ(form_->PanelText(0), "Подключён другой прибор: SN004719");
  EXPECT_EQ(form_->PanelText(3), "COM3");
  EXPECT_EQ(form_->PanelText(1), "VNT-2 v1.09");
  EXPECT_EQ(Panel(3)->toolTip(), "Прибор SN004719, прошивка VNT-2 v1.09");
  // Nothing of the first one stays on the tabs.
  EXPECT_EQ(form_->Archive()->RecordsRead(), 0);
  EXPECT_TRUE(form_->Archive()->Grid()->Cell(1, 1).isEmpty());
  Act([this] { form_->Archive()->BitBtn2Click(); });  // paging brings none of its records back
  EXPECT_TRUE(form_->Archive()->Grid()->Cell(1, 1).isEmpty());
  EXPECT_LE(form_->Measure()->PointSeries()->count(), 1);
  // A write from the settings tab sends nothing of the first one's.
  auto* write = form_->Settings()->findChild<QAbstractButton*>("Button2");
  ASSERT_NE(write, nullptr);
  Act([write] { write->click(); });
  EXPECT_EQ(second_->WritesSeen(IdSettings), 0u);
  errors_.Messages.clear();

  Tick(*second_);
  ReadArchive();
  EXPECT_EQ(form_->Archive()->RecordsRead(), 12);

  // The same instrument pulled and put back is still the same one.
  second_->Unplug();
  Tick(*second_);
  ASSERT_TRUE(second_->Plug());
  second_->SetDeviceClock(clock_.ToLocal(clock_.Now()));
  form_->SetPanelText(0, QString());
  Tick(*second_);
  EXPECT_EQ(form_->PanelText(0), "Чтение");
  EXPECT_EQ(form_->Archive()->RecordsRead(), 12) << "its own archive stays on its tab";
  Tick(*second_);

  // In the history each reading is under the instrument it came from, and
  // so is each archive.
  const auto readings = ReadingsBySerial();
  ASSERT_EQ(readings.size(), 2u);
  ASSERT_EQ(readings.count("SN004711"), 1u);
  ASSERT_EQ(readings.count("SN004719"), 1u);
  EXPECT_EQ(readings.at("SN004711").size(), 2u);
  EXPECT_EQ(readings.at("SN004719").size(), 4u);
  for (const float rate : readings.at("SN004711")) {
    EXPECT_LT(rate, 1.0f);
  }
  for (const float rate : readings.at("SN004719")) {
    EXPECT_GT(rate, 1.0f);
  }
  EXPECT_EQ(ArchiveRecordsOf(first_), 29) << "two runs: one of its 30 is a separator";
  EXPECT_EQ(ArchiveRecordsOf(*second_), 12);

  // The language switch names it in English too.
  Act([this] { form_->English1Click(); });
  EXPECT_EQ(Panel(3)->toolTip(), "Instrument SN004719, firmware VNT-2 v1.09");
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

TEST_F(AnotherInstrumentE2e, AnotherInstrumentFoundDuringALongOperationIsToldWhenItEnds) {
  Tick(first_);
  ReadArchive();
  ASSERT_EQ(form_->Archive()->RecordsRead(), 30);
  first_.Unplug();
  Tick(first_);
  second_ = std::make_unique<sim::VirtualInstrument>();
  Prepare(*second_, "SN004719", 0.12);
  ASSERT_TRUE(second_->PinAs(3));
  const QString told = "Подключён другой прибор: SN004719";
  {
    // Shared with the operation's thread, which may outlive this scope if
    // the test fails early; it is let go in any case.
    struct Held {
      std::atomic_bool Exchanged{false};
      std::atomic_bool Release{false};
      std::array<std::atomic_int, 2> Reads{-1, -1};
    };
    auto held = std::make_shared<Held>();
    struct LetGo {
      std::shared_ptr<Held> What;
      ~LetGo() { What->Release = true; }
    } letGo{held};
    // As an archive read would meet it, between its exchanges: a long
    // operation that holds on after them until the test lets it end.
    form_->GetSession().Run(
        form_, QStringLiteral("long"),
        [held](OperationControl& control) {
          held->Reads[0] = control.Link().ReadVariable(IdMeasurement);
          held->Reads[1] = control.Link().ReadVariable(IdMeasurement);
          held->Exchanged = true;
          while (!held->Release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        },
        {}, {}, true);
    ASSERT_TRUE(test::Eventually([&held] { return held->Exchanged.load(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(held->Reads[0], 0);
    EXPECT_EQ(held->Reads[1], 1);
    EXPECT_EQ(form_->Archive()->RecordsRead(), 30) << "the tabs wait for the operation to end";
    EXPECT_NE(form_->PanelText(0), told);
  }
  EXPECT_TRUE(test::Eventually([this, &told] { return form_->PanelText(0) == told; }));
  EXPECT_EQ(form_->Archive()->RecordsRead(), 0);
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

}  // namespace
}  // namespace vantor
