#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "AppTestSupport.h"

using vantor::test::ErrorBoxCatcher;

namespace {

TEST(EscapingExceptions, AreShownInTheErrorBoxAndTheProgramGoesOn) {
  ErrorBoxCatcher errors;
  QWidget window;
  auto* failing = new QPushButton("fail", &window);
  auto* odd = new QPushButton("odd", &window);
  auto* fine = new QPushButton("fine", &window);
  failing->setGeometry(0, 0, 60, 25);
  odd->setGeometry(0, 30, 60, 25);
  fine->setGeometry(0, 60, 60, 25);
  int fineClicks = 0;
  QObject::connect(failing, &QPushButton::clicked,
                   [] { throw std::runtime_error("'abc' is not a valid integer value"); });
  QObject::connect(odd, &QPushButton::clicked, [] { throw 42; });
  QObject::connect(fine, &QPushButton::clicked, [&fineClicks] { ++fineClicks; });
  window.show();

  QTest::mouseClick(failing, Qt::LeftButton);
  QTest::mouseClick(odd, Qt::LeftButton);
  QTest::mouseClick(fine, Qt::LeftButton);

  EXPECT_EQ(errors.Messages, (QStringList{"'abc' is not a valid integer value.", QString()}));
  EXPECT_EQ(fineClicks, 1);
}

TEST(EscapingExceptions, FromATimerAreShownToo) {
  ErrorBoxCatcher errors;
  QTimer::singleShot(0, [] { throw std::runtime_error("Ends with a stop."); });
  QTest::qWait(20);
  EXPECT_EQ(errors.Messages, QStringList{"Ends with a stop."});
}

}  // namespace
