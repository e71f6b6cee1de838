#pragma once
#include <QString>
#include <cstdint>

#include "HistoryTypes.h"

namespace vantor {

// How people read an event, in the program's language (0 Russian,
// 1 English): the instruments register's change log and vantorctl's
// history events.

// The row of the message table that names the kind.
int EventKindRow(EventKind kind);
QString EventKindText(EventKind kind, uint8_t language);
// What the event came to beyond its kind: how far the instrument's clock
// was off, how many records were erased, how many members a write changed;
// empty when there is nothing more.
QString EventDetailsText(const HistoryEvent& event, uint8_t language);
// One changed member of a settings or service write: "name: old → new",
// the member named in `language` when the instrument's dictionary knows it
// by the name stored, else by the name stored.
QString MemberChangeText(EventKind kind, const MemberChange& change, uint8_t language);

}  // namespace vantor
