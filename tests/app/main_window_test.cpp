#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QChartView>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QValueAxis>
#include <functional>
#include <memory>

#include <sys/stat.h>

#include "AppTestSupport.h"
#include "FileFaults.h"
#include "FilePlaces.h"
#include "IniFile.h"
#include "MeasurePage.h"
#include "MessageTable.h"
#include "PageFixture.h"
#include "ProgramWindows.h"
#include "TempConfigHome.h"

using namespace vantor;
using vantor::test::ErrorBoxCatcher;
using vantor::test::ReadBytes;
using vantor::test::SmallFilesystem;
using vantor::test::WorkDir;
using vantor::test::WriteBytes;

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  // Creates the program's windows in the current working directory.
  void Start() {
    windows_ = std::make_unique<ProgramWindows>(&clock_);
    form_ = windows_->Form1.get();
  }

  template <typename T = QWidget>
  T* Find(const char* name) const {
    return form_->findChild<T*>(QString::fromLatin1(name));
  }

  QString Caption(const char* name) const {
    if (auto* label = Find<QLabel>(name)) {
      return label->text();
    }
    if (auto* button = Find<QAbstractButton>(name)) {
      return button->text();
    }
    ADD_FAILURE() << "no control " << name;
    return QString();
  }

  // Everything the user can see of the window's texts and marks.
  QStringList Snapshot() const {
    QStringList shot;
    for (auto* label : form_->findChildren<QLabel*>()) {
      shot << label->objectName() + '=' + label->text() + '@' +
                  QString::number(label->geometry().x()) + ',' +
                  QString::number(label->geometry().width());
    }
    for (auto* button : form_->findChildren<QAbstractButton*>()) {
      shot << button->objectName() + '=' + button->text();
    }
    for (auto* menu : form_->findChildren<QMenu*>()) {
      shot << menu->objectName() + '=' + menu->title();
    }
    for (auto* action : form_->findChildren<QAction*>()) {
      shot << action->objectName() + '=' + action->text() + (action->isChecked() ? "*" : "");
    }
    for (int i = 0; i < form_->PageControl()->count(); ++i) {
      shot << form_->PageControl()->tabText(i);
    }
    return shot;
  }

  FixedClock clock_{1700000000};
  WorkDir dir_;
  ErrorBoxCatcher errors_;
  std::unique_ptr<ProgramWindows> windows_;
  TForm1* form_ = nullptr;
};

TEST_F(MainWindowTest, OpensAsDesignedWithSettingsTabInFront) {
  Start();
  EXPECT_EQ(form_->windowTitle(), "Vantor");
  EXPECT_EQ(form_->findChild<QScrollArea*>("ClientArea")->widget()->size(), QSize(953, 555));
  EXPECT_EQ(form_->minimumSize(), form_->maximumSize());  // not resizable
  EXPECT_EQ(form_->PageControl()->currentWidget()->objectName(), "TabSheet2");
  EXPECT_TRUE(form_->Timer1()->isActive());
  EXPECT_EQ(form_->Timer1()->interval(), 1000);
  EXPECT_EQ(form_->Timer2()->interval(), 1);
  if (QFileInfo::exists("/usr/share/wine/fonts/tahoma.ttf")) {
    EXPECT_EQ(QFontInfo(form_->font()).family(), "Tahoma");
  }
  EXPECT_EQ(QFontInfo(form_->font()).pixelSize(), 11);
}

