#pragma once
#include <QDialog>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "HistoryExport.h"
#include "HistoryTypes.h"
#include "Session.h"

class QAction;
class QComboBox;
class QDateTimeEdit;
class QDialogButtonBox;
class QFormLayout;
class QMenu;
class QMenuBar;
class QProgressDialog;
class QUrl;

namespace vantor {

// What an export asks before the file: the time range (readings; the
// archive goes whole) and the instrument, when the history knows several.
class HistoryExportDialog : public QDialog {
  Q_OBJECT

 public:
  // The range ends at `nowSeconds` and starts a day before it; the
  // instrument offered first is `preferred` when the history knows it,
  // otherwise every instrument.
  HistoryExportDialog(HistoryExportKind kind, const std::vector<StoredInstrument>& instruments,
                      const std::optional<InstrumentIdentity>& preferred, int64_t nowSeconds,
                      uint8_t language, QWidget* parent = nullptr);

  // From the first second shown to the end of the last one; no bounds for
  // the archive.
  TimeRange Range() const;
  // None: every instrument.
  std::optional<InstrumentIdentity> Instrument() const;

  QDateTimeEdit* From() const { return from_; }
  QDateTimeEdit* To() const { return to_; }
  QComboBox* InstrumentChoice() const { return instrument_; }
  QDialogButtonBox* Buttons() const { return buttons_; }

 private:
  bool withRange_;
  std::vector<StoredInstrument> instruments_;
  QDateTimeEdit* from_ = nullptr;
  QDateTimeEdit* to_ = nullptr;
  QComboBox* instrument_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

// How an instrument reads in a list: its firmware and its serial, or its
// device type and device data where the device data holds no serial.
QString InstrumentText(const InstrumentIdentity& instrument);
// An instrument in a file name: its serial, or "7-<device data in hex>".
QString InstrumentFilePart(const InstrumentIdentity& instrument);
// The start of an export's suggested file name, "vantor-archive-SN004711":
// the kind, and the serial of the one instrument exported when it has one.
QString ExportFileStem(HistoryExportKind kind, const std::optional<InstrumentIdentity>& instrument);

// A menu item's caption as a window title: without its ellipsis.
QString TitleOf(QString caption);

// The instrument on the line: known once the connection has read its
// settings.
std::optional<InstrumentIdentity> ConnectedInstrument(const Session& session);

class HistoryJob;

// An export of `request` into `path` as the work of a history job: the
// job's progress and Cancel are the export's.
std::function<HistoryExportResult(HistoryStore&, HistoryJob&)> ExportJob(
    HistoryExportRequest request, QString path);

// The file an export suggests: "`stem`-YYYYMMDD.csv", dated `day`.
QString DatedCsvName(const QString& stem, const LocalTime& day);

class InstrumentRegister;

// The "Данные" menu of the main window: the instruments register, export of
// the archive records or the readings the history keeps, and the history's
// folder. It also tells
// the user when the history becomes unavailable and when it is back, on the
// notice line, which never waits for a click.
//
// An export runs as a job of the history: its instruments are asked for
// first, then the dialog, the file, and the export itself with a progress
// window that does not block the main one and has a Cancel. Polling goes
// on all the while.
class DataMenu : public QObject {
  Q_OBJECT

 public:
  // Appends the menu to `bar`; dialogs and boxes open over `window`.
  DataMenu(Session& session, QMenuBar* bar, QWidget* window);

  void ApplyLanguage(uint8_t language);

  // Opens the instruments register (made on first use) and reads it anew.
  void InstrumentsClick();
  void ExportArchiveClick() { Export(HistoryExportKind::Archive); }
  void ExportReadingsClick() { Export(HistoryExportKind::Readings); }
  void OpenFolderClick();

  // An outcome of the history: the first failure of an outage goes to
  // panel 0 and the notice line, which keeps it until the store works
  // again; its end goes to panel 0; the rest stays quiet.
  void Report(const HistoryOutcome& outcome);

  // An export under way (asking for the instruments, or writing).
  bool Exporting() const { return exportJob_ != nullptr; }
  QProgressDialog* ExportProgress() const { return progress_; }

  QMenu* Menu() const { return menu_; }
  // The instruments register; null until first opened.
  InstrumentRegister* Register() const { return register_; }

  // What reaches the user's desktop, replaced in tests: the dialog (true
  // when accepted), the file to write (empty to cancel), the file manager,
  // and a box that informs.
  std::function<bool(HistoryExportDialog& dialog)> RunDialog;
  std::function<QString(const QString& suggested)> AskPath;
  std::function<bool(const QUrl& folder)> OpenFolder;
  std::function<void(const QString& message)> ShowInformation;

 private:
  void Export(HistoryExportKind kind);
  void ChooseAndExport(HistoryExportKind kind,
                       const HistoryAnswer<std::vector<StoredInstrument>>& known);
  void ExportDone(const QString& path, const HistoryExportResult& result);
  void EndExport();
  QString Text(int row) const;

  Session& session_;
  QWidget* window_;
  QMenu* menu_ = nullptr;
  QAction* instruments_ = nullptr;
  QAction* exportArchive_ = nullptr;
  QAction* exportReadings_ = nullptr;
  QAction* openFolder_ = nullptr;
  std::shared_ptr<HistoryJob> exportJob_;
  QProgressDialog* progress_ = nullptr;
  InstrumentRegister* register_ = nullptr;
};

}  // namespace vantor
