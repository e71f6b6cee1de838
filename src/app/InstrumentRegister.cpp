#include "InstrumentRegister.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "DataMenu.h"
#include "EventTexts.h"
#include "HistoryService.h"
#include "LiveTexts.h"
#include "MessageTable.h"
#include "Scaling.h"
#include "WindowStyle.h"

namespace vantor {
namespace {

using SummariesAnswer = HistoryAnswer<std::vector<InstrumentSummary>>;
using EventsAnswer = HistoryAnswer<std::vector<StoredEvent>>;

// The kinds in the order the filter offers them.
constexpr EventKind FilterKinds[] = {EventKind::SettingsWrite, EventKind::ServiceWrite,
                                     EventKind::FactoryReset,  EventKind::ClockSet,
                                     EventKind::DoseReset,     EventKind::ArchiveErase};

const QString Nothing = QStringLiteral("—");

QTableWidgetItem* Cell(const QString& text, bool number = false) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  if (number) {
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  return item;
}

}  // namespace

InstrumentRegister::InstrumentRegister(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), language_(session.LanguageIndex) {
  setObjectName(QStringLiteral("InstrumentRegister"));
  setFont(WindowFont());
  if (parent != nullptr) {
    setWindowIcon(parent->window()->windowIcon());
  }
  resize(980, 620);
  // Esc and Ctrl+W close it, as they close the chart's own window.
  for (const QKeySequence& keys :
       {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
  }
  auto* layout = new QVBoxLayout(this);

  list_ = new QTableWidget(0, ListColumns, this);
  list_->setObjectName(QStringLiteral("RegisterList"));
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->verticalHeader()->hide();
  list_->horizontalHeader()->setStretchLastSection(true);
  list_->setWordWrap(false);
  layout->addWidget(list_, 2);

  auto* listTools = new QHBoxLayout;
  refresh_ = new QPushButton(this);
  refresh_->setObjectName(QStringLiteral("RegisterRefresh"));
  listTools->addWidget(refresh_);
  listTools->addStretch(1);
  layout->addLayout(listTools);

  logTitle_ = new QLabel(this);
  logTitle_->setObjectName(QStringLiteral("RegisterLogTitle"));
  QFont bold = font();
  bold.setBold(true);
  logTitle_->setFont(bold);
  layout->addWidget(logTitle_);

  auto* filter = new QHBoxLayout;
  kindLabel_ = new QLabel(this);
  kind_ = new QComboBox(this);
  kind_->setObjectName(QStringLiteral("RegisterKind"));
  kind_->addItem(QString());
  for (const EventKind kind : FilterKinds) {
    kind_->addItem(QString(), static_cast<int>(kind));
  }
  kindLabel_->setBuddy(kind_);
  allTime_ = new QCheckBox(this);
  allTime_->setObjectName(QStringLiteral("RegisterAllTime"));
  allTime_->setChecked(true);
  const auto dateEdit = [this](const char* name, int64_t seconds) {
    const LocalTime day = session_.Clock->ToLocal(seconds);
    auto* edit = new QDateEdit(QDate(day.Year, day.Month, day.Day), this);
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edit->setCalendarPopup(true);
    edit->setEnabled(false);
    return edit;
  };
  const int64_t now = session_.Clock->Now();
  fromLabel_ = new QLabel(this);
  from_ = dateEdit("RegisterFrom", now - int64_t{30} * 86400);
  toLabel_ = new QLabel(this);
  to_ = dateEdit("RegisterTo", now);
  fromLabel_->setBuddy(from_);
  toLabel_->setBuddy(to_);
  export_ = new QPushButton(this);
  export_->setObjectName(QStringLiteral("RegisterExport"));
  export_->setEnabled(false);
  filter->addWidget(kindLabel_);
  filter->addWidget(kind_);
  filter->addSpacing(12);
  filter->addWidget(allTime_);
  filter->addWidget(fromLabel_);
  filter->addWidget(from_);
  filter->addWidget(toLabel_);
  filter->addWidget(to_);
  filter->addStretch(1);
  filter->addWidget(export_);
  layout->addLayout(filter);

  log_ = new QTreeWidget(this);
  log_->setObjectName(QStringLiteral("RegisterLog"));
  log_->setColumnCount(LogColumns);
  log_->setRootIsDecorated(true);
  log_->setUniformRowHeights(true);
  log_->setSelectionMode(QAbstractItemView::SingleSelection);
  layout->addWidget(log_, 3);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("RegisterStatus"));
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);
  layout->addWidget(status_);

