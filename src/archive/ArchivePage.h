#pragma once
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ArchiveHistory.h"
#include "ArchiveRead.h"
#include "ArchiveRecord.h"
#include "ChartModel.h"
#include "HistorySink.h"
#include "Session.h"
#include "TimeChart.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

QT_BEGIN_NAMESPACE
class QLineSeries;
QT_END_NAMESPACE

namespace vantor {

class StringGrid;

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
  // Forgets the records read as well (another instrument is on the line):
  // the view empties and the page buttons have nothing to page through.
  void ForgetRecords();
  // Captions of the tab in `language` (0 Russian, 1 English).
  void ApplyLanguage(uint8_t language);

  // "Чтение архива": copies the instrument's archive into ArchiveBuffer and
  // the history, and shows page 1.
  void Button4Click();
  // "Стереть архив": erases the instrument's archive, no confirmation: the
  // records the history lacks are read into it first (with the read's
  // progress), and a read that fails erases nothing and shows as a read.
  void Button5Click();
  void BitBtn1Click();     // previous page, from the first to the last
  void BitBtn2Click();     // next page, from the last to the first
  void ComboBox5Change();  // table or chart
  void ShowArchivePage();  // the page CurrentArchivePage, rows from 1
  // Renders a record into table row index + 1 and adds its chart point.
  void ShowArchiveRecord(const ArchiveRecord& record, int index);
  // One chart point, unless the time is all zero.
  void AddArchivePoint(const ArchiveTime& time, float value);

  uint16_t ArchiveRecordSize() const { return layout_.RecordSize; }
  uint16_t ArchiveCapacity() const { return layout_.Capacity; }
  int ArchivePageCount() const { return paging_.PageCount(); }
  int CurrentArchivePage() const { return paging_.Current(); }
  const ArchiveBuffer& Buffer() const { return buffer_; }
  int RecordsRead() const { return recordsRead_; }

  StringGrid* Grid() const { return grid_; }
  QLineSeries* Series() const { return chart4_->PointSeries(); }
  TimeChart* ChartView() const { return chart4_; }

  // Runs on the window's thread each time a read (or the erase's read)
  // reports progress from the line's; the default moves the bar. The
  // argument is unused (0). Benchmarks and tests may replace it.
  std::function<void(int)> ServeDuringRead;

 private:
  void BuildControls();
  void ApplyViewChoice();
  void BeginViewUpdate();
  void EndViewUpdate();
  void UpdateChartRange();
  HistorySink History() const;
  // A read of `count` records: the old view goes and the bar shows; its
  // progress; what it brought, on the page and in panel 0.
  void BeginRead(int count);
  ArchiveProgress ReadProgress(int count);
  void ShowRead(const ArchiveReadResult& read, int count, uint32_t reported);
  // The read's controls give way to the page's again.
  void EndRead();
  // The read once the line is free; what an erase came to.
  void StartRead();
  void ShowErase(const ArchiveSafeErase& erase, int readCount);

  Session& session_;
  ArchiveLayout layout_;
  ArchiveBuffer buffer_;
  ArchivePaging paging_;
  int recordsRead_ = 0;  // slots filled by the last read
  // While a read runs: only Cancel and Esc get through, and they stop it.
  std::unique_ptr<QObject> input_;
  int progress_ = 0;  // the bar's position, shown when the window is served

  ChartPoints chartPoints_;  // the page's points, seconds since 1970
  int viewBatch_ = 0;

  QPushButton* button4_ = nullptr;
  QPushButton* button5_ = nullptr;
  QPushButton* buttonCancel_ = nullptr;  // in Button4's place while a read runs
  // Where the keyboard focus was when a read began, to go back to after it.
  QPointer<QWidget> focusBeforeRead_;
  QProgressBar* progressBar2_ = nullptr;
  QPushButton* bitBtn1_ = nullptr;
  QPushButton* bitBtn2_ = nullptr;
  QLabel* label58_ = nullptr;
  QLineEdit* edit6_ = nullptr;
  QLabel* label31_ = nullptr;
  QProgressBar* progressBar1_ = nullptr;
  QLabel* label41_ = nullptr;
  QComboBox* comboBox5_ = nullptr;
  StringGrid* grid_ = nullptr;
  TimeChart* chart4_ = nullptr;  // LineSeries1 the points
};

}  // namespace vantor
