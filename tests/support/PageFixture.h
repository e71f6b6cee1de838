#pragma once
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QObject>
#include <QString>
#include <QStringList>
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
  [[nodiscard]] static bool Open(Session& session, int port);

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
  // Lets the work an action set going end before the test looks: the events
  // it posted are handled.
  void Settle();

  std::map<int, QString> panels;
  int panelWrites = 0;
  QStringList errors;
  std::vector<int> outcomes;

 private:
  QObject* root_ = nullptr;
};

}  // namespace vantor::test
