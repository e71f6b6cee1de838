// A lab's desk: a window per instrument, side by side, each polling its own
// virtual instrument into the one history of the computer; a third window's
// search finds both ports held and says so instead of "no device"; the
// instruments register lists both.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <map>

#include "AppTestSupport.h"
#include "DataMenu.h"
#include "Dictionary.h"
#include "Eventually.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "InstrumentRegister.h"
#include "MeasurePage.h"
#include "PageFixture.h"
#include "PortMap.h"
#include "ProgramWindows.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC
constexpr int Ticks = 5;

TEST(SeveralWindowsE2e,
     TwoWindowsPollTheirInstrumentsIntoOneHistoryTheRegisterListsBothAndAThirdFindsBothPortsBusy) {
  test::EnsureVantorApplication();
  test::WorkDir dir;
  TempConfigHome home;
  test::ErrorBoxCatcher boxes;
  bool pinned = false;
  PinPort(200, home.Path() + "/absent", &pinned);  // the machine's own ports stay out
  ASSERT_TRUE(pinned);
  FixedClock clock(Start);
  sim::VirtualInstrument com3;
  sim::VirtualInstrument com4;
  ASSERT_TRUE(com3.PinAs(3));
  ASSERT_TRUE(com4.PinAs(4));
  // Told apart in the history by their serials; each clock an hour off, so
  // each window's first poll sets it.
  for (auto [sim, serial] : {std::pair{&com3, "SN-A3"}, std::pair{&com4, "SN-B4"}}) {
    sim->WithLock([serial = std::string(serial)](sim::InstrumentModel& m) {
      m.SetSerial(serial);
      return 0;
    });
    sim->SetDeviceClock(clock.ToLocal(Start - 3600));
  }

  // vantor --port 3: the start-up tries COM3 alone.
  ProgramWindows chosen(&clock);
  chosen.Form1->ChoosePort(3);
  EXPECT_EQ(chosen.Form1->windowTitle(), QString::fromUtf8("Vantor — COM3"));
  chosen.Form1->Timer2Timer();
  EXPECT_TRUE(test::Settled(chosen.Form1->GetSession()));
  ASSERT_EQ(chosen.Form1->GetSession().PortNumber, 3);
  EXPECT_EQ(chosen.Form1->PanelText(3), "COM3");
  EXPECT_EQ(chosen.Form2->ComboBox1->currentText(), "3");
  EXPECT_EQ(com4.TotalRequests(), 0u) << "no search";

  // A window that searches: COM3 is held by the first, skipped without a
  // request, and the instrument on COM4 found.
  const uint64_t com3Before = com3.TotalRequests();
  ProgramWindows searching(&clock);
  EXPECT_EQ(searching.Form1->windowTitle(), "Vantor");
  searching.Form1->Timer2Timer();
  EXPECT_TRUE(test::Settled(searching.Form1->GetSession()));
  ASSERT_EQ(searching.Form1->GetSession().PortNumber, 4);
  EXPECT_EQ(com3.TotalRequests(), com3Before);
  EXPECT_TRUE(searching.Form2->PortMarkedBusy(3));
  EXPECT_FALSE(searching.Form2->PortMarkedBusy(4));

  // Both poll side by side, a tick a second.
  for (ProgramWindows* windows : {&chosen, &searching}) {
    windows->Form1->PageControl()->setCurrentWidget(windows->Form1->Measure());
    windows->Form1->Timer1()->stop();  // the test ticks them
  }
  for (int i = 0; i < Ticks; ++i) {
    clock.Advance(1);
    for (auto* sim : {&com3, &com4}) {
      sim->AdvanceSeconds(1);
    }
    chosen.Form1->Measure()->Timer1Timer();
    EXPECT_TRUE(test::Settled(chosen.Form1->GetSession()));
    searching.Form1->Measure()->Timer1Timer();
    EXPECT_TRUE(test::Settled(searching.Form1->GetSession()));
  }
  EXPECT_EQ(com3.RequestsSeen(IdMeasurement), static_cast<uint32_t>(Ticks));
  EXPECT_EQ(com4.RequestsSeen(IdMeasurement), static_cast<uint32_t>(Ticks));
  EXPECT_EQ(com3.WritesSeen(IdClock), 1u);
  EXPECT_EQ(com4.WritesSeen(IdClock), 1u);

  // A third window finds nothing it may open: both ports busy, said so.
  const uint64_t asked = com3.TotalRequests() + com4.TotalRequests();
  ProgramWindows third(&clock);
  third.Form1->Timer2Timer();
  EXPECT_TRUE(test::Settled(third.Form1->GetSession()));
  EXPECT_EQ(third.Form1->GetSession().PortNumber, 0);
  EXPECT_EQ(third.Form1->PanelText(3), "---");
  const QString busy = QString::fromUtf8("COM3, COM4: порты заняты другими программами");
  EXPECT_EQ(third.Form1->PanelText(0), busy);
  QStringList notices;
  for (auto* box : third.Form1->findChildren<QMessageBox*>("PortRefusalNotice")) {
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    notices << box->text();
  }
  EXPECT_EQ(notices, QStringList{busy});
  EXPECT_EQ(com3.TotalRequests() + com4.TotalRequests(), asked);
  third.Form2->SelectPort(4);
  EXPECT_EQ(third.Form2->Label3->text(),
            QString::fromStdString(com4.PtyPath()) + QString::fromUtf8("\nзанят"));
  EXPECT_TRUE(
      third.Form2->Label3->toolTip().endsWith(QString::fromUtf8("): порт занят другой программой")))
      << third.Form2->Label3->toolTip().toStdString();
  EXPECT_TRUE(boxes.Messages.isEmpty());

  // The one history holds both instruments, each with its own readings and
  // its clock setting.
  for (ProgramWindows* windows : {&chosen, &searching}) {
    ASSERT_TRUE(windows->Form1->GetSession().History->WaitIdle(20000));
  }
  HistoryStore history(ParseHistoryLocation(home.HistoryPath()));
  const auto instruments = history.Instruments();
  ASSERT_TRUE(instruments.Outcome.Ok) << instruments.Outcome.Error.toStdString();
  ASSERT_EQ(instruments.Value.size(), 2u);
  std::map<int64_t, QString> serials;
  for (const StoredInstrument& stored : instruments.Value) {
    serials[stored.Id] =
        QString::fromLatin1(reinterpret_cast<const char*>(stored.Identity.DeviceData.data()), 5);
  }
  std::map<QString, int> readings;
  std::map<QString, int> clockSets;
  ASSERT_TRUE(history
                  .VisitReadings(std::nullopt, {},
                                 [&](const StoredReading& r) {
                                   ++readings[serials[r.InstrumentId]];
                                   return true;
                                 })
                  .Ok);
  ASSERT_TRUE(history
                  .VisitEvents(std::nullopt, {},
                               [&](const StoredEvent& e) {
                                 clockSets[serials[e.InstrumentId]] +=
                                     e.Event.Kind == EventKind::ClockSet ? 1 : 0;
                                 return true;
                               })
                  .Ok);
  EXPECT_EQ(readings, (std::map<QString, int>{{"SN-A3", Ticks}, {"SN-B4", Ticks}}));
  EXPECT_EQ(clockSets, (std::map<QString, int>{{"SN-A3", 1}, {"SN-B4", 1}}));

  // The register of either window lists both, each with its last reading
  // and its clock correction in its change log.
  chosen.Form1->menuBar()->findChild<QAction*>("InstrumentsItem")->trigger();
  InstrumentRegister* view = chosen.Form1->Data()->Register();
  ASSERT_NE(view, nullptr);
  const auto settle = [view] { return test::Eventually([view] { return !view->Loading(); }); };
  ASSERT_TRUE(settle());
  QTableWidget& list = *view->List();
  ASSERT_EQ(list.rowCount(), 2);
  QStringList listed;
  for (int row = 0; row < list.rowCount(); ++row) {
    const QString data = list.item(row, InstrumentRegister::ColDeviceData)->text();
    listed << QString::fromLatin1(QByteArray::fromHex(data.toLatin1()).left(5));
    EXPECT_TRUE(list.item(row, InstrumentRegister::ColLastReading)
                    ->text()
                    .contains(QString::fromUtf8("мкЗв/ч")))
        << list.item(row, InstrumentRegister::ColLastReading)->text().toStdString();
    list.selectRow(row);
    ASSERT_TRUE(settle());
    ASSERT_EQ(view->Log()->topLevelItemCount(), 1) << listed.back().toStdString();
    EXPECT_EQ(view->Log()->topLevelItem(0)->text(InstrumentRegister::ColEvent),
              QString::fromUtf8("Коррекция часов"));
  }
  listed.sort();
  EXPECT_EQ(listed, (QStringList{"SN-A3", "SN-B4"}));
}

}  // namespace
}  // namespace vantor
