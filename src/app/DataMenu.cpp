#include "DataMenu.h"

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QUrl>

#include "HistoryService.h"
#include "InstrumentRegister.h"
#include "MessageTable.h"
#include "Secrets.h"
#include "WindowStyle.h"

namespace vantor {
namespace {

constexpr int64_t DefaultSpanSeconds = 86400;  // the readings of the last day

QString Tr(int row, uint8_t language) {
  return MessageText(row, language);
}

// Where the history is, for a message: the file or database, or the
// configuration file that names it when that name is no use.
QString Where(const HistoryLocation& location) {
  const QString text = location.Valid() ? location.Text() : QString();
  return text.isEmpty() ? QDir::toNativeSeparators(HistoryConfigPath()) : text;
}

}  // namespace

QString TitleOf(QString caption) {
  if (caption.endsWith(QChar(0x2026))) {
    caption.chop(1);
  }
  return caption;
}

std::optional<InstrumentIdentity> ConnectedInstrument(const Session& session) {
  if (session.PortNumber == 0) {
    return std::nullopt;
  }
  return IdentityOf(session.Link.Values());
}

std::function<HistoryExportResult(HistoryStore&, HistoryJob&)> ExportJob(
    HistoryExportRequest request, QString path) {
  return
      [request = std::move(request), path = std::move(path)](HistoryStore& store, HistoryJob& job) {
        return ExportHistoryCsv(store, request, path, [&job](double share) {
          job.SetProgress(share);
          return !job.Cancelled();
        });
      };
}

QString InstrumentText(const InstrumentIdentity& instrument) {
  return QStringLiteral("%1 (%2)").arg(instrument.Firmware.trimmed(), InstrumentName(instrument));
}

QString InstrumentFilePart(const InstrumentIdentity& instrument) {
  QString serial = SerialText(instrument.DeviceData);
  if (!serial.isEmpty()) {
    return serial;
  }
  return QStringLiteral("%1-%2").arg(instrument.DeviceType).arg(DeviceDataHex(instrument));
}

QString ExportFileStem(HistoryExportKind kind,
                       const std::optional<InstrumentIdentity>& instrument) {
  QString stem = kind == HistoryExportKind::Archive    ? QStringLiteral("vantor-archive")
                 : kind == HistoryExportKind::Readings ? QStringLiteral("vantor-readings")
                                                       : QStringLiteral("vantor-events");
  const QString serial = instrument ? SerialText(instrument->DeviceData) : QString();
  if (!serial.isEmpty()) {
    stem += QLatin1Char('-') + serial;
  }
  return stem;
}

QString DatedCsvName(const QString& stem, const LocalTime& day) {
  return QStringLiteral("%1-%2%3%4.csv")
      .arg(stem)
      .arg(day.Year, 4, 10, QLatin1Char('0'))
      .arg(day.Month, 2, 10, QLatin1Char('0'))
      .arg(day.Day, 2, 10, QLatin1Char('0'));
}

HistoryExportDialog::HistoryExportDialog(HistoryExportKind kind,
                                         const std::vector<StoredInstrument>& instruments,
                                         const std::optional<InstrumentIdentity>& preferred,
                                         int64_t nowSeconds, uint8_t language, QWidget* parent)
    : QDialog(parent), withRange_(kind == HistoryExportKind::Readings), instruments_(instruments) {
  setObjectName(QStringLiteral("ExportDialog"));
  setWindowTitle(
      TitleOf(Tr(kind == HistoryExportKind::Readings ? RowExportReadingsItem : RowExportArchiveItem,
                 language)));
  setFont(WindowFont());
  auto* form = new QFormLayout(this);

  const auto timeEdit = [this](const char* name, int64_t seconds) {
    auto* edit = new QDateTimeEdit(QDateTime::fromSecsSinceEpoch(seconds), this);
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    edit->setCalendarPopup(true);
    return edit;
  };
  from_ = timeEdit("ExportFrom", nowSeconds - DefaultSpanSeconds);
  to_ = timeEdit("ExportTo", nowSeconds);
  if (withRange_) {
    form->addRow(Tr(RowExportFrom, language), from_);
    form->addRow(Tr(RowExportTo, language), to_);
  } else {
    from_->hide();
    to_->hide();
  }

  instrument_ = new QComboBox(this);
  instrument_->setObjectName(QStringLiteral("ExportInstrument"));
  instrument_->addItem(Tr(RowAllInstruments, language));
  for (const StoredInstrument& stored : instruments_) {
    instrument_->addItem(InstrumentText(stored.Identity));
    if (preferred && stored.Identity == *preferred) {
      instrument_->setCurrentIndex(instrument_->count() - 1);
    }
  }
  if (instruments_.size() > 1) {
    form->addRow(Tr(RowExportInstrument, language), instrument_);
  } else {
    instrument_->hide();
  }

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->button(QDialogButtonBox::Ok)->setText(Tr(RowExportButton, language));
  buttons_->button(QDialogButtonBox::Cancel)->setText(Tr(RowCancel, language));
  form->addRow(buttons_);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // An empty or reversed range cannot be exported.
  const auto check = [this] {
    const TimeRange range = Range();
    buttons_->button(QDialogButtonBox::Ok)
        ->setEnabled(!withRange_ || (range.FromMs && range.ToMs && *range.FromMs < *range.ToMs));
  };
  connect(from_, &QDateTimeEdit::dateTimeChanged, this, check);
  connect(to_, &QDateTimeEdit::dateTimeChanged, this, check);
}

TimeRange HistoryExportDialog::Range() const {
  if (!withRange_) {
    return {};
  }
  return {from_->dateTime().toMSecsSinceEpoch(), to_->dateTime().toMSecsSinceEpoch() + 1000};
}

std::optional<InstrumentIdentity> HistoryExportDialog::Instrument() const {
  const int index = instrument_->currentIndex();
  if (index <= 0 || static_cast<size_t>(index) > instruments_.size()) {
    return std::nullopt;
  }
  return instruments_[static_cast<size_t>(index - 1)].Identity;
}

DataMenu::DataMenu(Session& session, QMenuBar* bar, QWidget* window)
    : QObject(window), session_(session), window_(window) {
  menu_ = bar->addMenu(Text(RowDataMenu));
  menu_->setObjectName(QStringLiteral("DataMenu"));
  instruments_ = menu_->addAction(Text(RowInstrumentsItem));
  instruments_->setObjectName(QStringLiteral("InstrumentsItem"));
  exportArchive_ = menu_->addAction(Text(RowExportArchiveItem));
  exportArchive_->setObjectName(QStringLiteral("ExportArchiveItem"));
  exportReadings_ = menu_->addAction(Text(RowExportReadingsItem));
  exportReadings_->setObjectName(QStringLiteral("ExportReadingsItem"));
  openFolder_ = menu_->addAction(Text(RowOpenHistoryFolderItem));
  openFolder_->setObjectName(QStringLiteral("OpenHistoryFolderItem"));
  connect(instruments_, &QAction::triggered, this, [this] { InstrumentsClick(); });
  connect(exportArchive_, &QAction::triggered, this, [this] { ExportArchiveClick(); });
  connect(exportReadings_, &QAction::triggered, this, [this] { ExportReadingsClick(); });
  connect(openFolder_, &QAction::triggered, this, [this] { OpenFolderClick(); });

  RunDialog = [](HistoryExportDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
  AskPath = [this](const QString& suggested) {
    // Qt's own dialog, which speaks the program's language.
    return QFileDialog::getSaveFileName(window_, QString(), suggested,
                                        QStringLiteral("CSV (*.csv)"), nullptr,
                                        QFileDialog::DontUseNativeDialog);
  };
  OpenFolder = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
  ShowInformation = [this](const QString& message) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Vantor"), message, QMessageBox::Ok,
                    window_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  };
}

QString DataMenu::Text(int row) const {
  return MessageText(row, session_.LanguageIndex);
}

void DataMenu::ApplyLanguage(uint8_t language) {
  const bool russian = language == 0;
  const auto caption = [language, russian](MessageRow row, char16_t ru, char16_t en) {
    return MarkAccelerator(Tr(row, language), russian ? QChar(ru) : QChar(en));
  };
  menu_->setTitle(caption(RowDataMenu, u'Д', u'D'));
  instruments_->setText(caption(RowInstrumentsItem, u'П', u'I'));
  exportArchive_->setText(caption(RowExportArchiveItem, u'Э', u'E'));
  exportReadings_->setText(caption(RowExportReadingsItem, u'и', u'r'));
  openFolder_->setText(caption(RowOpenHistoryFolderItem, u'О', u'O'));
  if (register_ != nullptr) {
    register_->ApplyLanguage(language);
  }
}

void DataMenu::InstrumentsClick() {
  if (register_ == nullptr) {
    // A window of its own that goes with the main window.
    register_ = new InstrumentRegister(session_, window_);
  }
  register_->show();
  register_->raise();
  register_->activateWindow();
  register_->Refresh();
}

void DataMenu::Report(const HistoryOutcome& outcome) {
  if (outcome.Notify) {
    session_.SetPanel(0, Text(RowHistoryUnavailableShort));
    const HistoryLocation location =
        session_.History != nullptr ? session_.History->Location() : HistoryLocation();
    if (outcome.Lasting && location.ConfigLine > 0) {
      session_.ShowNotice({RowHistoryUnavailableShort,
                           {},
                           RowHistoryUrlUnparsed,
                           {QString::number(location.ConfigLine),
                            QDir::toNativeSeparators(location.ConfigFile), location.Why}});
      return;
    }
    session_.ShowNotice({RowHistoryUnavailableShort,
                         {},
                         RowHistoryUnavailable,
                         {Where(location), MaskSecrets(outcome.Error.simplified())}});
  } else if (outcome.Recovered) {
    session_.SetPanel(0, Text(RowHistoryRecovered));
    session_.ClearNotice(RowHistoryUnavailableShort);
    session_.ClearNotice(RowHistoryReadFailed);
  }
}

void DataMenu::Export(HistoryExportKind kind) {
  HistoryService* history = session_.History;
  if (history == nullptr || Exporting()) {
    return;
  }
  // The user asked: the store is tried now, even while it waits to retry
  // after a failure.
  history->Flush();
  const QPointer<DataMenu> menu(this);
  exportJob_ = history->Start<HistoryAnswer<std::vector<StoredInstrument>>>(
      [](HistoryStore& store, HistoryJob&) { return store.Instruments(); }, {},
      [menu, kind](const HistoryAnswer<std::vector<StoredInstrument>>& known) {
        if (menu) {
          menu->exportJob_.reset();
          menu->ChooseAndExport(kind, known);
        }
      });
}

void DataMenu::ChooseAndExport(HistoryExportKind kind,
                               const HistoryAnswer<std::vector<StoredInstrument>>& known) {
  HistoryService* history = session_.History;
  if (history == nullptr) {
    return;
  }
  if (!known.Outcome.Ok) {
    session_.ShowNotice({RowHistoryReadFailed, {known.Outcome.Error.simplified()}, -1, {}});
    return;
  }
  const int64_t now = session_.Clock->Now();
  HistoryExportRequest request;
  request.What = kind;
  if (kind == HistoryExportKind::Readings || known.Value.size() > 1) {
    HistoryExportDialog dialog(kind, known.Value, ConnectedInstrument(session_), now,
                               session_.LanguageIndex, window_);
    if (!RunDialog(dialog)) {
      return;
    }
    request.Range = dialog.Range();
    request.Instrument = dialog.Instrument();
  }

  const LocalTime today = session_.Clock->ToLocal(now);
  // One instrument's records are named by its serial: the one chosen, or
  // the only one the history knows.
  std::optional<InstrumentIdentity> whose = request.Instrument;
  if (!whose && known.Value.size() == 1) {
    whose = known.Value.front().Identity;
  }
  const QString name = DatedCsvName(ExportFileStem(kind, whose), today);
  const QString path = AskPath(QDir::current().filePath(name));
  if (path.isEmpty()) {
    return;
  }

  progress_ = new QProgressDialog(window_);
  progress_->setObjectName(QStringLiteral("ExportProgress"));
  progress_->setWindowTitle(TitleOf(
      Text(kind == HistoryExportKind::Readings ? RowExportReadingsItem : RowExportArchiveItem)));
  progress_->setLabelText(Text(RowExporting).arg(QDir::toNativeSeparators(path)));
  progress_->setCancelButtonText(Text(RowCancel));
  progress_->setRange(0, 1000);
  progress_->setValue(0);
  progress_->setMinimumDuration(0);
  // The main window stays in use: the live tab goes on polling.
  progress_->setWindowModality(Qt::NonModal);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->show();

  const QPointer<DataMenu> menu(this);
  exportJob_ = history->Start<HistoryExportResult>(
      ExportJob(request, path),
      [menu](double share) {
        if (menu && menu->progress_ != nullptr) {
          menu->progress_->setValue(static_cast<int>(share * 1000));
        }
      },
      [menu, path](const HistoryExportResult& result) {
        if (menu) {
          menu->ExportDone(path, result);
        }
      });
  const std::weak_ptr<HistoryJob> job = exportJob_;
  connect(progress_, &QProgressDialog::canceled, this, [this, job] {
    if (const auto running = job.lock()) {
      running->Cancel();
    }
    session_.SetPanel(0, Text(RowExportCancelled));
    EndExport();
  });
}

void DataMenu::ExportDone(const QString& path, const HistoryExportResult& result) {
  const bool cancelled = result.Cancelled || exportJob_ == nullptr;
  EndExport();
  if (cancelled) {
    return;
  }
  if (!result.Ok) {
    session_.ShowNotice({RowExportFailed, {QDir::toNativeSeparators(path), result.Error}, -1, {}});
    return;
  }
  session_.SetPanel(0, Text(RowExportDone).arg(result.Rows));
}

void DataMenu::EndExport() {
  exportJob_.reset();
  if (progress_ != nullptr) {
    progress_->hide();
    progress_->deleteLater();
    progress_ = nullptr;
  }
}

void DataMenu::OpenFolderClick() {
  const HistoryLocation location =
      session_.History != nullptr ? session_.History->Location() : ConfiguredHistoryLocation();
  if (!location.Valid()) {
    session_.ShowError(location.ConfigLine > 0
                           ? Text(RowHistoryUrlUnparsed)
                                 .arg(QString::number(location.ConfigLine),
                                      QDir::toNativeSeparators(location.ConfigFile), location.Why)
                           : Text(RowHistoryUnavailable).arg(Where(location), location.Error));
    return;
  }
  if (location.Engine == HistoryEngine::Postgres) {
    ShowInformation(Text(RowHistoryShared).arg(location.Text()));
    return;
  }
  // The store makes its folder on first use; one not made yet is made now,
  // so the user sees where the file will be.
  const QString folder = HistoryFolder(location);
  if (!QDir().mkpath(folder) || !OpenFolder(QUrl::fromLocalFile(folder))) {
    session_.ShowError(Text(RowHistoryFolderFailed).arg(QDir::toNativeSeparators(folder)));
  }
}

}  // namespace vantor
