#include "SettingsPage.h"

#include <memory>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "Dictionary.h"
#include "FixedColumnGrid.h"
#include "MessageTable.h"
#include "NumberText.h"
#include "SettingsHistory.h"
#include "SettingsOperations.h"

namespace vantor {
namespace {

constexpr int GridRowHeight = 20;

// Labels get room for the longer English captions the main window may set.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int width = 200) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(left, top, width, label->sizeHint().height());
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, int left, int top,
                        int width, int height) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setGeometry(left, top, width, height);
  return button;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, const QStringList& items, int selected,
                     int left, int top) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->addItems(items);
  box->setCurrentIndex(selected);
  box->setGeometry(left, top, 145, 21);
  return box;
}

FixedColumnGrid* MakeGrid(QWidget* parent, const char* name, int firstWidth, int secondWidth,
                          int rows, const QRect& geometry) {
  auto* grid = new FixedColumnGrid(2, rows, GridRowHeight, parent);
  grid->setObjectName(name);
  grid->SetColumnWidth(0, firstWidth);
  grid->SetColumnWidth(1, secondWidth);
  grid->setGeometry(geometry);
  return grid;
}

QString MemberName(int member, uint8_t languageIndex) {
  const MemberDescriptor& descriptor = VariableDictionary[IndexSettings].Members[member];
  return QString::fromUtf8(languageIndex == 1 ? descriptor.EnglishName : descriptor.RussianName);
}

}  // namespace

SettingsPage::SettingsPage(Session& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("TabSheet2");
  BuildControls();
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button7, &QPushButton::clicked, this, [this] { Button7Click(); });
  connect(Button8, &QPushButton::clicked, this, [this] { Button8Click(); });
}

void SettingsPage::BuildControls() {
  const QStringList numbers = {"1", "2", "3"};

  Label11 = MakeLabel(this, "Label11", "Порог МАЭД", 19, 17, 240);
  StringGrid2 = MakeGrid(this, "StringGrid2", 150, 88, 3, {14, 36, 244, 67});
  Label12 = MakeLabel(this, "Label12", "Порог АЭД", 282, 16, 240);
  StringGrid5 = MakeGrid(this, "StringGrid5", 150, 88, 3, {282, 35, 244, 67});
  Label10 = MakeLabel(this, "Label10", "Используемый порог", 21, 125);
  ComboBox3 = MakeCombo(this, "ComboBox3", numbers, 0, 19, 144);
  Label13 = MakeLabel(this, "Label13", "Используемый порог", 282, 125);
  ComboBox4 = MakeCombo(this, "ComboBox4", numbers, 0, 282, 144);

  LabeledEdit1 = new QLineEdit(this);
  LabeledEdit1->setObjectName("LabeledEdit1");
  LabeledEdit1->setGeometry(19, 200, 121, 21);
  LabeledEdit1Label = new QLabel("Период записи в архив, с", this);
  LabeledEdit1Label->setObjectName("LabeledEdit1Label");
  const int labelHeight = LabeledEdit1Label->sizeHint().height();
  LabeledEdit1Label->setGeometry(19, 200 - labelHeight - 3, 200, labelHeight);
  LabeledEdit1Label->setBuddy(LabeledEdit1);

  Label33 = MakeLabel(this, "Label33", "Звук", 19, 246);
  ComboBox1 = MakeCombo(this, "ComboBox1", {"Выключен", "Включен"}, -1, 19, 265);
  Label32 = MakeLabel(this, "Label32", "Язык", 21, 296);
  ComboBox2 = MakeCombo(this, "ComboBox2", {"English", "Русский"}, -1, 19, 313);
  Label36 = MakeLabel(this, "Label36", "Яркость дисплея", 21, 361);

  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setObjectName("TrackBar1");
  TrackBar1->setRange(0, 10);
  TrackBar1->setValue(0);
  TrackBar1->setPageStep(2);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setTickInterval(1);
  TrackBar1->setGeometry(14, 380, 150, 45);

  // Screen choices: built but hidden; reading and writing leave them alone.
  GroupBox4 = new QGroupBox("Экраны", this);
  GroupBox4->setObjectName("GroupBox4");
  GroupBox4->setGeometry(203, 261, 128, 150);
  const char* screens[] = {"МЭД подробно", "МЭД кратко", "Поиск", "Спектр", "Доза"};
  for (int i = 0; i < 5; ++i) {
    auto* box = new QCheckBox(QString::fromUtf8(screens[i]), GroupBox4);
    box->setObjectName(QStringLiteral("CheckBox%1").arg(6 + i));
    box->setGeometry(10, 20 + i * 24, 110, 17);
    ScreenChoices[static_cast<size_t>(i)] = box;
  }
  GroupBox4->hide();

  Button1 = MakeButton(this, "Button1", "Считать", 21, 431, 87, 25);
  Button2 = MakeButton(this, "Button2", "Записать", 142, 431, 88, 25);
  Button13 = MakeButton(this, "Button13", "PrintScreen", 265, 431, 75, 25);
  StringGrid1 = MakeGrid(this, "StringGrid1", 240, 106, 15, {561, 35, 352, 322});
  Button8 = MakeButton(this, "Button8", "Записать", 561, 373, 75, 25);
  Button7 = MakeButton(this, "Button7", "Заводские настройки", 791, 373, 129, 25);
}

