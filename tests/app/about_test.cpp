#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QTimer>
#include <memory>

#include "AppTestSupport.h"
#include "ProgramWindows.h"

using namespace vantor;
using vantor::test::WorkDir;

namespace {

class AboutTest : public ::testing::Test {
 protected:
  void SetUp() override { windows_ = std::make_unique<ProgramWindows>(&clock_); }

  // Chooses About from the menu; a modal window that opens is recorded and
  // closed from inside its own event loop, so a test never blocks on it.
  QWidget* ChooseAbout() {
    QWidget* opened = nullptr;
    QTimer::singleShot(0, [&opened] {
      opened = QApplication::activeModalWidget();
      if (opened != nullptr) {
        opened->close();
      }
    });
    windows_->Form1->findChild<QAction*>("N8")->trigger();
    QApplication::processEvents();  // the timer fires here when nothing opened
    return opened;
  }

  FixedClock clock_{1700000000};
  WorkDir dir_;
  std::unique_ptr<ProgramWindows> windows_;
};

TEST_F(AboutTest, OpensNothingWithoutAnInstrument) {
  Session& session = windows_->Form1->GetSession();
  ASSERT_EQ(session.PortNumber, 0);
  EXPECT_EQ(ChooseAbout(), nullptr);
  session.LanguageIndex = 1;
  EXPECT_EQ(ChooseAbout(), nullptr);
  EXPECT_FALSE(windows_->Form3->isVisible());
  EXPECT_FALSE(windows_->Form4->isVisible());
}

TEST_F(AboutTest, OpensTheWindowOfTheCurrentLanguageModallyWithAnInstrument) {
  windows_->Form1->GetSession().PortNumber = 3;
  EXPECT_EQ(ChooseAbout(), windows_->Form3.get());
  EXPECT_EQ(windows_->Form3->windowTitle(), "О программе");

  windows_->Form1->English1Click();
  QWidget* about = ChooseAbout();
  EXPECT_EQ(about, windows_->Form4.get());
  EXPECT_EQ(windows_->Form4->windowTitle(), "About");
  EXPECT_EQ(windows_->Form4->findChild<QLabel*>("Label1")->text(),
            "Сервисная программа для дозиметров Орвел");
  EXPECT_FALSE(windows_->Form4->isVisible());  // closed through its title bar
}

TEST_F(AboutTest, WindowsHaveTheirDesignedSizesBordersAndContents) {
  const struct {
    QWidget* window;
    QSize size;
    bool frameless;
  } windows[] = {
      {windows_->Form3.get(), {411, 215}, false},
      {windows_->Form4.get(), {412, 248}, false},
      {windows_->Form5.get(), {354, 153}, true},
      {windows_->Form6.get(), {354, 152}, true},
  };
  for (const auto& w : windows) {
    SCOPED_TRACE(w.window->objectName().toStdString());
    EXPECT_EQ(w.window->minimumSize(), w.size);
    EXPECT_EQ(w.window->maximumSize(), w.size);
    EXPECT_EQ(w.window->windowFlags().testFlag(Qt::FramelessWindowHint), w.frameless);
    auto* image = w.window->findChild<QLabel*>("Image1");
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->pixmap().isNull());
    EXPECT_TRUE(w.window->rect().contains(image->geometry()));
  }
  EXPECT_EQ(LogoPixmap().size(), QSize(354, 152));
  EXPECT_EQ(windows_->Form5->findChild<QLabel*>("Image1")->pos(), QPoint(0, 0));
}

TEST_F(AboutTest, CaptionAndAddressStayInsideTheWindowInTheirFonts) {
  for (QWidget* about : {static_cast<QWidget*>(windows_->Form3.get()),
                         static_cast<QWidget*>(windows_->Form4.get())}) {
    SCOPED_TRACE(about->objectName().toStdString());
    auto* label1 = about->findChild<QLabel*>("Label1");
    auto* label2 = about->findChild<QLabel*>("Label2");
    ASSERT_TRUE(label1 && label2);
    EXPECT_EQ(label1->pos(), QPoint(45, 8));
    EXPECT_TRUE(label1->font().bold() && label1->font().italic());
    EXPECT_LE(label1->font().pixelSize(), 15);
    EXPECT_LE(label1->geometry().right(), about->width() - 1);
    EXPECT_FALSE(label2->text().isEmpty());
    EXPECT_EQ(label2->font().pixelSize(), 13);
    EXPECT_TRUE(label2->font().bold() && label2->font().italic());
    EXPECT_LE(label2->geometry().right(), about->width() - 1);
  }
}

}  // namespace
