#pragma once
#include <QString>
#include <array>
#include <cstdint>

#include "ValueStorage.h"

namespace vantor {

class DeviceLink;

// The instrument's operations of the settings tab, on the program's link:
// reading every setting, writing the user settings or the service
// parameters, and the factory settings command. Plain code; the page and
// vantorctl render what they return. Each exchange reports its outcome row
// through the link as usual.

// What the settings read brought. The link's ValueStorage holds the same
// values afterwards (those of reads that failed stay as they were).
struct SettingsRead {
  bool ServiceRead = false;     // variable 3: an instrument answers here
  bool UserRead = false;        // variable 4
  bool DeviceDataRead = false;  // variable 12
  bool FirmwareRead = false;    // variable 10
  ServiceParameters Service;
  UserSettings User;
  std::array<uint8_t, 20> DeviceData{};
  QString Firmware;

  // Success means exactly that variable 3 was read: the test that an
  // instrument answers on a port.
  bool Identified() const { return ServiceRead; }
};

// Reads variables 3, 4, 12 and 10 in that order, one exchange each; stops
// after a failed read of variable 3.
SettingsRead ReadSettings(DeviceLink& link);

// A write of a whole variable: the values the program knew before (its last
// read or write) and the values sent.
template <class Values>
struct VariableWrite {
  bool Written = false;  // the instrument acknowledged
  Values Before{};
  Values After{};
};
using UserSettingsWrite = VariableWrite<UserSettings>;
using ServiceWrite = VariableWrite<ServiceParameters>;

// One exchange each, no retry and no read-back.
UserSettingsWrite WriteUserSettings(DeviceLink& link, const UserSettings& settings);
ServiceWrite WriteServiceParameters(DeviceLink& link, const ServiceParameters& parameters);

// Tells the instrument to restore its factory settings (command 3, one
// exchange); its new settings show at the next read.
bool RestoreFactorySettings(DeviceLink& link);

}  // namespace vantor
