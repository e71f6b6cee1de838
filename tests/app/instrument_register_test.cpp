// The instruments register of the real main window ("Данные" → "Приборы…"):
// its list, an instrument's change log with its filter and export, the
// language, and a history that does not answer.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "AppTestSupport.h"
#include "Csv.h"
#include "DataMenu.h"
#include "Eventually.h"
#include "HistoryService.h"
#include "InstrumentRegister.h"
#include "NumberText.h"
#include "PageFixture.h"
#include "ProgramWindows.h"
#include "ServerStandIn.h"
#include "TempConfigHome.h"

using namespace vantor;
using vantor::test::ErrorBoxCatcher;
using vantor::test::Eventually;
using vantor::test::WorkDir;

namespace {

constexpr int64_t Now = 1700000000;  // 14 November 2023 22:13:20 UTC, 01:13:20 in Moscow
constexpr int64_t Day = 86400;

InstrumentIdentity Instrument(uint8_t serial) {
  InstrumentIdentity instrument;
  instrument.DeviceType = 7;
  instrument.DeviceData[0] = serial;
  instrument.Firmware = QStringLiteral("ДКС v1.%1").arg(serial);
  return instrument;
}

ArchiveBytes Record(int minute) {
  ArchiveRecordValue record;
  record.Value = 0.1f;
  record.Date = {0x19, 0x29, static_cast<uint8_t>(0x80 | minute), 0xC0};  // 1 Nov 2025 09:mm
  return BytesOf(record);
}

HistoryEvent Event(EventKind kind, int64_t atSeconds, const char* actor) {
  HistoryEvent event;
  event.Kind = kind;
  event.AtMs = atSeconds * 1000;
  event.Actor = QString::fromLatin1(actor);
  return event;
}

QStringList RowTexts(const QTableWidget& list, int row) {
  QStringList texts;
  for (int column = 0; column < list.columnCount(); ++column) {
    texts << (list.item(row, column) != nullptr ? list.item(row, column)->text() : QString());
  }
  return texts;
}

// Each event of the log: its cells, then a line per changed member.
QList<QStringList> LogTexts(const QTreeWidget& log) {
  QList<QStringList> items;
  for (int i = 0; i < log.topLevelItemCount(); ++i) {
    const QTreeWidgetItem* event = log.topLevelItem(i);
    QStringList texts;
    for (int column = 0; column < log.columnCount(); ++column) {
      texts << event->text(column);
    }
    for (int k = 0; k < event->childCount(); ++k) {
      texts << event->child(k)->text(0);
    }
    items << texts;
  }
  return items;
}

class RegisterTest : public ::testing::Test {
 protected:
  // Numbers as a Russian desktop writes them, whatever the test's locale.
  void SetUp() override { SetDecimalSeparator(','); }
  void TearDown() override { SetDecimalSeparator(QChar()); }

  void Start(const QString& url) {
    test::EnsureVantorApplication();
    QDir().mkpath(home_.Path() + "/vantor");
    test::WriteBytes(home_.Path() + "/vantor/vantor.conf", "[History]\nUrl=" + url.toUtf8() + "\n");
    windows_ = std::make_unique<ProgramWindows>(&clock_);
    form_ = windows_->Form1.get();
  }
  // Opens the register from the menu and lets its reads end.
  InstrumentRegister* Open() {
    form_->menuBar()->findChild<QAction*>("InstrumentsItem")->trigger();
    InstrumentRegister* view = form_->Data()->Register();
    EXPECT_NE(view, nullptr);
    Settle(view);
    return view;
  }
  static void Settle(InstrumentRegister* view) {
    ASSERT_TRUE(Eventually([view] { return !view->Loading() && !view->Exporting(); }));
  }
  // Writes as the computers sharing the history would, at `atSeconds`.
  HistoryStore& Store() {
    if (!store_) {
      HistoryOptions options;
      options.NowMs = [this] { return at_ * 1000; };
      store_ = std::make_unique<HistoryStore>(form_->GetSession().History->Location(), options);
    }
    return *store_;
  }

