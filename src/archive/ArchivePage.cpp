#include "ArchivePage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <memory>

#include "ArchiveHistory.h"
#include "ArchiveRead.h"
#include "HistoryTypes.h"
#include "LinkOutcome.h"
#include "MemoryFilling.h"
#include "MessageTable.h"
#include "StringGrid.h"

namespace vantor {
namespace {

// Texts for a record count larger than the program's copy can hold.
const char* const BoundedCountText[2] = {"Прочитано %1 из %2", "Read %1 of %2"};

// A small arrow glyph for the page buttons, pointing left or right.
QIcon ArrowGlyph(bool right) {
  QPixmap pixmap(9, 9);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  const QPolygon arrow = right ? QPolygon({QPoint(2, 0), QPoint(7, 4), QPoint(2, 8)})
                               : QPolygon({QPoint(6, 0), QPoint(1, 4), QPoint(6, 8)});
  painter.drawPolygon(arrow);
  return QIcon(pixmap);
}

// The bar colour must show with every Qt style, so the bar is drawn by a
// style sheet rather than by the palette, which some styles ignore.
QString BarStyle(const QColor& colour) {
  return QStringLiteral(
             "QProgressBar { border: 1px solid #8c8c8c; background: #f0f0f0; }"
             "QProgressBar::chunk { background-color: %1; }")
      .arg(colour.name());
}

// While a read runs, the window takes only its Cancel button (a click, or
// Space while it has the focus, as it has from the read's start) and Esc,
// which stop the read; any other click or key is dropped, as nothing else
// can run meanwhile.
class ReadInput : public QObject {
 public:
  ReadInput(QWidget* cancel, std::function<void()> stop) : cancel_(cancel), stop_(std::move(stop)) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~ReadInput() override { QCoreApplication::instance()->removeEventFilter(this); }
  ReadInput(const ReadInput&) = delete;
  ReadInput& operator=(const ReadInput&) = delete;

  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape && event->type() == QEvent::KeyPress) {
          stop_();
        }
        return !(watched == cancel_ && key == Qt::Key_Space);
      }
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
        return true;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
        // A window passes these on to the widget under the mouse, where
        // they are judged.
        return watched->isWidgetType() && watched != cancel_;
      default:
        return false;
    }
  }

 private:
  QWidget* cancel_;
  std::function<void()> stop_;
};

}  // namespace

ArchivePage::ArchivePage(Session& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("TabSheet3");
  ServeDuringRead = [this](int) { progressBar2_->setValue(progress_); };
  BuildControls();
}