  connect(refresh_, &QPushButton::clicked, this, [this] { Refresh(); });
  connect(export_, &QPushButton::clicked, this, [this] { ExportClick(); });
  connect(list_, &QTableWidget::itemSelectionChanged, this, [this] { LoadLog(); });
  connect(kind_, &QComboBox::currentIndexChanged, this, [this] { LoadLog(); });
  connect(allTime_, &QCheckBox::toggled, this, [this](bool all) {
    from_->setEnabled(!all);
    to_->setEnabled(!all);
    LoadLog();
  });
  connect(from_, &QDateEdit::dateChanged, this, [this] { LoadLog(); });
  connect(to_, &QDateEdit::dateChanged, this, [this] { LoadLog(); });

  AskPath = [this](const QString& suggested) {
    // Qt's own dialog, which speaks the program's language.
    return QFileDialog::getSaveFileName(this, QString(), suggested, QStringLiteral("CSV (*.csv)"),
                                        nullptr, QFileDialog::DontUseNativeDialog);
  };
  ApplyLanguage(language_);
}

InstrumentRegister::~InstrumentRegister() {
  for (const auto& job : {listJob_, logJob_, exportJob_}) {
    if (job) {
      job->Cancel();
    }
  }
}

QString InstrumentRegister::Text(int row) const {
  return MessageText(row, language_);
}

QString InstrumentRegister::TimeText(int64_t ms) const {
  const int64_t seconds = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
  const LocalTime at = session_.Clock->ToLocal(seconds);
  return QStringLiteral("%1.%2.%3 %4:%5:%6")
      .arg(at.Day, 2, 10, QLatin1Char('0'))
      .arg(at.Month, 2, 10, QLatin1Char('0'))
      .arg(at.Year)
      .arg(at.Hour, 2, 10, QLatin1Char('0'))
      .arg(at.Minute, 2, 10, QLatin1Char('0'))
      .arg(at.Second, 2, 10, QLatin1Char('0'));
}

void InstrumentRegister::ApplyLanguage(uint8_t language) {
  language_ = language;
  setWindowTitle(TitleOf(Text(RowInstrumentsItem)));
  list_->setHorizontalHeaderLabels(
      {Text(RowSerialColumn), Text(RowFirmware), Text(RowDeviceTypeColumn),
       Text(RowDeviceDataColumn), Text(RowFirstSeen), Text(RowLastSeen), Text(RowLastReadingColumn),
       Text(RowRecordsKept), Text(RowLastArchiveRead)});
  log_->setHeaderLabels({Text(RowTimeColumn), Text(RowEventColumn), Text(RowWhoColumn),
                         Text(RowComputerColumn), Text(RowDetailsColumn)});
  refresh_->setText(Text(RowRefresh));
  kindLabel_->setText(Text(RowEventColumn));
  kind_->setItemText(0, Text(RowAllEvents));
  for (int i = 0; i < static_cast<int>(std::size(FilterKinds)); ++i) {
    kind_->setItemText(i + 1, EventKindText(FilterKinds[i], language_));
  }
  allTime_->setText(Text(RowAllTime));
  fromLabel_->setText(Text(RowExportFrom));
  toLabel_->setText(Text(RowExportTo));
  export_->setText(Text(RowExportLog));
  FillList();
  FillLog();
  SetStatus(statusRow_, statusArgs_);
}

void InstrumentRegister::SetStatus(int row, const QStringList& args) {
  statusRow_ = row;
  statusArgs_ = args;
  QString text = row >= 0 ? Text(row) : QString();
  // All at once, so a % in a file name or a reason stays as it is.
  if (args.size() == 1) {
    text = text.arg(args[0]);
  } else if (args.size() >= 2) {
    text = text.arg(args[0], args[1]);
  }
  status_->setText(text);
}

std::optional<InstrumentIdentity> InstrumentRegister::Selected() const {
  const int row = list_->currentRow();
  if (row < 0 || static_cast<size_t>(row) >= instruments_.size() ||
      list_->selectedItems().isEmpty()) {
    return std::nullopt;
  }
  return instruments_[static_cast<size_t>(row)].Instrument.Identity;
}

