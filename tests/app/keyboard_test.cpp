// The main window from the keyboard alone, with the key events a keyboard
// sends: Tab visits every control of a tab in reading order and comes back
// to the tab bar, tables keep the arrows but not Tab, Ctrl+Tab and Ctrl+PgDn
// switch tabs from anywhere, Alt and a letter opens a menu in both languages.
// Also what follows the language beside the captions: Qt's own texts.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "AppTestSupport.h"
#include "MessageTable.h"
#include "ProgramWindows.h"
#include "QtTranslations.h"

using namespace vantor;

namespace {

class KeyboardTest : public ::testing::Test {
 protected:
  KeyboardTest() {
    test::EnsureVantorApplication();
    windows_ = std::make_unique<ProgramWindows>(&clock_);
    form_ = windows_->Form1.get();
    form_->show();
    form_->activateWindow();
    QApplication::setActiveWindow(form_);
    QCoreApplication::processEvents();
  }

  template <typename T = QWidget>
  T* Find(const char* name) const {
    return form_->findChild<T*>(QString::fromLatin1(name));
  }

  static QString Focused() {
    QWidget* w = QApplication::focusWidget();
    return w == nullptr ? QStringLiteral("(none)") : w->objectName();
  }

  static void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
  }

  // From the tab bar, Tab (or Shift+Tab) until the tab bar has the focus
  // again: the names of the controls on the way.
  QStringList Round(int key) {
    QTabBar* bar = form_->PageControl()->tabBar();
    bar->setFocus(Qt::TabFocusReason);
    QStringList visited;
    for (int presses = 0; presses < 60; ++presses) {
      Press(key);
      if (QApplication::focusWidget() == bar) {
        return visited;
      }
      visited << Focused();
    }
    visited << "(never back at the tab bar)";
    return visited;
  }

  FixedClock clock_{1700000000};
  test::WorkDir dir_;
  test::ErrorBoxCatcher errors_;
  std::unique_ptr<ProgramWindows> windows_;
  TForm1* form_ = nullptr;
};

TEST_F(KeyboardTest, TabVisitsEveryControlOfEachTabInReadingOrderAndLeavesTheTables) {
  form_->PageControl()->setCurrentIndex(1);
  const QStringList settings{"StringGrid2", "StringGrid5", "ComboBox3", "ComboBox4", "LabeledEdit1",
                             "ComboBox1",   "ComboBox2",   "TrackBar1", "Button1",   "Button2",
                             "Button13",    "StringGrid1", "Button8",   "Button7"};
  EXPECT_EQ(Round(Qt::Key_Tab).join(' ').toStdString(), settings.join(' ').toStdString());
  QStringList back = settings;
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(Round(Qt::Key_Backtab).join(' ').toStdString(), back.join(' ').toStdString())
      << "Shift+Tab goes the same way back";

  form_->PageControl()->setCurrentIndex(0);
  EXPECT_EQ(Round(Qt::Key_Tab).join(' ').toStdString(),
            "CheckBox1 Button3 Button6 Chart1 ChartPeriod ChartBand ChartFit ChartPng ChartCsv "
            "ChartWindow")
      << "the chart, then its tools left to right: the look back before the buttons";

  form_->PageControl()->setCurrentIndex(2);
  EXPECT_EQ(Round(Qt::Key_Tab).join(' ').toStdString(),
            "Button4 Button5 BitBtn1 Edit6 BitBtn2 ComboBox5");
  Find<QComboBox>("ComboBox5")->setCurrentIndex(1);  // the chart
  EXPECT_EQ(Round(Qt::Key_Tab).mid(5, 3).join(' ').toStdString(), "ComboBox5 Chart4 ChartBand");
}

