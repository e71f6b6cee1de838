#pragma once
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

#include "Eventually.h"
#include "Session.h"

namespace vantor::test {

// What the main window gives a page, for tests of a page (or a window) on
// its own: the session wired as the window wires it, the controls found by
// name, and one settle step after every action before the test looks.
class PageFixture : public ::testing::Test {
 protected:
  // Status panel writes land in `panels` (and are counted), the error box in
  // `errors`; each exchange's outcome goes to `outcomes` and, as the window
  // shows it, to panel 0 in the language of the moment.
  void Wire(Session& session);
  // The line to the instrument on COM`port`, as a connection leaves it:
  // false when the port did not open.
  [[nodiscard]] bool Open(Session& session, int port);

  // Whose operations Settle waits for, when the test wires no session of
  // its own (a whole window's).
  void Watch(Session& session) { session_ = &session; }

  // Where Find looks for controls: the page or window under test.
  void Look(QObject* root) { root_ = root; }
  template <typename T = QWidget>
  T* Find(const char* name) const {
    T* control = root_ == nullptr ? nullptr : root_->findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr) {
      ADD_FAILURE() << "no control " << name;
    }
    return control;
  }

  // Clicks the button as a person would, then settles.
  void Press(const char* button);
  // Does `action` (a handler called as its timer or menu would), then settles.
  template <class Action>
  void Act(Action action) {
    action();
    Settle();
  }
  // Lets the work an action set going end before the test looks: the
  // operations it gave the engine have ended and their ends are shown.
  void Settle();

  std::map<int, QString> panels;
  int panelWrites = 0;
  QStringList errors;
  std::vector<int> outcomes;

 private:
  QObject* root_ = nullptr;
  Session* session_ = nullptr;
};

// The window's operations on `session`'s engine have ended, their ends are
// shown and what they posted is handled; false when they still run after
// the bound.
[[nodiscard]] bool Settled(Session& session, int timeoutMs = 60000);

// Runs `exchange` on `session`'s line, on the engine's thread where its
// port lives, and gives back what it returned.
int OnLine(Session& session, const std::function<int(DeviceLink&)>& exchange);

}  // namespace vantor::test
