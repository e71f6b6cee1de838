#include "EventTexts.h"

#include <QStringList>
#include <cstdlib>

#include "Dictionary.h"
#include "MessageTable.h"

namespace vantor {

int EventKindRow(EventKind kind) {
  switch (kind) {
    case EventKind::ClockSet:
      return RowEventClockSet;
    case EventKind::DoseReset:
      return RowEventDoseReset;
    case EventKind::ArchiveErase:
      return RowEventArchiveErase;
    case EventKind::FactoryReset:
      return RowEventFactoryReset;
    case EventKind::SettingsWrite:
      return RowEventSettingsWrite;
    case EventKind::AlarmRaised:
      return RowEventAlarmRaised;
    case EventKind::AlarmCleared:
      return RowEventAlarmCleared;
    case EventKind::ServiceWrite:
      break;
  }
  return RowEventServiceWrite;
}

QString EventKindText(EventKind kind, uint8_t language) {
  return MessageText(EventKindRow(kind), language);
}

QString EventDetailsText(const HistoryEvent& event, uint8_t language) {
  if (event.Kind == EventKind::ClockSet && event.DriftSeconds) {
    // The drift is how far the instrument's clock was ahead of the computer's.
    return MessageText(*event.DriftSeconds >= 0 ? RowClockWasAhead : RowClockWasBehind, language)
        .arg(std::llabs(*event.DriftSeconds));
  }
  if (event.Kind == EventKind::ArchiveErase && event.RecordCount) {
    return MessageText(RowErasedRecords, language).arg(*event.RecordCount);
  }
  if (event.Kind == EventKind::AlarmRaised || event.Kind == EventKind::AlarmCleared) {
    QStringList thresholds;
    for (const MemberChange& change : event.Changes) {
      thresholds << MessageText(RowAlarmThreshold, language)
                        .arg(change.Member)
                        .arg(change.Old, change.New);
    }
    return thresholds.join(QStringLiteral("; "));
  }
  if (!event.Changes.empty()) {
    return MessageText(RowMembersChanged, language).arg(event.Changes.size());
  }
  return {};
}

QString MemberChangeText(EventKind kind, const MemberChange& change, uint8_t language) {
  QString name = change.Name;
  const uint8_t variableId = kind == EventKind::SettingsWrite  ? IdSettings
                             : kind == EventKind::ServiceWrite ? IdService
                                                               : 0;
  for (const VariableDescriptor& variable : VariableDictionary) {
    if (variableId == 0 || variable.Id != variableId || variable.Type != TypeStruct ||
        change.Member < 0 || change.Member >= variable.MemberCount) {
      continue;
    }
    // The stored name is the Russian one; a member that no longer matches
    // it (another layout) keeps the name it was stored with.
    const MemberDescriptor& member = variable.Members[change.Member];
    if (language != 0 && member.EnglishName != nullptr && member.RussianName != nullptr &&
        name == QString::fromUtf8(member.RussianName)) {
      name = QString::fromUtf8(member.EnglishName);
    }
  }
  return QStringLiteral("%1: %2 → %3").arg(name, change.Old, change.New);
}

}  // namespace vantor
