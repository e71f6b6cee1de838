#pragma once
#include <QWidget>
#include <cstdint>
#include <functional>

#include "Session.h"

namespace vantor {

// The live measurement tab (TabSheet1): the poll step, the live labels, the
// dose-rate chart and the dose reset.
class MeasurePage : public QWidget {
  Q_OBJECT

 public:
  explicit MeasurePage(Session& session, QWidget* parent = nullptr);

  // One tick of the poll timer Timer1; does nothing unless this tab is on
  // display.
  void Timer1Timer();
  // The next successful poll displays even without a new measurement.
  void SetLiveRefreshPending();
  // Back to "- - -", clears the mean line and the peak (after a failed
  // settings read).
  void ResetLiveDisplay();
  // Empties Series1 and Series3 (start-up).
  void ClearChartSeries();

  // Called with the archive record count and the memory-full flag each time
  // the live display is refreshed; the main window connects it to the
  // archive tab's memory-filling indicator.
  std::function<void(uint32_t count, bool full)> OnMemoryFilling;

 private:
  Session& session_;
};

}  // namespace vantor
