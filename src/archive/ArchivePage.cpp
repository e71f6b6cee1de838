#include "ArchivePage.h"

namespace vantor {

ArchivePage::ArchivePage(Session& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("TabSheet3");
}

// Placeholders until the archive tab is built.
void ArchivePage::ComputeArchiveLayout() {}
void ArchivePage::ShowMemoryFilling(uint32_t, bool) {}
void ArchivePage::ClearArchiveView() {}

}  // namespace vantor