  // Instrument 1 with three days of events, a reading and a complete read;
  // instrument 2 with an incomplete read only.
  void Fill() {
    HistoryStore& store = Store();
    at_ = Now - 3 * Day;
    ASSERT_TRUE(store.AddEvent(Instrument(1), Event(EventKind::DoseReset, at_, "anna@desk-2")).Ok);
    HistoryEvent clock = Event(EventKind::ClockSet, Now - 7200, "boris@desk-1");
    clock.DeviceMs = (Now - 7800) * 1000;
    clock.DriftSeconds = -600;
    ASSERT_TRUE(store.AddEvent(Instrument(1), clock).Ok);
    HistoryEvent write = Event(EventKind::SettingsWrite, Now - 3600, "anna@desk-2");
    write.Changes = {{8, "Период записи в архив, с", "30", "60"}, {2, "Порог 2", "0", "1.5"}};
    ASSERT_TRUE(store.AddEvent(Instrument(1), write).Ok);
    LiveReading reading;
    reading.AtMs = (Now - 60) * 1000;
    reading.DoseRate = 0.25f;
    ASSERT_TRUE(store.AddReading(Instrument(1), reading).Ok);
    at_ = Now - 1900;
    ASSERT_TRUE(store.StoreArchiveRead(Instrument(1), 3, {Record(1), {}, Record(2)}, true).Ok);
    HistoryEvent erase = Event(EventKind::ArchiveErase, Now - 1800, "anna@desk-2");
    erase.RecordCount = 3;
    ASSERT_TRUE(store.AddEvent(Instrument(1), erase).Ok);
    at_ = Now - 100;
    ASSERT_TRUE(store.StoreArchiveRead(Instrument(2), 5, {Record(3)}, false).Ok);
  }

  FixedClock clock_{Now, -3 * 3600};
  WorkDir dir_;
  TempConfigHome home_;
  ErrorBoxCatcher errors_;
  std::unique_ptr<ProgramWindows> windows_;
  TForm1* form_ = nullptr;
  std::unique_ptr<HistoryStore> store_;
  int64_t at_ = Now;
};

TEST_F(RegisterTest, ListsEveryInstrumentAndTheChangeLogOfTheOneSelectedFollowingTheFilter) {
  Start(dir_.File("history.sqlite"));
  Fill();
  InstrumentRegister* view = Open();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->isWindow() && view->isVisible() && !view->isModal());
  EXPECT_EQ(view->windowTitle(), "Приборы");
  QTableWidget& list = *view->List();
  ASSERT_EQ(list.rowCount(), 2);
  EXPECT_EQ(
      RowTexts(list, 0),
      (QStringList{"—", "ДКС v1.1", "7", "0100000000000000000000000000000000000000",
                   "12.11.2023 01:13:20", "15.11.2023 01:12:20", "0,25 мкЗв/ч, 15.11.2023 01:12:20",
                   "2", "15.11.2023 00:41:40, полностью"}));
  EXPECT_EQ(RowTexts(list, 1),
            (QStringList{"—", "ДКС v1.2", "7", "0200000000000000000000000000000000000000",
                         "15.11.2023 01:11:40", "15.11.2023 01:11:40", "—", "1",
                         "15.11.2023 01:11:40, не полностью (1 из 5)"}));

  // The first instrument is selected and its log shown, oldest first.
  const QList<QStringList> all = {
      {"12.11.2023 01:13:20", "Сброс дозы", "anna", "desk-2", ""},
      {"14.11.2023 23:13:20", "Коррекция часов", "boris", "desk-1",
       "часы прибора отставали на 600 с"},
      {"15.11.2023 00:13:20", "Запись настроек", "anna", "desk-2", "изменено параметров: 2",
       "Период записи в архив, с: 30 → 60", "Порог 2: 0 → 1.5"},
      {"15.11.2023 00:43:20", "Стирание архива", "anna", "desk-2", "записей: 3"}};
  EXPECT_EQ(LogTexts(*view->Log()), all);
  EXPECT_EQ(view->findChild<QLabel*>("RegisterLogTitle")->text(),
            "Журнал изменений: ДКС v1.1 (7:0100000000000000000000000000000000000000)");

  view->KindChoice()->setCurrentIndex(1);
  EXPECT_EQ(view->KindChoice()->currentText(), "Запись настроек");
  Settle(view);
  EXPECT_EQ(LogTexts(*view->Log()), QList<QStringList>{all[2]});
  view->KindChoice()->setCurrentIndex(0);
  // Whole days, both ends included.
  view->AllTime()->click();
  EXPECT_TRUE(view->From()->isEnabled());
  view->From()->setDate(QDate(2023, 11, 14));
  view->To()->setDate(QDate(2023, 11, 14));
  Settle(view);
  EXPECT_EQ(LogTexts(*view->Log()), QList<QStringList>{all[1]});
  view->To()->setDate(QDate(2023, 11, 15));
  Settle(view);
  EXPECT_EQ(LogTexts(*view->Log()), all.mid(1));

