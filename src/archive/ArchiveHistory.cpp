#include "ArchiveHistory.h"

#include <algorithm>

#include "DeviceLink.h"
#include "Dictionary.h"

namespace vantor {
namespace {

ArchiveBytes BytesOfRecord(const ArchiveRecord& record) {
  ArchiveBytes bytes{};
  std::copy_n(record.Bytes.begin(), bytes.size(), bytes.begin());
  return bytes;
}

}  // namespace

int ArchiveReadCount(uint32_t reported) {
  return static_cast<int>(std::min<uint32_t>(reported, ArchiveBufferSlots));
}

ArchiveReadResult ReadArchive(DeviceLink& link, int count, const HistorySink& history,
                              const ArchiveProgress& onProgress,
                              const std::function<bool()>& stopRequested) {
  if (history.Service == nullptr) {
    return ReadArchive(link, count, onProgress, stopRequested);
  }
  const uint32_t reported = link.Values().Measurement.ArchiveRecordCount;
  HistoryService::ArchiveRead log =
      history.Service->BeginArchiveRead(IdentityOf(link.Values()), reported);
  // Records go in in the instrument's order, so a slot waits until every
  // slot before it is known; later passes fill the gaps.
  size_t next = 0;
  const auto keep = [&](const ArchiveSlots& known) {
    for (; next < known.size() && known[next]; ++next) {
      log.Add(BytesOfRecord(*known[next]));
    }
  };
  ArchiveReadResult read = ReadArchive(link, count, onProgress, stopRequested, keep);
  // What is known past a slot that never arrived is kept too, each record
  // under its own position.
  size_t last = read.Slots.size();
  while (last > next && !read.Slots[last - 1]) {
    --last;
  }
  for (; next < last; ++next) {
    if (read.Slots[next]) {
      log.Add(BytesOfRecord(*read.Slots[next]));
    } else {
      log.Skip();
    }
  }
  const bool complete =
      read.Missing == 0 && !read.Stopped && static_cast<uint32_t>(count) == reported;
  log.Finish(complete);
  return read;
}

ArchiveSafeErase EraseArchive(DeviceLink& link, const HistorySink& history,
                              const ArchiveEraseSteps& steps) {
  using Outcome = ArchiveSafeErase::Outcome;
  ArchiveSafeErase result;
  // The count as it is now: the archive may have grown since the last poll.
  if (link.ReadVariable(IdMeasurement) == 0) {
    return result;
  }
  result.RecordCount = link.Values().Measurement.ArchiveRecordCount;
  const InstrumentIdentity instrument = IdentityOf(link.Values());
  if (history.Service != nullptr) {
    const HistoryAnswer<ArchiveCoverage> before =
        history.Service->Coverage(instrument, steps.HistoryWaitMs);
    if (!before.Outcome.Ok && before.Outcome.Unanswered) {
      result.History = before.Outcome;
      result.Result = Outcome::Unanswered;
      return result;
    }
    if (!before.Outcome.Ok || !before.Value.Covers(result.RecordCount)) {
      result.ReadFirst = true;
      result.ReadCount = ArchiveReadCount(result.RecordCount);
      if (steps.OnReadStart) {
        steps.OnReadStart(result.ReadCount);
      }
      result.Read =
          ReadArchive(link, result.ReadCount, history, steps.OnProgress, steps.StopRequested);
      if (result.Read.Missing > 0 || result.Read.Stopped) {
        result.Result = Outcome::ReadFailed;
        return result;
      }
      // Erase only what the store holds: records waiting in memory would be
      // lost with the program.
      const HistoryAnswer<ArchiveCoverage> after =
          history.Service->Coverage(instrument, steps.HistoryWaitMs);
      if (!after.Outcome.Ok || !after.Value.Covers(result.RecordCount)) {
        result.History = after.Outcome;
        if (after.Outcome.Unanswered) {
          result.Result = Outcome::Unanswered;
          return result;
        }
        if (result.History.Ok) {
          result.History.Ok = false;
          result.History.Error = QStringLiteral("the instrument holds more records than it sent");
        }
        result.Result = Outcome::NotKept;
        return result;
      }
    }
  }
  if (!EraseArchive(link).Erased) {
    result.Result = Outcome::EraseFailed;
    return result;
  }
  result.Result = Outcome::Erased;
  if (history.Service != nullptr) {
    HistoryEvent event;
    event.Kind = EventKind::ArchiveErase;
    event.RecordCount = result.RecordCount;
    history.Service->AddEvent(instrument, event);
  }
  return result;
}

}  // namespace vantor
