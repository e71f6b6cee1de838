#include "SettingsOperations.h"

#include "DeviceLink.h"
#include "Dictionary.h"
#include "SendCommand.h"
#include "Windows1251.h"

namespace vantor {

SettingsRead ReadSettings(DeviceLink& link) {
  SettingsRead read;
  const ValueStorage& values = link.Values();
  read.ServiceRead = link.ReadVariable(IdService) != 0;
  if (!read.ServiceRead) {
    return read;
  }
  read.Service = values.Service;
  read.UserRead = link.ReadVariable(IdSettings) != 0;
  read.User = values.Settings;
  read.DeviceDataRead = link.ReadVariable(IdDeviceData) != 0;  // carried, not shown
  read.DeviceData = values.DeviceData;
  read.FirmwareRead = link.ReadVariable(IdFirmware) != 0;
  read.Firmware = FromWindows1251(values.Firmware.data(), values.Firmware.size());
  return read;
}

namespace {

template <class Values>
VariableWrite<Values> WriteWhole(DeviceLink& link, Values ValueStorage::*field, uint8_t id,
                                 const Values& values) {
  VariableWrite<Values> write;
  write.Before = link.Values().*field;
  write.After = values;
  link.Values().*field = values;
  write.Written = link.WriteVariable(id) != 0;
  return write;
}

}  // namespace

UserSettingsWrite WriteUserSettings(DeviceLink& link, const UserSettings& settings) {
  return WriteWhole(link, &ValueStorage::Settings, IdSettings, settings);
}

ServiceWrite WriteServiceParameters(DeviceLink& link, const ServiceParameters& parameters) {
  return WriteWhole(link, &ValueStorage::Service, IdService, parameters);
}

bool RestoreFactorySettings(DeviceLink& link) {
  return SendCommand(link, CommandFactorySettings);
}

}  // namespace vantor