  // The other instrument; a refresh keeps it selected and shows what came.
  list.selectRow(1);
  Settle(view);
  EXPECT_TRUE(LogTexts(*view->Log()).isEmpty());
  at_ = Now;
  ASSERT_TRUE(Store().AddEvent(Instrument(2), Event(EventKind::FactoryReset, Now, "vera@lab")).Ok);
  view->RefreshButton()->click();
  Settle(view);
  EXPECT_EQ(view->Selected(), Instrument(2));
  EXPECT_EQ(LogTexts(*view->Log()),
            (QList<QStringList>{
                {"15.11.2023 01:13:20", "Сброс к заводским настройкам", "vera", "lab", ""}}));

  // The window follows the language, its list and log included.
  form_->menuBar()->findChild<QAction*>("English1")->trigger();
  EXPECT_EQ(view->windowTitle(), "Instruments");
  EXPECT_EQ(list.horizontalHeaderItem(InstrumentRegister::ColLastRead)->text(),
            "Last archive read");
  EXPECT_EQ(list.item(1, InstrumentRegister::ColLastRead)->text(),
            "15.11.2023 01:11:40, incomplete (1 of 5)");
  EXPECT_EQ(view->Log()->topLevelItem(0)->text(InstrumentRegister::ColEvent),
            "Factory settings restored");
  EXPECT_EQ(view->KindChoice()->itemText(0), "All events");
  // The members a write changed are named in the language too.
  list.selectRow(0);
  Settle(view);
  EXPECT_EQ(LogTexts(*view->Log()).value(1),
            (QStringList{"15.11.2023 00:13:20", "Settings written", "anna", "desk-2",
                         "members changed: 2", "Archive recording period, s: 30 → 60",
                         "Alarm 2: 0 → 1.5"}));
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

TEST_F(RegisterTest, AnInstrumentWithASerialIsNamedByItInTheListTheLogAndTheExportedFile) {
  Start(dir_.File("history.sqlite"));
  InstrumentIdentity serial;
  serial.DeviceType = 2;
  const char text[] = "SN004711";
  std::copy(text, text + 8, serial.DeviceData.begin());
  serial.DeviceData[12] = 26;
  serial.Firmware = "VNT-2 v1.07";
  at_ = Now - 60;
  ASSERT_TRUE(Store().AddEvent(serial, Event(EventKind::DoseReset, at_, "anna@desk-2")).Ok);
  InstrumentRegister* view = Open();
  ASSERT_NE(view, nullptr);
  QTableWidget& list = *view->List();
  ASSERT_EQ(list.rowCount(), 1);
  EXPECT_EQ(list.horizontalHeaderItem(InstrumentRegister::ColSerial)->text(), "Серийный номер");
  EXPECT_EQ(list.item(0, InstrumentRegister::ColSerial)->text(), "SN004711");
  // The data stays in full in its own column.
  EXPECT_EQ(list.item(0, InstrumentRegister::ColDeviceData)->text(),
            "534e303034373131000000001a00000000000000");
  EXPECT_EQ(view->findChild<QLabel*>("RegisterLogTitle")->text(),
            "Журнал изменений: VNT-2 v1.07 (SN004711)");

  QString suggested;
  view->AskPath = [&](const QString& offered) {
    suggested = offered;
    return dir_.File("log.csv");
  };
  view->ExportButton()->click();
  Settle(view);
  EXPECT_EQ(suggested, dir_.File("vantor-events-SN004711-20231115.csv"));
  const QList<QStringList> rows =
      ParseCsv(QString::fromUtf8(test::ReadBytes(dir_.File("log.csv"))));
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[1][3], "dose_reset");

