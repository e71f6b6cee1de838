#pragma once
#include <QWidget>
#include <functional>

#include "Session.h"

namespace vantor {

// The settings tab (TabSheet2): user settings, service parameter grid,
// factory settings; it also carries the PrintScreen button (Button13).
class SettingsPage : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsPage(Session& session, QWidget* parent = nullptr);

  // Reads variables 3, 4, 12 and 10 and fills the tab; 1 exactly when the
  // read of variable 3 succeeded. Also the connection test of a port.
  int ReadSettingsPage();

  // Called when "Считать" fails; the main window connects it to the live
  // tab's ResetLiveDisplay.
  std::function<void()> OnReadFailed;

 private:
  Session& session_;
};

}  // namespace vantor
