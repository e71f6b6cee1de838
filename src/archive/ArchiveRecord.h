#pragma once
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "ValueStorage.h"

namespace vantor {

// Sizes of the instrument's archive. The record size comes from the record
// layout (date-time 4, value 4, flags 1), the capacity from the span of the
// instrument's archive memory (0x08080082 up to 0x08083000).
struct ArchiveLayout {
  uint16_t RecordSize = 0;  // 9
  uint16_t Capacity = 0;    // 1350
};
ArchiveLayout ComputeArchiveLayoutSizes();

inline constexpr int ArchiveSlotSize = 12;    // one record in memory
inline constexpr int ArchiveRecordBytes = 9;  // bytes compared and copied
inline constexpr int ArchiveBufferSlots = 1353;

// One archive record in its 12-byte slot: bytes 0..3 the dose rate (float,
// uSv/h, unscaled), byte 4 the event flags, bytes 5..8 the packed date bytes
// D1..D4, bytes 9..11 zero.
struct ArchiveRecord {
  std::array<uint8_t, ArchiveSlotSize> Bytes{};

  static ArchiveRecord From(const ArchiveRecordValue& value);
  static ArchiveRecord Make(float value, uint8_t flags, uint8_t d1, uint8_t d2, uint8_t d3,
                            uint8_t d4);

  float Value() const;
  uint8_t Flags() const { return Bytes[4]; }
  uint8_t DateByte(int i) const { return Bytes[5 + i]; }  // i = 0..3 for D1..D4
  // Nine zero bytes divide the archive into pages and are never shown.
  bool IsSeparator() const;
};

// Calendar fields of one record; the year is 2000 + YearOffset.
struct ArchiveTime {
  int16_t YearOffset = 0;
  int8_t Month = 0;
  int8_t Day = 0;
  int8_t Hour = 0;
  int8_t Minute = 0;
  int8_t Second = 0;

  bool IsZero() const {
    return YearOffset == 0 && Month == 0 && Day == 0 && Hour == 0 && Minute == 0 && Second == 0;
  }
};

ArchiveTime DecodeArchiveTime(const ArchiveRecord& record);

// Table texts of one record.
QString ArchiveIndexText(int index);                  // "%i"
QString ArchiveValueText(float value, int language);  // " 0.05 мкЗв/ч"
QString ArchiveTimeText(const ArchiveTime& time);     // "09:05:03 07/11/25"
QString ArchiveEventText(uint8_t flags);              // "Норма", threshold, or empty

// The record's local date and time as days since 30 December 1899 (the time
// of day as the fraction); fields out of range roll over into the next unit.
// None for an all-zero time, which is no moment at all.
std::optional<double> ArchivePointDate(const ArchiveTime& time);
// The same moment as a local date and time of the computer's time zone (the
// zone the program sets the instrument's clock in).
std::optional<QDateTime> ArchiveDateTime(const ArchiveTime& time);

// The program's copy of the archive as last read.
class ArchiveBuffer {
 public:
  static constexpr int Slots = ArchiveBufferSlots;

  void Clear() { slots_.fill(ArchiveRecord{}); }
  void Store(int slot, const ArchiveRecord& record) { slots_.at(slot) = record; }
  const ArchiveRecord& operator[](int slot) const { return slots_.at(slot); }

 private:
  std::array<ArchiveRecord, Slots> slots_{};
};

// Pages are the runs of records between separators. PageCount is the number
// of separators found (so there are PageCount + 1 pages) and Current the
// page on display, both as the archive tab keeps them.
class ArchivePaging {
 public:
  int PageCount() const { return pageCount_; }
  int Current() const { return current_; }

  // After a read or an erase: page 1 of `pageCount` + 1.
  void Reset(int pageCount) {
    pageCount_ = pageCount;
    current_ = 0;
  }
  // Both wrap: next from the last page is the first, previous from the first
  // is the last.
  void Next() { current_ = current_ < pageCount_ ? current_ + 1 : 0; }
  void Previous() { current_ = current_ > 0 ? current_ - 1 : pageCount_; }

  // "2 из 5"; the word is the same in either language.
  QString Text() const;

 private:
  int pageCount_ = 0;
  int current_ = 0;
};

// Separators among the first `count` slots.
int CountSeparators(const ArchiveBuffer& buffer, int count);
// Slots of the records on `page` among the first `count` slots, in buffer
// order.
std::vector<int> PageSlots(const ArchiveBuffer& buffer, int count, int page);

}  // namespace vantor
