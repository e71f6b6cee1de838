#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <map>

#include "CalendarClock.h"
#include "Dictionary.h"
#include "FixedColumnGrid.h"
#include "MeasurePage.h"
#include "MessageTable.h"
#include "NumberText.h"
#include "PageFixture.h"
#include "SettingsPage.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"
#include "WidgetApplication.h"
#include "Windows1251.h"

namespace vantor {
namespace {

constexpr int Port = 3;

// The settings tab against a virtual instrument on a real pseudo-terminal,
// pressing the real buttons.
class SettingsE2e : public test::PageFixture {
 protected:
  static void SetUpTestSuite() { test::EnsureApplication(); }

  void SetUp() override {
    SetDecimalSeparator(',');
    ASSERT_TRUE(sim.PinAs(Port));
    Wire(session);
    ASSERT_TRUE(Open(session, Port));
    Look(&page);
    page.OnReadFailed = [this] {
      ++readFailures;
      live.ResetLiveDisplay();
    };
  }
  void TearDown() override { SetDecimalSeparator(QChar()); }

  FixedColumnGrid& Grid(const char* name) { return *Find<FixedColumnGrid>(name); }
  UserSettings InstrumentSettings() { return sim.Values().Settings; }
  void SetInstrumentSettings(const UserSettings& settings) {
    sim.WithLock([&](sim::InstrumentModel& m) { m.Values().Settings = settings; });
  }

