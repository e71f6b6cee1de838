// Archive records as the instrument sends them: any bytes decode to a time,
// table texts and a chart date, and the pages between separators hold every
// record exactly once.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ArchiveRecord.h"

using namespace vantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ArchiveBuffer buffer;
  buffer.Clear();
  const int count =
      static_cast<int>(std::min<size_t>(size / ArchiveSlotSize, ArchiveBuffer::Slots));
  for (int i = 0; i < count; ++i) {
    const uint8_t* slot = data + static_cast<size_t>(i) * ArchiveSlotSize;
    ArchiveRecordValue value;
    std::memcpy(&value.Value, slot, 4);
    value.Flags = slot[4];
    std::memcpy(value.Date.data(), slot + 5, 4);
    const ArchiveRecord record = ArchiveRecord::From(value);
    buffer.Store(i, record);

    const ArchiveTime time = DecodeArchiveTime(record);
    ArchiveTimeText(time);
    ArchiveEventText(record.Flags());
    for (int language : {0, 1}) {
      if (ArchiveValueText(record.Value(), language).size() > 40) {
        __builtin_trap();  // a table cell never grows to dozens of digits
      }
    }
    if (const auto date = ArchivePointDate(time); date && !std::isfinite(*date)) {
      __builtin_trap();
    }
  }

  const int separators = CountSeparators(buffer, count);
  int seen = 0;
  for (int page = 0; page <= separators; ++page) {
    for (int slot : PageSlots(buffer, count, page)) {
      if (slot < 0 || slot >= count || buffer[slot].IsSeparator()) {
        __builtin_trap();
      }
      ++seen;
    }
  }
  if (seen != count - separators) {
    __builtin_trap();
  }
  return 0;
}
