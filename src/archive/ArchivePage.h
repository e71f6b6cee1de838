#pragma once
#include <QWidget>
#include <cstdint>

#include "Session.h"

namespace vantor {

// The archive tab (TabSheet3): reading, paging, erasing, table and chart,
// and the memory-filling indicator.
class ArchivePage : public QWidget {
  Q_OBJECT

 public:
  explicit ArchivePage(Session& session, QWidget* parent = nullptr);

  // Derives the record size and the archive capacity (once, at start-up).
  void ComputeArchiveLayout();
  // Label41, ProgressBar1 and its colour for a record count.
  void ShowMemoryFilling(uint32_t count, bool full);
  // Empties the table's data rows and the archive chart.
  void ClearArchiveView();

 private:
  Session& session_;
};

}  // namespace vantor
