#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <stdexcept>

#include "AppTestSupport.h"

using vantor::test::ErrorBoxCatcher;

namespace {

// A window whose event handler fails the way a handler of the program might:
// with a std::exception, with anything else, or not at all.
class FailingWindow : public QWidget {
 public:
  static constexpr QEvent::Type Fail = QEvent::Type(QEvent::User + 1);
  static constexpr QEvent::Type Odd = QEvent::Type(QEvent::User + 2);
  static constexpr QEvent::Type Fine = QEvent::Type(QEvent::User + 3);
  int FineEvents = 0;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == Fail) {
      throw std::runtime_error("'abc' is not a valid integer value");
    }
    if (e->type() == Odd) {
      throw 42;
    }
    if (e->type() == Fine) {
      ++FineEvents;
      return true;
    }
    return QWidget::event(e);
  }
};

TEST(EscapingExceptions, AreShownInTheErrorBoxAndTheProgramGoesOn) {
  ErrorBoxCatcher errors;
  FailingWindow window;
  QEvent fail(FailingWindow::Fail);
  QEvent odd(FailingWindow::Odd);
  QEvent fine(FailingWindow::Fine);

  EXPECT_FALSE(QCoreApplication::sendEvent(&window, &fail));
  EXPECT_FALSE(QCoreApplication::sendEvent(&window, &odd));
  EXPECT_TRUE(QCoreApplication::sendEvent(&window, &fine));

  EXPECT_EQ(errors.Messages, (QStringList{"'abc' is not a valid integer value.", QString()}));
  EXPECT_EQ(window.FineEvents, 1);
}

TEST(EscapingExceptions, FromATimerAreShownToo) {
  ErrorBoxCatcher errors;
  QTimer::singleShot(0, [] { throw std::runtime_error("Ends with a stop."); });
  QTest::qWait(20);
  EXPECT_EQ(errors.Messages, QStringList{"Ends with a stop."});
}

}  // namespace
