#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "ValueStorage.h"

namespace vantor::cli {

// The settings backup file: JSON, every service parameter (variable 3) and
// user setting (variable 4) with its position, its name in the dictionary
// and its exact value as text (SettingsMemberTexts), with the device type
// the values belong to:
//
//   {
//       "format": "vantor settings",
//       "version": 1,
//       "device type": 2,
//       "firmware": "VNT-2 v1.07",
//       "saved": "2026-03-10T13:00:00+03:00",
//       "service parameters": [ {"member": 0, "name": "...", "value": "0.0485"}, ... ],
//       "user settings": [ ... ]
//   }
QByteArray SettingsFileBytes(const ValueStorage& values, const QString& firmware,
                             const QDateTime& saved);

// Reads a backup into variables 3 and 4 of `values`. Refuses (false, with a
// one-line reason in `error`, `values` unchanged) anything but a complete
// file of this format: unknown keys or members, a member missing or given
// twice, a value its member cannot hold, a device type that disagrees with
// the one among the service parameters.
bool ReadSettingsFile(const QByteArray& bytes, ValueStorage& values, QString* error);

}  // namespace vantor::cli
