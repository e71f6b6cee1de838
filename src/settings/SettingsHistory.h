#pragma once
#include "HistorySink.h"
#include "SettingsBackup.h"
#include "SettingsOperations.h"

namespace vantor {

// The settings tab's operations with the history: every acknowledged write
// of the user settings or the service parameters is kept as an event with
// the old and new value of each member it changed (the old values are the
// program's last read or write), and a factory reset as an event. Without a
// store in `history` they are the plain operations.
UserSettingsWrite WriteUserSettings(DeviceLink& link, const UserSettings& settings,
                                    const HistorySink& history);
ServiceWrite WriteServiceParameters(DeviceLink& link, const ServiceParameters& parameters,
                                    const HistorySink& history);
bool RestoreFactorySettings(DeviceLink& link, const HistorySink& history);
SettingsRestore RestoreSettings(DeviceLink& link, const ValueStorage& wanted, bool dryRun,
                                const HistorySink& history);

}  // namespace vantor