  test::TempConfigHome home;
  sim::VirtualInstrument sim;
  FixedClock clock{1'700'000'000};
  Session session{&clock};
  SettingsPage page{session};
  MeasurePage live{session};
  int readFailures = 0;
};

TEST_F(SettingsE2e, ReadFillsEveryControlAndTheFirmwarePanel) {
  UserSettings s = sim::FactoryUserSettings();
  s.DoseRateAlarmNumber = 2;
  s.DoseRateAlarm = {12.5f, 123456789.0f, 0.3f};
  s.DoseAlarmNumber = 1;
  s.DoseAlarm = {100.0f, 2000.0f, 0.05f};
  s.ArchivePeriod = 40000;
  s.DisplayLanguage = 0;
  s.Brightness = 250;
  s.Flags = 0x08;  // sound off, another flag on
  SetInstrumentSettings(s);
  sim.SetFirmware(ToWindows1251(QString::fromUtf8("ДЗ-1 в.2.14")).toStdString());
  sim.ResetCounters();

  Press("Button1");

  // Read on the wire exactly as 3, 4, 12, 10, one request each.
  std::vector<int> ids;
  for (const std::vector<uint8_t>& request : sim.RequestLog()) {
    EXPECT_EQ(request.size(), 19U);
    ids.push_back(request.size() > 14 && request[6] == 6 ? request[14] : -1);
  }
  EXPECT_EQ(ids, (std::vector<int>{3, 4, 12, 10}));

  EXPECT_EQ(panels[0], "Считать");
  EXPECT_EQ(panels[1], "ДЗ-1 в.2.14");
  auto& rates = Grid("StringGrid2");
  EXPECT_EQ(rates.Cell(0, 0), "Порог 1");
  EXPECT_EQ(rates.Cell(0, 2), "Порог 3");
  EXPECT_EQ(rates.Cell(1, 0), "12,50");
  EXPECT_TRUE(rates.Cell(1, 1).contains('E')) << rates.Cell(1, 1).toStdString();
  EXPECT_EQ(rates.Cell(1, 2), "0,30");
  auto& doses = Grid("StringGrid5");
  EXPECT_EQ(doses.Cell(0, 1), "Порог 2");
  EXPECT_EQ(doses.Cell(1, 1), "2000,00");
  EXPECT_EQ(doses.Cell(1, 2), "0,05");
  EXPECT_EQ(Find<QComboBox>("ComboBox3")->currentText(), "3");
  EXPECT_EQ(Find<QComboBox>("ComboBox4")->currentText(), "2");
  EXPECT_EQ(Find<QComboBox>("ComboBox1")->currentText(), "Выключен");
  EXPECT_EQ(Find<QComboBox>("ComboBox2")->currentText(), "English");
  EXPECT_EQ(Find<QSlider>("TrackBar1")->value(), 10);
  EXPECT_EQ(Find<QLineEdit>("LabeledEdit1")->text(), "-25536");
  auto& service = Grid("StringGrid1");
  EXPECT_EQ(service.rowCount(), 14);
  EXPECT_EQ(service.Cell(1, 0), "0,0485");  // the factory sensitivity
  EXPECT_EQ(service.Cell(1, 1), "10,000");
}

TEST_F(SettingsE2e, InEnglishThresholdNamesFollowAndServiceNamesStayRussian) {
  session.LanguageIndex = 1;
  Press("Button1");
  EXPECT_EQ(panels[0], "Read");
  EXPECT_EQ(Grid("StringGrid2").Cell(0, 0), "Alarm 1");
  EXPECT_EQ(Grid("StringGrid5").Cell(0, 2), "Alarm 3");
  EXPECT_EQ(Grid("StringGrid1").Cell(0, 0), "Чувствительность ((мкЗв/ч)/(имп/c))");
  EXPECT_EQ(Grid("StringGrid1").Cell(0, 13), "Тип прибора");

  // A switch back does not relabel the grids until the next read.
  session.LanguageIndex = 0;
  EXPECT_EQ(Grid("StringGrid2").Cell(0, 0), "Alarm 1");
  Press("Button1");
  EXPECT_EQ(Grid("StringGrid2").Cell(0, 0), "Порог 1");
}

TEST_F(SettingsE2e, AnInstrumentSilentOnUserSettingsStillPassesAndKeepsTheThresholds) {
  Press("Button1");
  ASSERT_EQ(Grid("StringGrid2").Cell(1, 0), "0,30");
  UserSettings changed = InstrumentSettings();
  changed.DoseRateAlarm[0] = 7.0f;
  changed.Brightness = 0;
  SetInstrumentSettings(changed);
  sim.InjectFault(sim::Fault::Silence, IdSettings);
  panels.clear();

  Press("Button1");

  EXPECT_EQ(readFailures, 0);
  EXPECT_EQ(panels[0], "Считать");
  EXPECT_EQ(Grid("StringGrid2").Cell(1, 0), "0,30");
  EXPECT_EQ(Find<QSlider>("TrackBar1")->value(), 6);
  EXPECT_EQ(panels[1], "VI-01 fw 2.14");  // variable 10 still answered
}

TEST_F(SettingsE2e, AFailedReadEmptiesTheLiveDisplayAndLeavesThePageAlone) {
  Press("Button1");
  ASSERT_EQ(panels[1], "VI-01 fw 2.14");
  panels[2] = "12";
  sim.InjectFault(sim::Fault::Silence);

  Press("Button1");

  EXPECT_EQ(readFailures, 1);
  EXPECT_EQ(panels[0], "Ошибка связи");
  EXPECT_EQ(panels[1], "- - -");
  EXPECT_EQ(panels[2], "- - -");
  EXPECT_EQ(live.findChild<QLabel*>("Label2")->text(), "- - -");
  EXPECT_EQ(Grid("StringGrid2").Cell(1, 0), "0,30");
  EXPECT_EQ(Grid("StringGrid1").Cell(1, 1), "10,000");
  // Only variable 3 was asked for: the read stops at its failure.
  EXPECT_EQ(sim.RequestsSeen(IdSettings), 1u);
}

// Every member of a structured variable as it travels, nameless ones too.
QByteArray MemberBytes(const ValueStorage& values, VariableIndex index) {
  const VariableDescriptor& entry = VariableDictionary[index];
  QByteArray bytes;
  for (int m = 0; m < entry.MemberCount; ++m) {
    const uint8_t* field = FieldOf(values, entry.Members[m].Offset);
    bytes.append(reinterpret_cast<const char*>(field), TypeSize(entry.Members[m].Type, field));
  }
  return bytes;
}

// Values that no format on the page shows exactly.
void LoadUnshowableValues(sim::VirtualInstrument& sim) {
  sim.WithLock([](sim::InstrumentModel& m) {
    UserSettings& s = m.Values().Settings;
    s.DoseRateAlarm = {0.001f, 0.125f, 1234.5678f};
    s.DoseAlarm = {1.0005f, 0.004999f, 123456789.0f};
    s.Brightness = 130;
    s.ArchivePeriod = 40000;
    s.Unused9 = 0xA5;
    s.Flags = 0xDEADBEEF;
    ServiceParameters& p = m.Values().Service;
    p.Floats[0] = 0.05123456f;
    p.Floats[1] = 1.23456f;
    p.Floats[3] = -0.000123456f;
    p.Floats[6] = 6.5432f;
    p.Floats[9] = 123456789.0f;
  });
}

TEST_F(SettingsE2e, AnUntouchedPageWritesBackExactlyWhatItRead) {
  LoadUnshowableValues(sim);
  const ValueStorage before = sim.Values();
  Press("Button1");
  ASSERT_EQ(Grid("StringGrid2").Cell(1, 0), "0,00");
  ASSERT_EQ(Find<QSlider>("TrackBar1")->value(), 5);
  ASSERT_EQ(Grid("StringGrid1").Cell(1, 6), "6,543");

  Press("Button2");
  Press("Button8");
  // A second press still sends what was read, not what the first one sent.
  Press("Button2");
  Press("Button8");

  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  EXPECT_EQ(sim.WritesSeen(IdSettings), 2u);
  EXPECT_EQ(sim.WritesSeen(IdService), 2u);
  const ValueStorage after = sim.Values();
  EXPECT_EQ(MemberBytes(after, IndexSettings).toHex(), MemberBytes(before, IndexSettings).toHex());
  EXPECT_EQ(MemberBytes(after, IndexService).toHex(), MemberBytes(before, IndexService).toHex());
}

TEST_F(SettingsE2e, AnEditedEntrySendsItsTextAndOnlyThatMemberChanges) {
  LoadUnshowableValues(sim);
  ValueStorage expected = sim.Values();
  Press("Button1");
  Grid("StringGrid5").SetCell(1, 0, "2,5");
  Find<QSlider>("TrackBar1")->setValue(6);
  Grid("StringGrid1").SetCell(1, 1, "1,5");
  // Edited and put back: the text is as shown, so the value read goes.
  Grid("StringGrid1").SetCell(1, 6, "7");
  Grid("StringGrid1").SetCell(1, 6, "6,543");

  Press("Button2");
  Press("Button8");

  ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  expected.Settings.DoseAlarm[0] = 2.5f;
  expected.Settings.Brightness = 150;
  expected.Service.Floats[1] = 1.5f;
  const ValueStorage after = sim.Values();
  EXPECT_EQ(MemberBytes(after, IndexSettings).toHex(),
            MemberBytes(expected, IndexSettings).toHex());
  EXPECT_EQ(MemberBytes(after, IndexService).toHex(), MemberBytes(expected, IndexService).toHex());
}

TEST_F(SettingsE2e, EditedControlsArriveInTheirMembersAndOnlyTheSoundBitChanges) {
  UserSettings s = sim::FactoryUserSettings();  // sound on with another flag: 0x09
  s.Unused9 = 0x3C;
  SetInstrumentSettings(s);
  Press("Button1");
  auto& rates = Grid("StringGrid2");
  rates.SetCell(1, 0, "0,45");
  rates.SetCell(1, 2, "1,5e3");
  Grid("StringGrid5").SetCell(1, 1, " 42 ");
  Find<QComboBox>("ComboBox3")->setCurrentIndex(2);
  Find<QComboBox>("ComboBox4")->setCurrentIndex(1);
  Find<QLineEdit>("LabeledEdit1")->setText("-25536");
  Find<QSlider>("TrackBar1")->setValue(4);
  Find<QComboBox>("ComboBox2")->setCurrentIndex(0);
  Find<QComboBox>("ComboBox1")->setCurrentIndex(0);

  Press("Button2");

  ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  const UserSettings after = InstrumentSettings();
  EXPECT_FLOAT_EQ(after.DoseRateAlarm[0], 0.45f);
  EXPECT_FLOAT_EQ(after.DoseRateAlarm[1], s.DoseRateAlarm[1]);
  EXPECT_FLOAT_EQ(after.DoseRateAlarm[2], 1500.0f);
  EXPECT_FLOAT_EQ(after.DoseAlarm[1], 42.0f);
  EXPECT_EQ(after.DoseRateAlarmNumber, 2);
  EXPECT_EQ(after.DoseAlarmNumber, 1);
  EXPECT_EQ(after.ArchivePeriod, 40000);
  EXPECT_EQ(after.Brightness, 100);
  EXPECT_EQ(after.DisplayLanguage, 0);
  EXPECT_EQ(after.Flags, 0x08u);
  EXPECT_EQ(after.Unused9, 0x3C);
  // The page is not read back after a write.
  EXPECT_EQ(sim.RequestsSeen(IdSettings), 2u);
}

TEST_F(SettingsE2e, ANumberOutsideTheItemsLeavesNoSelectionAndGoesBackUnchanged) {
  UserSettings s = sim::FactoryUserSettings();
  s.DoseRateAlarmNumber = 3;
  s.DisplayLanguage = 7;
  SetInstrumentSettings(s);
  Press("Button1");
  EXPECT_EQ(Find<QComboBox>("ComboBox3")->currentIndex(), -1);
  EXPECT_EQ(Find<QComboBox>("ComboBox2")->currentIndex(), -1);
  Press("Button2");
  EXPECT_EQ(InstrumentSettings().DoseRateAlarmNumber, 3);
  EXPECT_EQ(InstrumentSettings().DisplayLanguage, 7);
}

TEST_F(SettingsE2e, AnEntryThatDoesNotConvertSendsNothing) {
  Press("Button2");  // before any read the grids are empty
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors[0], "'' is not a valid floating point value");
  EXPECT_EQ(sim.TotalRequests(), 0u);