TimeRange InstrumentRegister::Range() const {
  if (allTime_->isChecked()) {
    return {};
  }
  const auto startOf = [this](const QDate& date) {
    LocalTime day;
    day.Year = date.year();
    day.Month = date.month();
    day.Day = date.day();
    return session_.Clock->FromLocal(day) * 1000;
  };
  // Both days whole.
  return {startOf(from_->date()), startOf(to_->date().addDays(1))};
}

std::vector<EventKind> InstrumentRegister::Kinds() const {
  if (kind_->currentIndex() <= 0) {
    return {};
  }
  return {static_cast<EventKind>(kind_->currentData().toInt())};
}

void InstrumentRegister::Refresh() {
  HistoryService* history = session_.History;
  if (history == nullptr) {
    return;
  }
  // The user asked: the store is tried now, even while it waits to retry
  // after a failure, and what waits for it is in the answer.
  history->Flush();
  if (listJob_) {
    listJob_->Cancel();
  }
  std::optional<InstrumentIdentity> keep = Selected();
  if (!keep) {
    keep = ConnectedInstrument(session_);
  }
  const int generation = ++listGeneration_;
  SetStatus(RowHistoryReading);
  const QPointer<InstrumentRegister> self(this);
  listJob_ = history->Start<SummariesAnswer>(
      [](HistoryStore& store, HistoryJob&) { return store.Summaries(); }, {},
      [self, generation, keep](const SummariesAnswer& answer) {
        if (self && generation == self->listGeneration_) {
          self->listJob_.reset();
          self->ShowInstruments(answer, keep);
        }
      });
}

void InstrumentRegister::ShowInstruments(const SummariesAnswer& answer,
                                         const std::optional<InstrumentIdentity>& keep) {
  if (!answer.Outcome.Ok) {
    SetStatus(RowHistoryReadFailed, {answer.Outcome.Error.simplified()});
    return;
  }
  instruments_ = answer.Value;
  SetStatus(instruments_.empty() ? RowNoInstruments : -1);
  FillList();
  int row = instruments_.empty() ? -1 : 0;
  for (size_t i = 0; i < instruments_.size(); ++i) {
    if (keep && instruments_[i].Instrument.Identity == *keep) {
      row = static_cast<int>(i);
    }
  }
  {
    const QSignalBlocker quiet(list_);
    list_->clearSelection();
    if (row >= 0) {
      list_->selectRow(row);
    }
  }
  LoadLog();
}

void InstrumentRegister::FillList() {
  const QSignalBlocker quiet(list_);
  const int current = list_->currentRow();
  list_->setRowCount(static_cast<int>(instruments_.size()));
  for (size_t i = 0; i < instruments_.size(); ++i) {
    const InstrumentSummary& s = instruments_[i];
    const InstrumentIdentity& identity = s.Instrument.Identity;
    QString reading = Nothing;
    if (s.LastReading) {
      const ReadingText rate = RateReadingText(s.LastReading->DoseRate, s.LastReading->Mode);
      reading =
          QStringLiteral("%1 %2, %3")
              .arg(
                  rate.Value.trimmed(),
                  QString::fromUtf8(DoseRateUnit(s.LastReading->Mode, rate.PrefixIndex, language_)),
                  TimeText(s.LastReading->AtMs));
    }
    QString read = Nothing;
    if (s.LastReadMs) {
      read = s.LastReadComplete ? Text(RowReadComplete).arg(TimeText(*s.LastReadMs))
                                : Text(RowReadIncomplete)
                                      .arg(TimeText(*s.LastReadMs))
                                      .arg(s.LastReadPositions)
                                      .arg(s.LastReadDeviceCount);
    }
    const int row = static_cast<int>(i);
    const QString serial = SerialText(identity.DeviceData);
    list_->setItem(row, ColSerial, Cell(serial.isEmpty() ? Nothing : serial));
    list_->setItem(row, ColFirmware, Cell(identity.Firmware.trimmed()));
    list_->setItem(row, ColDeviceType, Cell(QString::number(identity.DeviceType), true));
    list_->setItem(row, ColDeviceData, Cell(DeviceDataHex(identity)));
    list_->setItem(row, ColFirstSeen, Cell(TimeText(s.Instrument.FirstSeenMs)));
    list_->setItem(row, ColLastSeen, Cell(TimeText(s.LastSeenMs)));
    list_->setItem(row, ColLastReading, Cell(reading));
    list_->setItem(row, ColRecordsKept, Cell(QString::number(s.RecordsKept), true));
    list_->setItem(row, ColLastRead, Cell(read));
  }
  if (current >= 0 && current < list_->rowCount()) {
    list_->setCurrentCell(current, 0);
  }
  list_->resizeColumnsToContents();
}