TEST_F(MainWindowTest, EnglishRelabelsTabsMenusAndCaptionsAndMovesTheCheckMark) {
  Start();
  auto* n4 = Find<QAction>("N4");
  auto* english1 = Find<QAction>("English1");
  ASSERT_TRUE(n4 && english1);
  EXPECT_TRUE(n4->isChecked());
  EXPECT_FALSE(english1->isChecked());

  english1->trigger();  // the real menu item

  EXPECT_EQ(form_->GetSession().LanguageIndex, 1);
  EXPECT_FALSE(n4->isChecked());
  EXPECT_TRUE(english1->isChecked());
  QTabWidget* tabs = form_->PageControl();
  EXPECT_EQ(tabs->tabText(0), "Measurement results");
  EXPECT_EQ(tabs->tabText(1), "Setings ");
  EXPECT_EQ(tabs->tabText(2), "History ");
  EXPECT_EQ(Find<QMenu>("N2")->title().remove('&'), "Connection");
  EXPECT_EQ(Find<QAction>("N5")->text().remove('&'), "Make");
  EXPECT_EQ(Find<QMenu>("N1")->title().remove('&'), "View ");
  EXPECT_EQ(Find<QMenu>("Language1")->title().remove('&'), "Language ");
  EXPECT_EQ(Find<QMenu>("N3")->title().remove('&'), "Help ");
  EXPECT_EQ(Find<QAction>("N8")->text().remove('&'), "About");

  // Every caption the language switch owns, in both languages.
  const struct {
    const char* name;
    int row;
  } captions[] = {
      {"Label1", 28},    {"Label5", 53},     {"Label8", 54},    {"CheckBox1", 55},
      {"Button3", 56},   {"Button6", 57},    {"Label11", 58},   {"Label12", 59},
      {"Label32", 50},   {"Label33", 60},    {"Label36", 61},   {"Button1", 25},
      {"Button2", 63},   {"CheckBox6", 66},  {"CheckBox7", 67}, {"CheckBox8", 68},
      {"CheckBox9", 69}, {"CheckBox10", 70}, {"Button4", 74},   {"Button5", 75},
      {"Label58", 76},   {"Label31", 77},    {"Label14", 91},   {"Label15", 92},
  };
  for (const auto& c : captions) {
    EXPECT_EQ(Caption(c.name), MessageText(c.row, 1)) << c.name;
  }
  auto* chart = Find<QChartView>("Chart1");
  ASSERT_NE(chart, nullptr);
  const auto axes = chart->chart()->axes(Qt::Vertical);
  ASSERT_FALSE(axes.isEmpty());
  EXPECT_EQ(axes.front()->titleText(), "Dose rate, uSv/h");

  // The designed captions the switch leaves alone stay Russian.
  EXPECT_EQ(form_->windowTitle(), "Vantor");
  EXPECT_EQ(Caption("Label10"), "Используемый порог");
  EXPECT_EQ(Caption("Label13"), "Используемый порог");
  EXPECT_EQ(Caption("Button7"), "Заводские настройки");
  EXPECT_EQ(Caption("Button8"), "Записать");
  EXPECT_EQ(Caption("Button13"), "PrintScreen");

  // The elapsed time never sits under its longer English caption.
  auto* label8 = Find("Label8");
  auto* label9 = Find("Label9");
  ASSERT_TRUE(label8 && label9);
  EXPECT_GE(label9->x(), label8->x() + label8->width());

  Find<QAction>("N4")->trigger();
  EXPECT_EQ(form_->GetSession().LanguageIndex, 0);
  EXPECT_TRUE(n4->isChecked());
  EXPECT_FALSE(english1->isChecked());
  for (const auto& c : captions) {
    EXPECT_EQ(Caption(c.name), MessageText(c.row, 0)) << c.name;
  }
  EXPECT_EQ(tabs->tabText(0), "Результаты измерения");
  EXPECT_EQ(label9->x(), 156);
}

TEST_F(MainWindowTest, ChoosingTheLanguageInForceChangesNothing) {
  Start();
  const QStringList russian = Snapshot();
  Find<QAction>("N4")->trigger();  // a checked item clicked again
  EXPECT_EQ(Snapshot(), russian);
  EXPECT_TRUE(Find<QAction>("N4")->isChecked());

  Find<QAction>("English1")->trigger();
  const QStringList english = Snapshot();
  EXPECT_NE(english, russian);
  Find<QAction>("English1")->trigger();
  EXPECT_EQ(Snapshot(), english);
  EXPECT_TRUE(Find<QAction>("English1")->isChecked());
}