void SettingsPage::ApplyLanguage(uint8_t language) {
  SetCaptions({{Label11, RowDoseRateAlarmCaption},
               {Label12, RowDoseAlarmCaption},
               {Label32, RowLanguage},
               {Label33, RowSound},
               {Label36, RowBrightness},
               {Button1, RowRead},
               {Button2, RowWrite},
               {ScreenChoices[0], RowScreenMain},
               {ScreenChoices[1], RowScreenShort},
               {ScreenChoices[2], RowScreenSearch},
               {ScreenChoices[3], RowScreenSpectrum},
               {ScreenChoices[4], RowScreenDose}},
              language);
}

HistorySink SettingsPage::History() const {
  return {session_.History};
}

int SettingsPage::ShowSettingsRead(const SettingsRead& read) {
  if (!read.Identified()) {
    return 0;
  }
  shownService_ = FillParameterGrid(*StringGrid1, IdService, session_.Link.Values());
  if (read.UserRead) {
    lastRead_ = read.User;
    FillUserSettings(lastRead_);
    shownSettings_ = Entries();
  }
  if (read.FirmwareRead) {
    session_.SetPanel(1, read.Firmware);
  }
  return 1;
}

void SettingsPage::ClearValues() {
  for (int row = 0; row < 3; ++row) {
    StringGrid2->SetCell(1, row, QString());
    StringGrid5->SetCell(1, row, QString());
  }
  for (int row = 0; row < StringGrid1->rowCount(); ++row) {
    StringGrid1->SetCell(1, row, QString());
  }
  LabeledEdit1->clear();
  lastRead_ = UserSettings{};
  shownSettings_.reset();
  shownService_.reset();
}

void SettingsPage::FillUserSettings(const UserSettings& settings) {
  const uint8_t language = session_.LanguageIndex;
  for (int row = 0; row < 3; ++row) {
    StringGrid2->SetCell(0, row, MemberName(1 + row, language));
    StringGrid2->SetCell(1, row, ThresholdText(settings.DoseRateAlarm[row]));
    StringGrid5->SetCell(0, row, MemberName(5 + row, language));
    StringGrid5->SetCell(1, row, ThresholdText(settings.DoseAlarm[row]));
  }
  ComboBox3->setCurrentIndex(ItemIndexFromNumber(settings.DoseRateAlarmNumber, ComboBox3->count()));
  ComboBox4->setCurrentIndex(ItemIndexFromNumber(settings.DoseAlarmNumber, ComboBox4->count()));
  ComboBox1->setCurrentIndex(static_cast<int>(settings.Flags & 1u));
  ComboBox2->setCurrentIndex(ItemIndexFromNumber(settings.DisplayLanguage, ComboBox2->count()));
  TrackBar1->setValue(SliderPositionFromBrightness(settings.Brightness));
  LabeledEdit1->setText(PeriodText(settings.ArchivePeriod));
}

UserSettingsEntries SettingsPage::Entries() const {
  UserSettingsEntries entries;
  entries.DoseRateAlarmIndex = ComboBox3->currentIndex();
  entries.DoseAlarmIndex = ComboBox4->currentIndex();
  for (int row = 0; row < 3; ++row) {
    entries.DoseRateAlarms[row] = StringGrid2->Cell(1, row);
    entries.DoseAlarms[row] = StringGrid5->Cell(1, row);
  }
  entries.ArchivePeriod = LabeledEdit1->text();
  entries.SliderPosition = TrackBar1->value();
  entries.DisplayLanguageIndex = ComboBox2->currentIndex();
  entries.SoundIndex = ComboBox1->currentIndex();
  return entries;
}

void SettingsPage::Button1Click() {
  if (session_.Busy) {
    return;
  }
  auto read = std::make_shared<SettingsRead>();
  session_.Run(
      this, QStringLiteral("settings read"),
      [read](OperationControl& control) { *read = ReadSettings(control.Link()); },
      [this, read](const OperationOutcome&) {
        if (ShowSettingsRead(*read) != 0) {
          session_.SetPanel(0, MessageText(RowRead, session_.LanguageIndex));
        } else if (OnReadFailed) {
          OnReadFailed();
        }
      });
}

void SettingsPage::Button2Click() {
  if (session_.Busy) {
    return;
  }
  UserSettings settings;
  try {
    settings =
        CollectUserSettings(Entries(), lastRead_, shownSettings_ ? &*shownSettings_ : nullptr);
  } catch (const ConversionError& error) {
    session_.ShowError(QString::fromUtf8(error.what()));
    return;
  }
  // The outcome is the write's own text in panel 0.
  session_.Run(this, QStringLiteral("settings write"),
               [settings, history = History()](OperationControl& control) {
                 WriteUserSettings(control.Link(), settings, history);
               },
               {});
}

void SettingsPage::Button7Click() {
  if (session_.Busy) {
    return;
  }
  session_.Run(this, QStringLiteral("factory settings"),
               [history = History()](OperationControl& control) {
                 RestoreFactorySettings(control.Link(), history);
               },
               {});
}

void SettingsPage::Button8Click() {
  if (session_.Busy) {
    return;
  }
  // The grid is read against the values the link holds once the line is
  // free.
  session_.AfterOthers(this, [this] { WriteServiceGrid(); });
}

void SettingsPage::WriteServiceGrid() {
  ValueStorage edited = session_.Link.Values();
  try {
    ParseParameterGrid(*StringGrid1, IdService, edited, shownService_ ? &*shownService_ : nullptr);
  } catch (const ConversionError& error) {
    session_.ShowError(QString::fromUtf8(error.what()));
    return;
  }
  session_.Run(this, QStringLiteral("service write"),
               [service = edited.Service, history = History()](OperationControl& control) {
                 WriteServiceParameters(control.Link(), service, history);
               },
               {});
}

}  // namespace vantor
