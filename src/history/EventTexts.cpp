#include "EventTexts.h"

#include <cstdlib>

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
  if (!event.Changes.empty()) {
    return MessageText(RowMembersChanged, language).arg(event.Changes.size());
  }
  return {};
}

QString MemberChangeText(const MemberChange& change) {
  return QStringLiteral("%1: %2 → %3").arg(change.Name, change.Old, change.New);
}

}  // namespace vantor