void ArchivePage::BuildControls() {
  button4_ = new QPushButton(QStringLiteral("Чтение архива"), this);
  button4_->setObjectName("Button4");
  button4_->setGeometry(3, 18, 94, 25);

  button5_ = new QPushButton(QStringLiteral("Стереть архив"), this);
  button5_->setObjectName("Button5");
  button5_->setGeometry(142, 18, 97, 25);

  buttonCancel_ = new QPushButton(QStringLiteral("Отмена"), this);
  buttonCancel_->setObjectName("ButtonCancel");
  buttonCancel_->setGeometry(button4_->geometry());
  buttonCancel_->hide();

  progressBar2_ = new QProgressBar(this);
  progressBar2_->setObjectName("ProgressBar2");
  progressBar2_->setGeometry(264, 22, 145, 17);
  progressBar2_->setTextVisible(false);
  progressBar2_->hide();

  bitBtn1_ = new QPushButton(this);
  bitBtn1_->setObjectName("BitBtn1");
  bitBtn1_->setGeometry(422, 18, 25, 17);
  bitBtn1_->setIcon(ArrowGlyph(false));

  label58_ = new QLabel(QStringLiteral("Страница"), this);
  label58_->setObjectName("Label58");
  label58_->move(463, 3);
  label58_->adjustSize();

  edit6_ = new QLineEdit(this);
  edit6_->setObjectName("Edit6");
  edit6_->setGeometry(453, 16, 64, 21);
  edit6_->setReadOnly(true);  // shows the page; what is typed there means nothing

  bitBtn2_ = new QPushButton(this);
  bitBtn2_->setObjectName("BitBtn2");
  bitBtn2_->setGeometry(523, 18, 25, 17);
  bitBtn2_->setIcon(ArrowGlyph(true));

  label31_ = new QLabel(QStringLiteral("заполнение памяти"), this);
  label31_->setObjectName("Label31");
  label31_->move(564, 3);
  label31_->adjustSize();

  progressBar1_ = new QProgressBar(this);
  progressBar1_->setObjectName("ProgressBar1");
  progressBar1_->setGeometry(564, 22, 142, 17);
  progressBar1_->setRange(0, 100);
  progressBar1_->setValue(0);
  progressBar1_->setTextVisible(false);
  progressBar1_->setStyleSheet(BarStyle(FillGreen));

  label41_ = new QLabel(this);
  label41_->setObjectName("Label41");
  label41_->move(668, 3);
  label41_->setMinimumWidth(40);

  comboBox5_ = new QComboBox(this);
  comboBox5_->setObjectName("ComboBox5");
  comboBox5_->setGeometry(775, 20, 106, 21);
  comboBox5_->addItems({QStringLiteral("Таблица"), QStringLiteral("График")});
  comboBox5_->setCurrentIndex(0);

  grid_ = new StringGrid(this);
  grid_->setObjectName("StringGrid3");
  grid_->setGeometry(3, 49, 384, 416);
  const int widths[StringGrid::ColumnCount] = {35, 74, 114, 137};
  for (int c = 0; c < StringGrid::ColumnCount; ++c) {
    grid_->SetColumnWidth(c, widths[c]);
  }
  grid_->SetDefaultRowHeight(16);
  grid_->hide();

  TimeChartOptions options;
  options.PointSeriesName = QStringLiteral("LineSeries1");
  options.MarkerSize = 2;
  options.NiceValueRange = true;
  options.MinimumFitSeconds = 60;  // a single moment still gets a readable span
  options.Dated = true;            // records of past days: every time with its date
  chart4_ = new TimeChart(chartPoints_, options, session_.LanguageIndex, this);
  chart4_->setObjectName("Chart4");
  chart4_->SetWindowName(MessageText(RowArchiveTab, session_.LanguageIndex).trimmed());
  chart4_->setGeometry(3, 49, 917, 431);
  chart4_->InstrumentName = [this] {
    return session_.PortNumber != 0 ? InstrumentName(IdentityOf(session_.Link.Values()))
                                    : QString();
  };
  chart4_->hide();
  UpdateChartRange();

  connect(button4_, &QPushButton::clicked, this, [this] { Button4Click(); });
  connect(button5_, &QPushButton::clicked, this, [this] { Button5Click(); });
  connect(buttonCancel_, &QPushButton::clicked, this, [this] { session_.CancelAll(); });
  connect(bitBtn1_, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(bitBtn2_, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
  connect(comboBox5_, &QComboBox::currentIndexChanged, this, [this] { ComboBox5Change(); });
}

void ArchivePage::ComputeArchiveLayout() {
  layout_ = ComputeArchiveLayoutSizes();
}

void ArchivePage::ShowMemoryFilling(uint32_t count, bool full) {
  if (layout_.Capacity == 0) {
    ComputeArchiveLayout();
  }
  const MemoryFilling filling = ComputeMemoryFilling(count, full, layout_.Capacity);
  label41_->setText(filling.Text);
  label41_->adjustSize();
  label31_->adjustSize();
  // The caption's text follows the language; the percentage must not run
  // into a caption wider than the design's.
  label41_->move(std::max(668, label31_->x() + label31_->sizeHint().width() + 2), 3);
  progressBar1_->setValue(filling.Position);
  progressBar1_->setStyleSheet(BarStyle(filling.Colour));
}

void ArchivePage::ClearArchiveView() {
  grid_->ClearColumns(0, StringGrid::ColumnCount - 1);
  chartPoints_.Clear();
  if (viewBatch_ == 0) {
    UpdateChartRange();
  }
}

void ArchivePage::ForgetRecords() {
  ClearArchiveView();
  buffer_.Clear();
  recordsRead_ = 0;
  paging_.Reset(0);
  edit6_->clear();
}

void ArchivePage::BeginViewUpdate() {
  ++viewBatch_;
  grid_->BeginUpdate();
}

void ArchivePage::EndViewUpdate() {
  grid_->EndUpdate();
  if (viewBatch_ > 0 && --viewBatch_ == 0) {
    // One redraw for the whole page instead of one per record.
    UpdateChartRange();
  }
}

void ArchivePage::UpdateChartRange() {
  if (chartPoints_.Empty()) {
    const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    chart4_->SetIdleRange(now - 3600000.0, now);
    chart4_->SetValueRange(0, 1);
  } else {
    const double yMin = std::min(0.0, static_cast<double>(chartPoints_.MinY()));
    double yMax = std::max(0.0, static_cast<double>(chartPoints_.MaxY()));
    if (yMax <= yMin) {
      yMax = yMin + 1;
    }
    chart4_->SetValueRange(yMin, yMax + (yMax - yMin) / 7);
  }
  // Three record periods without a record: the instrument was off or its
  // archive was erased in between, and the line says so.
  chart4_->SetGapSeconds(3.0 * static_cast<double>(TypicalSpacing(chartPoints_)));
  chart4_->Refresh();
}

void ArchivePage::AddArchivePoint(const ArchiveTime& time, float value) {
  // The moment the record's local time names, in seconds since 1970, which
  // the date-time axis labels back as local time.
  const std::optional<QDateTime> moment = ArchiveDateTime(time);
  // No point for an all-zero time; the chart refuses a value that is no
  // number, which would flatten or break the whole axis.
  if (!moment) {
    return;
  }
  // Records usually come in time order; the chart sorts those that do not.
  chartPoints_.Add(moment->toSecsSinceEpoch(), value);
  if (viewBatch_ == 0) {
    UpdateChartRange();
  }
}

void ArchivePage::ShowArchiveRecord(const ArchiveRecord& record, int index) {
  const int row = index + 1;
  const ArchiveTime time = DecodeArchiveTime(record);
  grid_->SetCell(0, row, ArchiveIndexText(index));
  grid_->SetCell(1, row, ArchiveValueText(record.Value(), session_.LanguageIndex));
  grid_->SetCell(3, row, ArchiveEventText(record.Flags()));
  grid_->SetCell(2, row, ArchiveTimeText(time));
  AddArchivePoint(time, record.Value());
}

void ArchivePage::ApplyViewChoice() {
  const bool table = comboBox5_->currentIndex() == 0;
  grid_->setVisible(table);
  chart4_->setVisible(!table);
}

void ArchivePage::ComboBox5Change() {
  ApplyViewChoice();
}

void ArchivePage::Button4Click() {
  if (session_.Busy) {
    return;
  }
  // The count is the last poll's: read once the line is free.
  session_.AfterOthers(this, [this] { StartRead(); });
}

void ArchivePage::StartRead() {
  const uint32_t reported = session_.Link.Values().Measurement.ArchiveRecordCount;
  const int count = ArchiveReadCount(reported);
  BeginRead(count);
  auto read = std::make_shared<ArchiveReadResult>();
  session_.Run(
      this, QStringLiteral("archive read"),
      [read, count, history = History()](OperationControl& control) {
        *read = ReadArchive(
            control.Link(), count, history,
            [&control](int known, int total) { control.Progress(known, total); },
            control.StopCheck());
      },
      [this, read, count, reported](const OperationOutcome&) {
        input_.reset();
        ShowRead(*read, count, reported);
      },
      [this, count](int known, int total, const QString&) {
        ReadProgress(count)(known, total);
        if (ServeDuringRead) {
          ServeDuringRead(0);
        }
      },
      true);
}

HistorySink ArchivePage::History() const {
  return {session_.History};
}

void ArchivePage::BeginRead(int count) {
  if (layout_.Capacity == 0) {
    ComputeArchiveLayout();
  }
  // The old page goes as the read starts, not when it ends.
  ClearArchiveView();
  buffer_.Clear();
  recordsRead_ = 0;
  progressBar2_->setMaximum(count);
  progressBar2_->setValue(0);
  progress_ = 0;
  progressBar2_->show();
  // Cancel and Esc stop the read; nothing else is taken meanwhile.
  input_ = std::make_unique<ReadInput>(buttonCancel_, [this] { session_.CancelAll(); });
  // Cancel takes the focus before Button4 hides: else the focus would move
  // on by itself to the next control, the erase button, where the Space
  // meant to stop the read would erase the archive.
  focusBeforeRead_ = window()->focusWidget();
  buttonCancel_->show();
  buttonCancel_->setFocus(Qt::OtherFocusReason);
  button4_->hide();
}

void ArchivePage::EndRead() {
  progressBar2_->hide();
  button4_->show();
  // Back where the focus was, or on the read button; never on the erase
  // button by itself.
  QWidget* back = focusBeforeRead_;
  if (back == nullptr || back == button5_ || back == buttonCancel_ || !back->isVisible()) {
    back = button4_;
  }
  if (buttonCancel_->hasFocus() || window()->focusWidget() == buttonCancel_) {
    back->setFocus(Qt::OtherFocusReason);
  }
  focusBeforeRead_ = nullptr;
  buttonCancel_->hide();
}

ArchiveProgress ArchivePage::ReadProgress(int count) {
  return [this, count](int known, int) {
    // The bar shows the share of the instrument's memory read so far, up
    // to the last slot filled; it is drawn when the window is served, not
    // while the line waits for it.
    const int filled = std::max(0, known - 1);
    progress_ = std::min(filled * count / layout_.Capacity, count);
  };
}

void ArchivePage::ShowRead(const ArchiveReadResult& read, int count, uint32_t reported) {
  // Records that never arrived leave no gap: the rest keep their order, and
  // carry their own times.
  for (const std::optional<ArchiveRecord>& slot : read.Slots) {
    if (slot) {
      buffer_.Store(recordsRead_++, *slot);
    }
  }

  EndRead();
  BeginViewUpdate();
  grid_->SetRowCount(recordsRead_ + 1);
  paging_.Reset(CountSeparators(buffer_, recordsRead_));
  ShowArchivePage();
  EndViewUpdate();
  ApplyViewChoice();
  edit6_->setText(paging_.Text());

  const uint8_t language = session_.LanguageIndex;
  QString outcome = MessageText(OutcomeRow(session_.Link.LastStatus()), language);
  if (read.Stopped) {
    outcome = MessageText(RowArchiveStopped, language).arg(recordsRead_).arg(count);
  } else if (read.Missing > 0) {
    // Records that came but could not be placed are not records that never
    // came: the line left their place open.
    if (read.Unplaced > 0) {
      outcome += MessageText(RowArchiveUnplaced, language).arg(read.Unplaced).arg(count);
    }
    if (read.Missing > read.Unplaced) {
      outcome +=
          MessageText(RowArchiveMissing, language).arg(read.Missing - read.Unplaced).arg(count);
    }
  } else if (read.Retried > 0) {
    outcome += MessageText(RowArchiveRetried, language).arg(read.Retried);
  }
  if (reported > static_cast<uint32_t>(count) && read.Missing == 0 && !read.Stopped) {
    outcome = QString::fromUtf8(BoundedCountText[language == 1 ? 1 : 0]).arg(count).arg(reported);
  }
  session_.SetPanel(0, outcome);
}

void ArchivePage::ShowArchivePage() {
  BeginViewUpdate();
  // Showing a page again (after a language switch, say) must not plot its
  // points twice.
  ClearArchiveView();
  int row = 0;
  for (int slot : PageSlots(buffer_, recordsRead_, paging_.Current())) {
    ShowArchiveRecord(buffer_[slot], row++);
  }
  EndViewUpdate();
}

void ArchivePage::BitBtn1Click() {
  BeginViewUpdate();
  ClearArchiveView();
  paging_.Previous();
  edit6_->setText(paging_.Text());
  ShowArchivePage();
  EndViewUpdate();
  ApplyViewChoice();
}

void ArchivePage::BitBtn2Click() {
  BeginViewUpdate();
  ClearArchiveView();
  paging_.Next();
  edit6_->setText(paging_.Text());
  ShowArchivePage();
  EndViewUpdate();
  ApplyViewChoice();
}

void ArchivePage::Button5Click() {
  if (session_.Busy) {
    return;
  }
  // The bar is set up once the read's count is known.
  auto readCount = std::make_shared<int>(0);
  auto erase = std::make_shared<ArchiveSafeErase>();
  session_.Run(
      this, QStringLiteral("archive erase"),
      [erase, history = History()](OperationControl& control) {
        ArchiveEraseSteps steps;
        // A count below zero: the read begins.
        steps.OnReadStart = [&control](int count) { control.Progress(-1, count); };
        steps.OnProgress = [&control](int known, int count) { control.Progress(known, count); };
        steps.StopRequested = control.StopCheck();
        *erase = EraseArchive(control.Link(), history, steps);
      },
      [this, erase, readCount](const OperationOutcome&) {
        input_.reset();
        ShowErase(*erase, *readCount);
      },
      [this, readCount](int known, int count, const QString&) {
        if (known < 0) {
          *readCount = count;
          BeginRead(count);
          return;
        }
        ReadProgress (*readCount)(known, count);
        if (ServeDuringRead) {
          ServeDuringRead(0);
        }
      },
      true);
}

void ArchivePage::ShowErase(const ArchiveSafeErase& erase, int readCount) {
  using Outcome = ArchiveSafeErase::Outcome;
  switch (erase.Result) {
    case Outcome::Erased:
      break;
    case Outcome::ReadFailed:
      // Nothing was erased: the read shows as a read of its own does.
      ShowRead(erase.Read, readCount, erase.RecordCount);
      return;
    case Outcome::NotKept:
      ShowRead(erase.Read, readCount, erase.RecordCount);
      session_.SetPanel(0, MessageText(RowEraseNotKept, session_.LanguageIndex));
      session_.ShowError(
          MessageText(RowEraseNotKeptReason, session_.LanguageIndex).arg(erase.History.Error));
      return;
    case Outcome::Unanswered:
      // Nothing was erased; what was read first, if anything, shows.
      if (erase.ReadFirst) {
        ShowRead(erase.Read, readCount, erase.RecordCount);
      } else {
        progressBar2_->hide();
      }
      session_.SetPanel(0, MessageText(RowEraseNotKept, session_.LanguageIndex));
      session_.ShowError(MessageText(RowEraseUnanswered, session_.LanguageIndex)
                             .arg(static_cast<double>(HistoryAnswerWaitMs) / 1000.0));
      return;
    default:
      // Nothing was erased: the view stays as it was.
      EndRead();
      session_.SetPanel(0, QStringLiteral("Ошибка связи "));
      return;
  }
  EndRead();
  ClearArchiveView();
  session_.SetPanel(0, QStringLiteral("Записано "));
  paging_.Reset(0);
  progressBar1_->setValue(0);
  edit6_->clear();
  label41_->setText(QStringLiteral(" "));
  grid_->ClearColumns(0, 2);
  // The instrument's archive is gone, so is the copy: paging must not show
  // erased records as if they were still there.
  buffer_.Clear();
  recordsRead_ = 0;
}

void ArchivePage::ApplyLanguage(uint8_t language) {
  SetCaptions({{button4_, RowReadArchive},
               {button5_, RowEraseArchive},
               {buttonCancel_, RowCancel},
               {label58_, RowPage},
               {label31_, RowMemoryFilling}},
              language);
  label58_->adjustSize();
  label31_->adjustSize();
  chart4_->SetWindowName(MessageText(RowArchiveTab, language).trimmed());
  chart4_->ApplyLanguage(language);
}

}  // namespace vantor