TEST_F(MainWindowTest, StoredLanguageIsReadAtCreationAndAnythingButOneIsRussian) {
  const struct {
    const char* file;
    int language;
  } cases[] = {
      {"[Common]\r\nLanguage=1\r\n", 1},       {"[common]\nlanguage = 1\n", 1},
      {"[Common]\r\nLanguage=0\r\n", 0},       {"[Common]\r\nLanguage=2\r\n", 0},
      {"[Common]\r\nLanguage=-1\r\n", 0},      {"[Common]\r\nLanguage=257\r\n", 0},
      {"[Common]\r\nLanguage=English\r\n", 0}, {"[Common]\r\nLanguage=\r\n", 0},
      {"[Other]\r\nLanguage=1\r\n", 0},        {"\x01\x02garbage\xFF", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    WriteBytes(dir_.File("prog.ini"), c.file);
    Start();
    EXPECT_EQ(form_->GetSession().LanguageIndex, c.language);
    EXPECT_EQ(Find<QAction>("English1")->isChecked(), c.language == 1);
    EXPECT_EQ(Find<QAction>("N4")->isChecked(), c.language == 0);
    EXPECT_EQ(form_->PageControl()->tabText(1), MessageText(43, c.language));
    windows_.reset();
  }
}

TEST_F(MainWindowTest, ClosingSavesTheLanguageAndKeepsTheRestOfTheFileByteForByte) {
  const QByteArray before =
      "; written by hand\r\n"
      "[Window]\r\n"
      "Left=10\r\n"
      "\r\n"
      "[Common]\r\n"
      "Language=1\r\n"
      "Extra = kept  \r\n"
      "\r\n"
      "[Tail]\r\n"
      "x=y";
  WriteBytes(dir_.File("prog.ini"), before);
  Start();
  form_->show();
  EXPECT_EQ(form_->GetSession().LanguageIndex, 1);
  Find<QAction>("N4")->trigger();
  EXPECT_EQ(ReadBytes(dir_.File("prog.ini")), before);  // saved only at close

  EXPECT_TRUE(form_->close());
  QByteArray after = before;
  after.replace("Language=1", "Language=0");
  EXPECT_EQ(ReadBytes(dir_.File("prog.ini")), after);
  EXPECT_TRUE(errors_.Messages.isEmpty());
}

TEST_F(MainWindowTest, AMissingFileIsCreatedAtCloseInTheWorkingDirectoryNotTheProgramsOwn) {
  const QString besideProgram = QCoreApplication::applicationDirPath() + "/prog.ini";
  const QByteArray programsOwn = ReadBytes(besideProgram);
  Start();
  form_->show();
  Find<QAction>("English1")->trigger();
  form_->close();
  EXPECT_EQ(ReadIniInteger(dir_.File("prog.ini"), "Common", "Language", -1), 1);
  EXPECT_EQ(ReadBytes(besideProgram), programsOwn);

  // Started again there, it comes up in English.
  windows_.reset();
  Start();
  EXPECT_EQ(form_->GetSession().LanguageIndex, 1);
}

// Started from the menu (installed, working directory / or the home
// folder): the language is kept under the configuration home, in a folder
// made for it, and nothing is written where the program was started.
TEST_F(MainWindowTest, InstalledTheSettingsFileLivesUnderTheConfigurationHome) {
  TempConfigHome home;
  FilePlaceFacts facts = CurrentFilePlaceFacts(QCoreApplication::applicationDirPath());
  EXPECT_FALSE(facts.Installed);  // a test runs from the build tree
  facts.Installed = true;
  const FilePlaces places = ChooseFilePlaces(facts);
  ASSERT_EQ(places.SettingsFile, home.Path() + "/vantor/prog.ini");
  Start();
  EXPECT_EQ(form_->SettingsFilePath(), dir_.File("prog.ini"));  // as the tests run it
  form_->SetFilePlaces(places);
  form_->show();
  Find<QAction>("English1")->trigger();
  form_->close();
  EXPECT_TRUE(errors_.Messages.isEmpty());
  EXPECT_EQ(ReadIniInteger(places.SettingsFile, "Common", "Language", -1), 1);
  EXPECT_FALSE(QFileInfo::exists(dir_.File("prog.ini")));
}

TEST_F(MainWindowTest, AVeryLongWorkingDirectoryPathWorks) {
  QString path = dir_.Path();
  while (path.toUtf8().size() < 700) {
    path += "/каталог_с_длинным_именем";
  }
  ASSERT_TRUE(QDir().mkpath(path));
  ASSERT_TRUE(QDir::setCurrent(path));
  WriteBytes(path + "/prog.ini", "[Common]\nLanguage=1\n");
  Start();
  EXPECT_EQ(form_->GetSession().LanguageIndex, 1);
  Find<QAction>("N4")->trigger();
  form_->show();
  form_->close();
  EXPECT_EQ(ReadBytes(path + "/prog.ini"), QByteArray("[Common]\nLanguage=0\n"));
}

// Whatever sits at prog.ini's place and is not a settings file to read is
// neither waited for nor read into memory at start-up, and is left as it is
// at close, which says so; the window still closes.
TEST_F(MainWindowTest, ASettingsFileThatCannotBeReadIsLeftAloneAndReportedAtClose) {
  const QString path = dir_.File("prog.ini");
  const QByteArray head = "[Common]\r\nLanguage=1\r\n";
  const struct {
    const char* name;
    std::function<void()> make;
    std::function<bool()> untouched;
  } cases[] = {
      {"a directory", [&] { QDir(dir_.Path()).mkdir("prog.ini"); },
       [&] { return QFileInfo(path).isDir(); }},
      {"a link to /dev/zero", [&] { QFile::link("/dev/zero", path); },
       [&] { return QFileInfo(path).symLinkTarget() == "/dev/zero"; }},
      {"a FIFO with no writer", [&] { ::mkfifo(QFile::encodeName(path).constData(), 0600); },
       [&] {
         struct stat info {};
         return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
       }},
      {"100 MB",
       [&] {
         QFile file(path);
         file.open(QIODevice::WriteOnly);
         file.write(head);
         file.resize(100'000'000);
       },
       [&] { return QFileInfo(path).size() == 100'000'000 && ReadBytes(path).startsWith(head); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.make();
    Start();
    EXPECT_EQ(form_->GetSession().LanguageIndex, 0);
    form_->show();
    Find<QAction>("English1")->trigger();
    EXPECT_TRUE(form_->close());
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(c.untouched());
    ASSERT_EQ(errors_.Messages.size(), 1);
    EXPECT_EQ(errors_.Messages.front(), "Unable to write to " + QDir::toNativeSeparators(path));
    errors_.Messages.clear();
    windows_.reset();
    QDir(path).removeRecursively();
    QFile::remove(path);
  }
}

TEST_F(MainWindowTest, OnAFullDiskTheSettingsFileStaysWholeAndTheUserIsTold) {
  SmallFilesystem disk(64);
  if (!disk.Mounted()) {
    GTEST_SKIP() << disk.Why().toStdString();
  }
  ASSERT_TRUE(QDir::setCurrent(disk.Path()));
  const QByteArray before = "; kept\r\n[Common]\r\nLanguage=0\r\n";
  WriteBytes(disk.File("prog.ini"), before);
  Start();
  form_->show();
  Find<QAction>("English1")->trigger();
  ASSERT_TRUE(disk.Fill());
  EXPECT_TRUE(form_->close());
  EXPECT_EQ(ReadBytes(disk.File("prog.ini")), before);
  EXPECT_EQ(errors_.Messages,
            QStringList{"Unable to write to " + QDir::toNativeSeparators(disk.File("prog.ini"))});
  windows_.reset();
  QDir::setCurrent(dir_.Path());
}

TEST_F(MainWindowTest, ReturningToTheMeasurementTabClearsPanelZeroAndRestartsThePoll) {
  Start();
  form_->Timer1()->stop();
  form_->SetPanelText(0, "Чтение");
  form_->PageControl()->setCurrentIndex(2);  // archive: nothing happens here
  EXPECT_EQ(form_->PanelText(0), "Чтение");
  EXPECT_FALSE(form_->Timer1()->isActive());

  form_->PageControl()->setCurrentIndex(0);
  EXPECT_EQ(form_->PanelText(0), "");
  EXPECT_TRUE(form_->Timer1()->isActive());
}

TEST_F(MainWindowTest, LinkOutcomesAndPageTextsReachTheStatusBarInTheCurrentLanguage) {
  TempConfigHome home;  // no port map entries: nothing answers
  Start();
  Session& session = form_->GetSession();
  EXPECT_EQ(test::OnLine(session, [](DeviceLink& line) { return int(line.ReadVariable(0)); }), 0);
  QCoreApplication::processEvents();  // the outcome reaches panel 0 queued
  EXPECT_EQ(form_->PanelText(0), "Ошибка связи");
  Find<QAction>("English1")->trigger();
  EXPECT_EQ(test::OnLine(session, [](DeviceLink& line) { return int(line.ReadVariable(0)); }), 0);
  QCoreApplication::processEvents();  // the outcome reaches panel 0 queued
  EXPECT_EQ(form_->PanelText(0), "Connection error");

  session.SetPanel(3, "COM3");
  EXPECT_EQ(form_->PanelText(3), "COM3");
  session.SetPanel(4, "nowhere");  // no such panel: ignored
  session.ShowError("'x' is not a valid integer value");
  EXPECT_EQ(errors_.Messages, QStringList{"'x' is not a valid integer value"});
}

TEST_F(MainWindowTest, PrintScreenReadsTheDisplayAndWritesNothingWhenNoInstrumentAnswers) {
  TempConfigHome home;
  Start();
  auto* button13 = Find<QAbstractButton>("Button13");
  ASSERT_NE(button13, nullptr);
  button13->click();
  EXPECT_TRUE(test::Settled(form_->GetSession()));
  EXPECT_EQ(form_->PanelText(0), "Ошибка связи");
  EXPECT_FALSE(QFileInfo::exists(dir_.File("screen.bmp")));
  EXPECT_FALSE(QFileInfo::exists(dir_.File("screen.txt")));
}

}  // namespace
