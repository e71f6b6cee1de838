#pragma once
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "HistorySink.h"
#include "ParameterGrid.h"
#include "Session.h"
#include "SettingsOperations.h"
#include "SettingsText.h"
#include "ValueStorage.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace vantor {

// The settings tab (TabSheet2): user settings, service parameter grid,
// factory settings; it also carries the PrintScreen button (Button13), whose
// handler the main window connects. Controls are found by their design
// names (objectName).
class SettingsPage : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsPage(Session& session, QWidget* parent = nullptr);

  // Fills the tab from a read of variables 3, 4, 12 and 10 (ReadSettings,
  // run on the engine, also the connection test of a port); 1 exactly when
  // the read of variable 3 succeeded.
  int ShowSettingsRead(const SettingsRead& read);

  // Empties every value the tab shows and forgets the last read, as before
  // the first one (another instrument is on the line): a write then sends
  // nothing of the other instrument's.
  void ClearValues();

  // "Считать": reads the tab; on failure calls OnReadFailed.
  void Button1Click();
  // "Записать" under the thresholds: sends the user settings (variable 4).
  void Button2Click();
  // "Заводские настройки": the instrument restores its factory settings.
  void Button7Click();
  // "Записать" under the service grid: sends the service parameters.
  void Button8Click();

  // Captions of the tab in `language` (0 Russian, 1 English); the threshold
  // names follow at the next read.
  void ApplyLanguage(uint8_t language);

  // Called when "Считать" fails; the main window connects it to the live
  // tab's ResetLiveDisplay.
  std::function<void()> OnReadFailed;

 private:
  void WriteServiceGrid();
  void BuildControls();
  HistorySink History() const;  // the session's, for the writes
  void FillUserSettings(const UserSettings& settings);
  UserSettingsEntries Entries() const;

  Session& session_;
  // Variable 4 as the last successful read brought it (zeros before any):
  // what a write sends for everything the page does not show.
  UserSettings lastRead_;
  // The controls as that read left them (none before any): an entry still
  // showing this sends the value read rather than its converted text.
  std::optional<UserSettingsEntries> shownSettings_;
  // The service grid as the last read of variable 3 filled it.
  std::optional<ShownParameters> shownService_;

  QLabel* Label11 = nullptr;
  FixedColumnGrid* StringGrid2 = nullptr;
  QLabel* Label12 = nullptr;
  FixedColumnGrid* StringGrid5 = nullptr;
  QLabel* Label10 = nullptr;
  QComboBox* ComboBox3 = nullptr;
  QLabel* Label13 = nullptr;
  QComboBox* ComboBox4 = nullptr;
  QLabel* LabeledEdit1Label = nullptr;
  QLineEdit* LabeledEdit1 = nullptr;
  QLabel* Label33 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QLabel* Label32 = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QLabel* Label36 = nullptr;
  QSlider* TrackBar1 = nullptr;
  QGroupBox* GroupBox4 = nullptr;
  std::array<QCheckBox*, 5> ScreenChoices{};  // CheckBox6..CheckBox10
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button13 = nullptr;
  FixedColumnGrid* StringGrid1 = nullptr;
  QPushButton* Button8 = nullptr;
  QPushButton* Button7 = nullptr;
};

}  // namespace vantor
