#include "LinkOutcome.h"

#include "MessageTable.h"

namespace vantor {

int OutcomeRow(LinkStatus status) {
  switch (status) {
    case LinkStatus::Read:
      return RowReading;
    case LinkStatus::Written:
      return RowDone;
    case LinkStatus::Timeout:
    case LinkStatus::Damaged:
    case LinkStatus::Refused:
    case LinkStatus::Unsent:
    case LinkStatus::PortGone:
    case LinkStatus::NoPort:
      break;
  }
  return RowConnectionError;
}

}  // namespace vantor