void InstrumentRegister::LoadLog() {
  HistoryService* history = session_.History;
  const std::optional<InstrumentIdentity> instrument = Selected();
  if (logJob_) {
    logJob_->Cancel();
    logJob_.reset();
  }
  const int generation = ++logGeneration_;
  logOf_ = instrument;
  export_->setEnabled(instrument.has_value() && !Exporting());
  if (!instrument || history == nullptr) {
    events_.clear();
    FillLog();
    return;
  }
  const TimeRange range = Range();
  const std::vector<EventKind> kinds = Kinds();
  const QPointer<InstrumentRegister> self(this);
  logJob_ = history->Start<EventsAnswer>(
      [instrument = *instrument, range, kinds](HistoryStore& store, HistoryJob&) {
        EventsAnswer answer;
        answer.Outcome = store.VisitEvents(
            instrument, range,
            [&answer](const StoredEvent& event) {
              answer.Value.push_back(event);
              return true;
            },
            kinds);
        return answer;
      },
      {},
      [self, generation](const EventsAnswer& answer) {
        if (self && generation == self->logGeneration_) {
          self->logJob_.reset();
          self->ShowEvents(answer);
        }
      });
}

void InstrumentRegister::ShowEvents(const EventsAnswer& answer) {
  if (!answer.Outcome.Ok) {
    SetStatus(RowHistoryReadFailed, {answer.Outcome.Error.simplified()});
    return;
  }
  events_ = answer.Value;
  FillLog();
}

void InstrumentRegister::FillLog() {
  log_->clear();
  logTitle_->setText(Text(RowChangeLog).arg(logOf_ ? InstrumentText(*logOf_) : Nothing));
  for (const StoredEvent& stored : events_) {
    const HistoryEvent& e = stored.Event;
    const ActorParts actor = SplitActor(e.Actor);
    auto* item =
        new QTreeWidgetItem(log_, {TimeText(e.AtMs), EventKindText(e.Kind, language_), actor.User,
                                   actor.Computer, EventDetailsText(e, language_)});
    for (const MemberChange& change : e.Changes) {
      auto* member = new QTreeWidgetItem(item, {MemberChangeText(e.Kind, change, language_)});
      member->setFirstColumnSpanned(true);
    }
  }
  log_->expandAll();
  for (int column = 0; column < LogColumns - 1; ++column) {
    log_->resizeColumnToContents(column);
  }
}

void InstrumentRegister::ExportClick() {
  HistoryService* history = session_.History;
  if (history == nullptr || !logOf_ || Exporting()) {
    return;
  }
  const LocalTime today = session_.Clock->ToLocal(session_.Clock->Now());
  const QString name =
      DatedCsvName(QStringLiteral("vantor-events-") + InstrumentFilePart(*logOf_), today);
  const QString path = AskPath(QDir::current().filePath(name));
  if (path.isEmpty()) {
    return;
  }
  HistoryExportRequest request;
  request.What = HistoryExportKind::Events;
  request.Instrument = logOf_;
  request.Range = Range();
  request.Kinds = Kinds();
  SetStatus(RowExporting, {QDir::toNativeSeparators(path)});
  export_->setEnabled(false);
  const QPointer<InstrumentRegister> self(this);
  exportJob_ = history->Start<HistoryExportResult>(ExportJob(request, path), {},
                                                   [self, path](const HistoryExportResult& result) {
                                                     if (self) {
                                                       self->ExportDone(path, result);
                                                     }
                                                   });
}

void InstrumentRegister::ExportDone(const QString& path, const HistoryExportResult& result) {
  exportJob_.reset();
  export_->setEnabled(logOf_.has_value());
  if (result.Ok) {
    SetStatus(RowExportDone, {QString::number(result.Rows)});
  } else if (!result.Cancelled) {
    SetStatus(RowExportFailed, {QDir::toNativeSeparators(path), result.Error});
  }
}

}  // namespace vantor
