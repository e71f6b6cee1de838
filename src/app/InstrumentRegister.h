#pragma once
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "HistoryExport.h"
#include "HistoryTypes.h"
#include "Session.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableWidget;
class QTreeWidget;

namespace vantor {

class HistoryJob;

// The instruments register, a window of its own: every instrument the
// history knows (from this computer or any other sharing the history), and
// the change log of the one selected, filtered by time and kind and
// exported as CSV.
//
// Everything it reads is a job of the history, so the window never waits
// for the store and the instrument's polling goes on meanwhile; a read
// that fails is said on the window's status line, which waits for no click.
//
// Its controls are named for tests and scripts that look at it:
// RegisterList (a row per instrument), RegisterLog (an event per top-level
// item, its changed members below it), RegisterKind, RegisterAllTime,
// RegisterFrom, RegisterTo, RegisterRefresh, RegisterExport and
// RegisterStatus.
class InstrumentRegister : public QWidget {
  Q_OBJECT

 public:
  // Columns of the list and of the log.
  enum ListColumn : uint8_t {
    ColSerial,
    ColFirmware,
    ColDeviceType,
    ColDeviceData,
    ColFirstSeen,
    ColLastSeen,
    ColLastReading,
    ColRecordsKept,
    ColLastRead,
    ListColumns
  };
  enum LogColumn : uint8_t { ColTime, ColEvent, ColWho, ColComputer, ColDetails, LogColumns };

  InstrumentRegister(Session& session, QWidget* parent);
  ~InstrumentRegister() override;
  InstrumentRegister(const InstrumentRegister&) = delete;
  InstrumentRegister& operator=(const InstrumentRegister&) = delete;

  void ApplyLanguage(uint8_t language);

  // Reads the instruments again, then the change log of the one selected
  // (kept across the read; else the instrument on the line, else the first).
  void Refresh();
  void ExportClick();

  // A read of the list or the log under way; an export under way.
  bool Loading() const { return listJob_ != nullptr || logJob_ != nullptr; }
  bool Exporting() const { return exportJob_ != nullptr; }

  const std::vector<InstrumentSummary>& Instruments() const { return instruments_; }
  // The instrument whose change log is shown, and its events.
  std::optional<InstrumentIdentity> Selected() const;
  const std::vector<StoredEvent>& Events() const { return events_; }
  // The range and kinds of the change log as the filter sets them.
  TimeRange Range() const;
  std::vector<EventKind> Kinds() const;

  QTableWidget* List() const { return list_; }
  QTreeWidget* Log() const { return log_; }
  QComboBox* KindChoice() const { return kind_; }
  QCheckBox* AllTime() const { return allTime_; }
  QDateEdit* From() const { return from_; }
  QDateEdit* To() const { return to_; }
  QPushButton* RefreshButton() const { return refresh_; }
  QPushButton* ExportButton() const { return export_; }
  QLabel* Status() const { return status_; }

  // The file to export into (empty to cancel); Qt's save dialog, replaced
  // in tests.
  std::function<QString(const QString& suggested)> AskPath;

 private:
  void LoadLog();
  void ShowInstruments(const HistoryAnswer<std::vector<InstrumentSummary>>& answer,
                       const std::optional<InstrumentIdentity>& keep);
  void ShowEvents(const HistoryAnswer<std::vector<StoredEvent>>& answer);
  void FillList();
  void FillLog();
  void ExportDone(const QString& path, const HistoryExportResult& result);
  // Says the text of `row` (none: nothing) with `args` on the status line.
  void SetStatus(int row, const QStringList& args = {});
  QString Text(int row) const;
  QString TimeText(int64_t ms) const;

  Session& session_;
  uint8_t language_ = 0;
  std::vector<InstrumentSummary> instruments_;
  std::vector<StoredEvent> events_;
  std::optional<InstrumentIdentity> logOf_;
  // Later reads replace earlier ones: an answer of an older one is dropped.
  int listGeneration_ = 0;
  int logGeneration_ = 0;
  std::shared_ptr<HistoryJob> listJob_;
  std::shared_ptr<HistoryJob> logJob_;
  std::shared_ptr<HistoryJob> exportJob_;
  // What the status line says, kept as rows so it follows the language.
  int statusRow_ = -1;
  QStringList statusArgs_;

  QTableWidget* list_ = nullptr;
  QPushButton* refresh_ = nullptr;
  QLabel* logTitle_ = nullptr;
  QLabel* kindLabel_ = nullptr;
  QComboBox* kind_ = nullptr;
  QCheckBox* allTime_ = nullptr;
  QLabel* fromLabel_ = nullptr;
  QDateEdit* from_ = nullptr;
  QLabel* toLabel_ = nullptr;
  QDateEdit* to_ = nullptr;
  QPushButton* export_ = nullptr;
  QTreeWidget* log_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace vantor
