#pragma once
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "ValueStorage.h"

namespace vantor {

// Text rules of the settings tab, free of widgets. Conversions throw
// ConversionError (NumberText.h) with the message the user is shown.

// A float entry: the locale's text to float, refused like a text that does
// not convert when the value does not fit a 32-bit float (or is not finite).
float FloatFromText(const QString& text);

// A threshold: fixed notation with 2 decimals (scientific from 1e8 up).
QString ThresholdText(float value);
// The archive period as the instrument's signed 16-bit view of it.
QString PeriodText(uint16_t seconds);

// Brightness runs 0..250 in steps of 25; a value between steps takes the
// nearest slider position, and the slider stays within 0..10.
int SliderPositionFromBrightness(uint8_t brightness);
uint8_t BrightnessFromSlider(int position);

// Item of a combo box for a number the instrument sent; -1 (no selection)
// when the box has no such item.
int ItemIndexFromNumber(uint32_t number, int itemCount);

// Why user settings hold a value outside what the settings page can set: a
// threshold number other than the three it offers, a display language
// other than its two, a brightness beyond the slider's 0..250, a threshold
// that is no finite number. None when every value is within.
std::optional<QString> UserSettingsOutOfRange(const UserSettings& settings);

// What the user-settings controls hold when "Записать" is pressed. An item
// index of -1 means the box has no selection.
struct UserSettingsEntries {
  int DoseRateAlarmIndex = 0;             // ComboBox3
  std::array<QString, 3> DoseRateAlarms;  // StringGrid2, column 1
  int DoseAlarmIndex = 0;                 // ComboBox4
  std::array<QString, 3> DoseAlarms;      // StringGrid5, column 1
  QString ArchivePeriod;                  // LabeledEdit1
  int SliderPosition = 0;                 // TrackBar1
  int DisplayLanguageIndex = -1;          // ComboBox2
  int SoundIndex = -1;                    // ComboBox1
};

// Builds the user settings to send from the page. `lastRead` is what the
// last successful read brought (zeros before any) and `shown` what the page
// showed right after that read (null before any). An entry still as shown
// sends the value read, bit for bit: the page's formats do not show every
// value exactly (0.001 reads "0,00", a brightness of 130 lies between two
// slider steps), and a value the user did not touch must not change. An
// entry the user changed is converted. Member 9, every flag bit but the sound
// bit, and a box without a selection go back as last read. Throws
// ConversionError at the first changed entry that does not convert, in the
// order thresholds of the dose rate, thresholds of the dose, period.
UserSettings CollectUserSettings(const UserSettingsEntries& entries, const UserSettings& lastRead,
                                 const UserSettingsEntries* shown = nullptr);

// Service grid: a float below 0.1 (so every negative one) in general format
// with 3 significant digits, otherwise fixed with 3 decimals.
QString FloatParameterText(float value);

// Text of a value of a plain type code held at `field`; `available` bounds a
// text value. Empty when the grid has no format for the type.
std::optional<QString> ParameterText(uint8_t type, const uint8_t* field, size_t available);

// Converts `text` by type code and stores it at `field`: integers keep the
// low bits of the member's width, floats are stored as 32-bit floats. Returns
// false (storing nothing) for a type the grid does not read back.
bool StoreParameter(uint8_t type, const QString& text, uint8_t* field);

}  // namespace vantor
