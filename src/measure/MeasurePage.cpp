#include "MeasurePage.h"

namespace vantor {

MeasurePage::MeasurePage(Session& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("TabSheet1");
}

// Placeholders until the live tab is built.
void MeasurePage::Timer1Timer() {}
void MeasurePage::SetLiveRefreshPending() {}
void MeasurePage::ResetLiveDisplay() {}
void MeasurePage::ClearChartSeries() {}

}  // namespace vantor
