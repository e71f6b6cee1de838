#include "SettingsPage.h"

namespace vantor {

SettingsPage::SettingsPage(Session& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("TabSheet2");
}

// Placeholder until the settings tab is built.
int SettingsPage::ReadSettingsPage() { return 0; }

}  // namespace vantor