  form_->menuBar()->findChild<QAction*>("English1")->trigger();
  EXPECT_EQ(list.horizontalHeaderItem(InstrumentRegister::ColSerial)->text(), "Serial number");
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

TEST_F(RegisterTest, TheChangeLogIsExportedAsTheFilterShowsIt) {
  Start(dir_.File("history.sqlite"));
  Fill();
  InstrumentRegister* view = Open();
  ASSERT_NE(view, nullptr);
  QString suggested;
  QString target = dir_.File("log.csv");
  view->AskPath = [&](const QString& offered) {
    suggested = offered;
    return target;
  };
  view->AllTime()->click();
  view->From()->setDate(QDate(2023, 11, 14));
  view->To()->setDate(QDate(2023, 11, 15));
  Settle(view);
  view->ExportButton()->click();
  EXPECT_TRUE(view->Exporting());
  EXPECT_FALSE(view->ExportButton()->isEnabled()) << "one export at a time";
  Settle(view);
  EXPECT_EQ(suggested,
            dir_.File("vantor-events-7-0100000000000000000000000000000000000000-20231115.csv"));
  // Times carry the computer's own offset: they are compared as moments.
  QList<QStringList> rows = ParseCsv(QString::fromUtf8(test::ReadBytes(target)));
  std::vector<int64_t> moments;
  for (qsizetype i = 1; i < rows.size(); ++i) {
    for (const int column : {2, 5}) {
      if (!rows[i][column].isEmpty()) {
        moments.push_back(QDateTime::fromString(rows[i][column], Qt::ISODate).toSecsSinceEpoch());
        rows[i][column] = "t";
      }
    }
  }
  EXPECT_EQ(moments,
            (std::vector<int64_t>{Now - 7200, Now - 7800, Now - 3600, Now - 3600, Now - 1800}));
  const QString instrument = "7:0100000000000000000000000000000000000000";
  const QList<QStringList> expected = {
      {"instrument", "firmware", "time", "event", "by", "instrument time", "drift (s)",
       "record count", "member", "name", "old value", "new value"},
      {instrument, "ДКС v1.1", "t", "clock_set", "boris@desk-1", "t", "-600", "", "", "", "", ""},
      {instrument, "ДКС v1.1", "t", "settings_write", "anna@desk-2", "", "", "", "8",
       "Период записи в архив, с", "30", "60"},
      {instrument, "ДКС v1.1", "t", "settings_write", "anna@desk-2", "", "", "", "2", "Порог 2",
       "0", "1.5"},
      {instrument, "ДКС v1.1", "t", "archive_erase", "anna@desk-2", "", "", "3", "", "", "", ""}};
  EXPECT_EQ(rows, expected);
  EXPECT_EQ(view->Status()->text(), "Записано строк: 4");

  // Only the kind chosen; a file that cannot be written is said on the
  // window's own line, with no box to click.
  view->KindChoice()->setCurrentIndex(4);  // clock corrections
  Settle(view);
  target = dir_.File("no such folder/log.csv");
  view->ExportButton()->click();
  Settle(view);
  EXPECT_TRUE(view->Status()->text().startsWith("Не удалось экспортировать в " +
                                                QDir::toNativeSeparators(target) + ": "))
      << view->Status()->text().toStdString();
  target = dir_.File("clock.csv");
  view->ExportButton()->click();
  Settle(view);
  const QList<QStringList> clock = ParseCsv(QString::fromUtf8(test::ReadBytes(target)));
  ASSERT_EQ(clock.size(), 2);
  EXPECT_EQ(clock[1][3], "clock_set");
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

// A shared history whose server takes the connection and never answers:
// the menu item returns at once, the register says it is reading, the
// line to the instrument is free, and once the server is gone the window
// says why it has nothing to show.
TEST_F(RegisterTest, AHistoryThatDoesNotAnswerHoldsUpNeitherTheWindowNorTheLine) {
  test::ServerStandIn server;
  Start(server.Url("vantor", "connect_timeout=20"));
  form_->menuBar()->findChild<QAction*>("InstrumentsItem")->trigger();
  InstrumentRegister* view = form_->Data()->Register();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->Loading());
  EXPECT_EQ(view->Status()->text(), "Чтение истории…");
  ASSERT_TRUE(Eventually([&server] { return server.Held() > 0; }));
  Session& session = form_->GetSession();
  EXPECT_EQ(test::OnLine(session, [](DeviceLink& line) { return int(line.ReadVariable(0)); }), 0)
      << "no instrument, but the exchange ran";
  QCoreApplication::processEvents();  // the outcome reaches panel 0 queued
  EXPECT_EQ(form_->PanelText(0), "Ошибка связи");
  EXPECT_TRUE(view->Loading());

  server.SetMode(test::ServerStandIn::Mode::Refuse);
  Settle(view);
  EXPECT_TRUE(view->Status()->text().startsWith("Не удалось прочитать историю: "))
      << view->Status()->text().toStdString();
  EXPECT_EQ(view->List()->rowCount(), 0);
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

// Like the chart's own window, the register goes away with Esc or Ctrl+W,
// wherever in it the focus is.
TEST_F(RegisterTest, EscapeAndControlWCloseTheRegister) {
  Start(dir_.File("history.sqlite"));
  Fill();
  InstrumentRegister* view = Open();
  ASSERT_TRUE(view->isVisible());
  QApplication::setActiveWindow(view);
  view->List()->setFocus();
  QApplication::processEvents();
  QTest::keyClick(view->List(), Qt::Key_Escape);
  EXPECT_FALSE(view->isVisible());

  view = Open();
  ASSERT_TRUE(view->isVisible());
  QApplication::setActiveWindow(view);
  view->Log()->setFocus();
  QApplication::processEvents();
  QTest::keyClick(view->Log(), Qt::Key_Down);
  EXPECT_TRUE(view->isVisible()) << "other keys stay the log's";
  QTest::keyClick(view->Log(), Qt::Key_W, Qt::ControlModifier);
  EXPECT_FALSE(view->isVisible());
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

}  // namespace
