#include "SettingsText.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "NumberText.h"
#include "TypeCodes.h"
#include "Windows1251.h"

namespace vantor {
namespace {

constexpr int SliderMax = 10;
constexpr int BrightnessStep = 25;

template <typename T>
T Load(const uint8_t* field) {
  T value;
  std::memcpy(&value, field, sizeof value);
  return value;
}

template <typename T>
void Save(uint8_t* field, T value) {
  std::memcpy(field, &value, sizeof value);
}

// The item number to send: the box's own, or what the instrument last had.
uint8_t ItemOr(int index, uint8_t lastRead) {
  return index >= 0 ? static_cast<uint8_t>(index) : lastRead;
}

}  // namespace

float FloatFromText(const QString& text) {
  const double value = StrToFloat(text);
  // A float cannot hold it: storing it would send infinity or worse.
  if (!(std::fabs(value) <= static_cast<double>(FLT_MAX))) {
    throw ConversionError(
        QStringLiteral("'%1' is not a valid floating point value").arg(text).toStdString());
  }
  return static_cast<float>(value);
}

QString ThresholdText(float value) {
  return FormatFixed(value, 2);
}

QString PeriodText(uint16_t seconds) {
  return QString::number(static_cast<int16_t>(seconds));
}

int SliderPositionFromBrightness(uint8_t brightness) {
  const int position = (brightness + BrightnessStep / 2) / BrightnessStep;
  return position > SliderMax ? SliderMax : position;
}

uint8_t BrightnessFromSlider(int position) {
  return static_cast<uint8_t>(position * BrightnessStep);
}

int ItemIndexFromNumber(uint32_t number, int itemCount) {
  return number < static_cast<uint32_t>(itemCount) ? static_cast<int>(number) : -1;
}

std::optional<QString> UserSettingsOutOfRange(const UserSettings& settings) {
  // The page's choices: thresholds 1, 2 and 3 (items 0..2), English and
  // Russian (0, 1).
  constexpr int ThresholdItems = 3;
  constexpr int LanguageItems = 2;
  if (ItemIndexFromNumber(settings.DoseRateAlarmNumber, ThresholdItems) < 0) {
    return QStringLiteral("the dose rate threshold in use is %1, not 0, 1 or 2")
        .arg(settings.DoseRateAlarmNumber);
  }
  if (ItemIndexFromNumber(settings.DoseAlarmNumber, ThresholdItems) < 0) {
    return QStringLiteral("the dose threshold in use is %1, not 0, 1 or 2")
        .arg(settings.DoseAlarmNumber);
  }
  if (ItemIndexFromNumber(settings.DisplayLanguage, LanguageItems) < 0) {
    return QStringLiteral("the display language is %1, not 0 or 1").arg(settings.DisplayLanguage);
  }
  if (settings.Brightness > SliderMax * BrightnessStep) {
    return QStringLiteral("the brightness is %1, above %2")
        .arg(settings.Brightness)
        .arg(SliderMax * BrightnessStep);
  }
  for (const auto* thresholds : {&settings.DoseRateAlarm, &settings.DoseAlarm}) {
    for (const float value : *thresholds) {
      if (!std::isfinite(value)) {
        return QStringLiteral("a threshold is no finite number");
      }
    }
  }
  return std::nullopt;
}

UserSettings CollectUserSettings(const UserSettingsEntries& entries, const UserSettings& lastRead,
                                 const UserSettingsEntries* shown) {
  const UserSettingsEntries& before = shown != nullptr ? *shown : entries;
  const auto changed = [shown](const auto& now, const auto& then) {
    return shown == nullptr || now != then;
  };
  UserSettings out = lastRead;
  if (changed(entries.DoseRateAlarmIndex, before.DoseRateAlarmIndex)) {
    out.DoseRateAlarmNumber = ItemOr(entries.DoseRateAlarmIndex, lastRead.DoseRateAlarmNumber);
  }
  for (size_t i = 0; i < out.DoseRateAlarm.size(); ++i) {
    if (changed(entries.DoseRateAlarms[i], before.DoseRateAlarms[i])) {
      out.DoseRateAlarm[i] = FloatFromText(entries.DoseRateAlarms[i]);
    }
  }
  if (changed(entries.DoseAlarmIndex, before.DoseAlarmIndex)) {
    out.DoseAlarmNumber = ItemOr(entries.DoseAlarmIndex, lastRead.DoseAlarmNumber);
  }
  for (size_t i = 0; i < out.DoseAlarm.size(); ++i) {
    if (changed(entries.DoseAlarms[i], before.DoseAlarms[i])) {
      out.DoseAlarm[i] = FloatFromText(entries.DoseAlarms[i]);
    }
  }
  if (changed(entries.ArchivePeriod, before.ArchivePeriod)) {
    out.ArchivePeriod = static_cast<uint16_t>(StrToInt(entries.ArchivePeriod));
  }
  if (changed(entries.SliderPosition, before.SliderPosition)) {
    out.Brightness = BrightnessFromSlider(entries.SliderPosition);
  }
  if (changed(entries.DisplayLanguageIndex, before.DisplayLanguageIndex)) {
    out.DisplayLanguage = ItemOr(entries.DisplayLanguageIndex, lastRead.DisplayLanguage);
  }
  // Only the sound bit is the page's; the instrument's other flags go back
  // as they came.
  if (changed(entries.SoundIndex, before.SoundIndex) && entries.SoundIndex >= 0) {
    out.Flags = (lastRead.Flags & ~uint32_t{1}) | (entries.SoundIndex == 1 ? 1u : 0u);
  }
  return out;
}

QString FloatParameterText(float value) {
  if (value < 0.1) {
    return FormatGeneral(value, 3);
  }
  return FormatFixed(value, 3);
}

std::optional<QString> ParameterText(uint8_t type, const uint8_t* field, size_t available) {
  switch (type) {
    case TypeInt8:
      return QString::number(Load<uint8_t>(field));
    case TypeText:
      return FromWindows1251(reinterpret_cast<const char*>(field), available);
    case TypeInt16:
      return QString::number(Load<uint16_t>(field));
    case TypeSignedInt8:
      return QString::number(Load<int8_t>(field));
    case TypeSignedInt16:
      return QString::number(Load<int16_t>(field));
    case TypeInt32:
      return QString::number(Load<int32_t>(field));
    case TypeFloat:
      return FloatParameterText(Load<float>(field));
    default:
      return std::nullopt;
  }
}

bool StoreParameter(uint8_t type, const QString& text, uint8_t* field) {
  switch (type) {
    case TypeInt8:
    case TypeSignedInt8:
      Save(field, static_cast<uint8_t>(StrToInt(text)));
      return true;
    case TypeInt16:
    case TypeSignedInt16:
      Save(field, static_cast<uint16_t>(StrToInt(text)));
      return true;
    case TypeInt32:
      Save(field, static_cast<uint32_t>(StrToInt(text)));
      return true;
    case TypeFloat:
      Save(field, FloatFromText(text));
      return true;
    default:
      return false;
  }
}

}  // namespace vantor