TEST_F(KeyboardTest, ArrowsMoveInsideATableAndCtrlTabOrCtrlPgDnSwitchTabsFromAnywhere) {
  QTabWidget* tabs = form_->PageControl();
  tabs->setCurrentIndex(1);
  auto* grid = Find<QTableWidget>("StringGrid2");
  grid->setFocus(Qt::TabFocusReason);
  grid->setCurrentCell(0, 1);
  Press(Qt::Key_Down);
  EXPECT_EQ(grid->currentRow(), 1);
  EXPECT_EQ(Focused(), "StringGrid2");

  Press(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(tabs->currentIndex(), 2);
  Press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(tabs->currentIndex(), 1);

  Find<QWidget>("LabeledEdit1")->setFocus(Qt::TabFocusReason);
  Press(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(tabs->currentIndex(), 2);
  Press(Qt::Key_PageUp, Qt::ControlModifier);
  Press(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(tabs->currentIndex(), 0);

  Find<QWidget>("Chart1")->setFocus(Qt::TabFocusReason);
  Press(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(tabs->currentIndex(), 1) << "the chart keeps its keys but not the tab switch";
}

TEST_F(KeyboardTest, EveryMenuHasAnAltLetterOfItsOwnCaptionInBothLanguages) {
  for (const int language : {0, 1}) {
    SCOPED_TRACE(language);
    if (language == 0) {
      form_->N4Click();
    } else {
      form_->English1Click();
    }
    const auto check = [](const QList<QAction*>& actions) {
      QSet<QChar> letters;
      for (QAction* action : actions) {
        if (action->isSeparator()) {
          continue;
        }
        const QString text = action->text();
        const qsizetype mark = text.indexOf(QLatin1Char('&'));
        ASSERT_GE(mark, 0) << text.toStdString();  // NOLINT
        ASSERT_LT(mark + 1, text.size());
        EXPECT_EQ(text.indexOf(QLatin1Char('&'), mark + 1), -1) << "one mark, no letter added";
        const QChar letter = text[mark + 1].toUpper();
        EXPECT_FALSE(letters.contains(letter)) << "two items on " << text.toStdString();
        letters.insert(letter);
      }
    };
    check(form_->menuBar()->actions());
    for (QMenu* menu : form_->menuBar()->findChildren<QMenu*>()) {
      check(menu->actions());
    }
    // The captions read as the message table has them.
    EXPECT_EQ(Find<QMenu>("N2")->title().remove('&'), MessageText(RowConnectionMenu, language));
    EXPECT_EQ(Find<QMenu>("N3")->title().remove('&'), MessageText(RowHelpMenu, language));
    EXPECT_EQ(Find<QMenu>("DataMenu")->title().remove('&'), MessageText(RowDataMenu, language));
  }

  // Alt and the letter opens the menu, in Russian with a Cyrillic letter.
  form_->N4Click();
  auto* data = Find<QMenu>("DataMenu");
  const auto key = static_cast<Qt::Key>(QChar(u'Д').unicode());
  QTest::sendKeyEvent(QTest::Press, form_, key, QString(QChar(u'д')), Qt::AltModifier);
  QTest::sendKeyEvent(QTest::Release, form_, key, QString(QChar(u'д')), Qt::AltModifier);
  QCoreApplication::processEvents();
  EXPECT_TRUE(data->isVisible()) << "Alt+Д";
  data->close();
  form_->English1Click();
  auto* help = Find<QMenu>("N3");
  QTest::keyClick(form_, Qt::Key_H, Qt::AltModifier);
  QCoreApplication::processEvents();
  EXPECT_TRUE(help->isVisible()) << "Alt+H";
  help->close();
}

TEST_F(KeyboardTest, QtsOwnTextsFollowTheLanguage) {
  form_->N4Click();
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8("Отмена"));
  EXPECT_NE(QCoreApplication::translate("QIODevice", "No such file or directory"),
            "No such file or directory");
  form_->English1Click();
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
  EXPECT_EQ(QCoreApplication::translate("QIODevice", "No such file or directory"),
            "No such file or directory");
  EXPECT_FALSE(form_->windowIcon().isNull()) << "the window sets its own icon";
}

}  // namespace

// Run on a screen smaller than the window by its own CTest entry; on a large
// screen it holds as well.
TEST(ScreenFit, OnALaptopAt150PercentTheWindowFitsAndItsContentScrolls) {
  test::EnsureVantorApplication();
  test::WorkDir dir;
  FixedClock clock(1700000000);
  ProgramWindows windows(&clock);
  TForm1& form = *windows.Form1;
  form.show();
  QCoreApplication::processEvents();
  const QRect area = form.screen()->availableGeometry();
  EXPECT_TRUE(area.contains(form.frameGeometry()))
      << "window " << form.frameGeometry().width() << "x" << form.frameGeometry().height() << " on "
      << area.width() << "x" << area.height();
  auto* scroll = form.findChild<QScrollArea*>("ClientArea");
  ASSERT_NE(scroll, nullptr);
  auto* status = form.findChild<QStatusBar*>("StatusBar1");
  scroll->ensureWidgetVisible(status, 0, 0);
  QCoreApplication::processEvents();
  const QRect seen(scroll->viewport()->mapToGlobal(QPoint(0, 0)), scroll->viewport()->size());
  const QRect bar(status->mapToGlobal(QPoint(0, 0)), status->size());
  EXPECT_TRUE(seen.intersects(bar)) << "the status bar can be scrolled to";
  if (area.height() < 600) {
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
  }
  form.PageControl()->setCurrentIndex(0);
  EXPECT_EQ(form.findChild<QWidget*>("Chart1")->size(), QSize(934, 368)) << "nothing shrinks";
}
