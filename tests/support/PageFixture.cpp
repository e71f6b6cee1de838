#include "PageFixture.h"

#include <QCoreApplication>

#include "LinkOutcome.h"
#include "MessageTable.h"

namespace vantor::test {

void PageFixture::Wire(Session& session) {
  session.SetPanel = [this](int panel, const QString& text) {
    panels[panel] = text;
    ++panelWrites;
  };
  session.ShowError = [this](const QString& message) { errors << message; };
  session.Link.SetOutcomeHandler([this, &session](LinkStatus status) {
    outcomes.push_back(OutcomeRow(status));
    session.SetPanel(0, MessageText(outcomes.back(), session.LanguageIndex));
  });
}

bool PageFixture::Open(Session& session, int port) {
  session.Link.InitDictionary();
  session.Link.OpenPort(port);
  return session.Link.PortOpen();
}

void PageFixture::Press(const char* button) {
  if (auto* control = Find<QAbstractButton>(button)) {
    control->click();
  }
  Settle();
}

void PageFixture::Settle() {
  QCoreApplication::processEvents();
}

}  // namespace vantor::test
