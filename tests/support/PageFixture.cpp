#include "PageFixture.h"

#include <QCoreApplication>

#include "LinkOutcome.h"
#include "MessageTable.h"

namespace vantor::test {

bool Settled(Session& session, int timeoutMs) {
  const bool ended = Eventually([&session] { return session.Idle(); }, timeoutMs);
  QCoreApplication::processEvents();
  return ended;
}

int OnLine(Session& session, const std::function<int(DeviceLink&)>& exchange) {
  int result = 0;
  session.Engine.RunAndWait(QStringLiteral("test"),
                            [&](OperationControl& control) { result = exchange(control.Link()); });
  return result;
}

void PageFixture::Wire(Session& session) {
  session_ = &session;
  session.SetPanel = [this](int panel, const QString& text) {
    panels[panel] = text;
    ++panelWrites;
  };
  session.ShowError = [this](const QString& message) { errors << message; };
  QObject::connect(&session.Engine, &InstrumentEngine::Exchanged, &session.Engine,
                   [this, &session](LinkStatus status) {
                     outcomes.push_back(OutcomeRow(status));
                     session.SetPanel(0, MessageText(outcomes.back(), session.LanguageIndex));
                   });
}

bool PageFixture::Open(Session& session, int port) {
  if (session_ == nullptr) {
    session_ = &session;  // the line a test opens is the one it waits for
  }
  // On the engine's thread: a serial port belongs to the thread that opened
  // it.
  bool open = false;
  session.Engine.RunAndWait(QStringLiteral("open"), [port, &open](OperationControl& control) {
    control.Link().InitDictionary();
    control.Link().OpenPort(port);
    open = control.Link().PortOpen();
  });
  return open;
}

void PageFixture::Press(const char* button) {
  if (auto* control = Find<QAbstractButton>(button)) {
    control->click();
  }
  Settle();
}

void PageFixture::Settle() {
  if (session_ != nullptr) {
    EXPECT_TRUE(Settled(*session_)) << "the window's operations did not end";
  } else {
    QCoreApplication::processEvents();
  }
}

}  // namespace vantor::test