  Press("Button1");
  const UserSettings before = InstrumentSettings();
  Grid("StringGrid5").SetCell(1, 2, "");
  Find<QLineEdit>("LabeledEdit1")->setText("1,5");
  Press("Button2");
  ASSERT_EQ(errors.size(), 2);
  EXPECT_EQ(errors[1], "'' is not a valid floating point value");
  Grid("StringGrid5").SetCell(1, 2, "5");
  Press("Button2");
  ASSERT_EQ(errors.size(), 3);
  EXPECT_EQ(errors[2], "'1,5' is not a valid integer value");
  Grid("StringGrid1").SetCell(1, 3, "1e40");
  Press("Button8");
  ASSERT_EQ(errors.size(), 4);
  EXPECT_EQ(errors[3], "'1e40' is not a valid floating point value");

  EXPECT_EQ(sim.WritesSeen(IdSettings), 0u);
  EXPECT_EQ(sim.WritesSeen(IdService), 0u);
  EXPECT_EQ(InstrumentSettings().ArchivePeriod, before.ArchivePeriod);
  EXPECT_EQ(Find<QLineEdit>("LabeledEdit1")->text(), "1,5");
  EXPECT_EQ(Grid("StringGrid1").Cell(1, 3), "1e40");
}

TEST_F(SettingsE2e, TheServiceGridShowsItsFormatsAndWritesTheLowBits) {
  sim.WithLock([](sim::InstrumentModel& m) {
    auto& p = m.Values().Service;
    p.Floats[0] = 0.0512f;
    p.Floats[1] = 0.1f;
    p.Floats[2] = 1234.5678f;
    p.Floats[3] = 123456.789f;
    p.Floats[4] = -12.345f;
    p.Floats[5] = -2500.0f;
    p.OperatingTime = -5;
    p.HvDac = 812;
  });
  Press("Button1");
  page.show();
  Settle();
  auto& grid = Grid("StringGrid1");
  ASSERT_EQ(grid.rowCount(), 14);
  EXPECT_EQ(grid.height(), 297);
  // Rows 21 apart (20 and a grid line), and rows and columns fill the grids
  // edge to edge with nothing to scroll: no empty strips.
  for (FixedColumnGrid* shown : {&grid, &Grid("StringGrid2"), &Grid("StringGrid5")}) {
    SCOPED_TRACE(shown->objectName().toStdString());
    const int last = shown->rowCount() - 1;
    EXPECT_EQ(shown->rowViewportPosition(1), 21);
    EXPECT_EQ(shown->rowViewportPosition(last) + shown->rowHeight(last),
              shown->viewport()->height());
    EXPECT_EQ(shown->columnViewportPosition(1) + shown->columnWidth(1), shown->viewport()->width());
    EXPECT_EQ(shown->verticalScrollBar()->maximum(), 0);
  }
  EXPECT_EQ(grid.Cell(1, 0), "0,0512");
  EXPECT_EQ(grid.Cell(1, 1), "0,100");
  EXPECT_EQ(grid.Cell(1, 2), "1234,568");
  EXPECT_EQ(grid.Cell(1, 3), "123456,790");
  EXPECT_EQ(grid.Cell(1, 4), "-12,3");
  EXPECT_TRUE(grid.Cell(1, 5).startsWith("-2,5")) << grid.Cell(1, 5).toStdString();
  EXPECT_TRUE(grid.Cell(1, 5).contains('E')) << grid.Cell(1, 5).toStdString();
  EXPECT_EQ(grid.Cell(1, 10), "-5");
  EXPECT_EQ(grid.Cell(1, 12), "812");
  EXPECT_FALSE(grid.item(0, 0)->flags() & Qt::ItemIsEditable);
  EXPECT_TRUE(grid.item(0, 1)->flags() & Qt::ItemIsEditable);

  grid.SetCell(1, 13, "300");
  grid.SetCell(1, 12, "70000");
  grid.SetCell(1, 6, "90,5");
  Press("Button8");

  ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  EXPECT_EQ(panels[0], "Выполнено");
  const ServiceParameters after = sim.Values().Service;
  EXPECT_EQ(after.DeviceType, 44);
  EXPECT_EQ(after.HvDac, 4464);
  EXPECT_FLOAT_EQ(after.Floats[6], 90.5f);
  EXPECT_FLOAT_EQ(after.Floats[0], 0.0512f);
  EXPECT_FLOAT_EQ(after.Floats[5], -2500.0f);
  EXPECT_EQ(after.OperatingTime, -5);
}

TEST_F(SettingsE2e, FactorySettingsShowAfterTheNextRead) {
  UserSettings s = sim::FactoryUserSettings();
  s.DoseRateAlarm[0] = 5.0f;
  s.Brightness = 50;
  s.Flags = 0;
  SetInstrumentSettings(s);
  Press("Button1");
  ASSERT_EQ(Grid("StringGrid2").Cell(1, 0), "5,00");

  Press("Button7");

  EXPECT_EQ(panels[0], "Выполнено");
  EXPECT_EQ(sim.WritesSeen(IdCommand), 1u);
  EXPECT_FLOAT_EQ(InstrumentSettings().DoseRateAlarm[0], 0.3f);
  EXPECT_EQ(Grid("StringGrid2").Cell(1, 0), "5,00");  // not read back by itself
  Press("Button1");
  EXPECT_EQ(Grid("StringGrid2").Cell(1, 0), "0,30");
  EXPECT_EQ(Find<QSlider>("TrackBar1")->value(), 6);
  EXPECT_EQ(Find<QComboBox>("ComboBox1")->currentText(), "Включен");
}

}  // namespace
}  // namespace vantor
