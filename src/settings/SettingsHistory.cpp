#include "SettingsHistory.h"

#include "DeviceLink.h"
#include "Dictionary.h"
#include "HistoryService.h"
#include "MemberChanges.h"

namespace vantor {
namespace {

// Keeps an acknowledged write of one variable of `values` (the member
// `field`) with the members it changed.
template <class Values>
void KeepWrite(const HistorySink& history, const InstrumentIdentity& instrument,
               const ValueStorage& values, Values ValueStorage::*field, uint8_t variable,
               const VariableWrite<Values>& write) {
  if (history.Service == nullptr || !write.Written) {
    return;
  }
  ValueStorage before = values;
  before.*field = write.Before;
  ValueStorage after = values;
  after.*field = write.After;
  HistoryEvent event;
  event.Kind = variable == IdService ? EventKind::ServiceWrite : EventKind::SettingsWrite;
  event.Changes = ChangedMembers(variable, before, after);
  history.Service->AddEvent(instrument, event);
}

}  // namespace

UserSettingsWrite WriteUserSettings(DeviceLink& link, const UserSettings& settings,
                                    const HistorySink& history) {
  const InstrumentIdentity instrument = IdentityOf(link.Values());
  const UserSettingsWrite write = WriteUserSettings(link, settings);
  KeepWrite(history, instrument, link.Values(), &ValueStorage::Settings, IdSettings, write);
  return write;
}

ServiceWrite WriteServiceParameters(DeviceLink& link, const ServiceParameters& parameters,
                                    const HistorySink& history) {
  // The instrument as it was known before: a write of its device type
  // does not make it another.
  const InstrumentIdentity instrument = IdentityOf(link.Values());
  const ServiceWrite write = WriteServiceParameters(link, parameters);
  KeepWrite(history, instrument, link.Values(), &ValueStorage::Service, IdService, write);
  return write;
}

bool RestoreFactorySettings(DeviceLink& link, const HistorySink& history) {
  const bool restored = RestoreFactorySettings(link);
  if (restored && history.Service != nullptr) {
    HistoryEvent event;
    event.Kind = EventKind::FactoryReset;
    history.Service->AddEvent(IdentityOf(link.Values()), event);
  }
  return restored;
}

SettingsRestore RestoreSettings(DeviceLink& link, const ValueStorage& wanted, bool dryRun,
                                const HistorySink& history) {
  const InstrumentIdentity instrument = IdentityOf(link.Values());
  SettingsRestore restore = RestoreSettings(link, wanted, dryRun);
  if (restore.Service) {
    KeepWrite(history, instrument, link.Values(), &ValueStorage::Service, IdService,
              *restore.Service);
  }
  if (restore.User) {
    KeepWrite(history, instrument, link.Values(), &ValueStorage::Settings, IdSettings,
              *restore.User);
  }
  return restore;
}

}  // namespace vantor
