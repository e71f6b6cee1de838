#pragma once
#include <cstdint>

#include "HistoryTypes.h"

namespace vantor::test {

// An instrument of the tests; `serial` tells instruments apart.
inline InstrumentIdentity TestInstrument(uint8_t serial = 1) {
  InstrumentIdentity instrument;
  instrument.DeviceType = 7;
  instrument.DeviceData[0] = serial;
  instrument.DeviceData[19] = 0xA5;
  instrument.Firmware = QStringLiteral("ДКС v1.2");
  return instrument;
}

// A record logged on 7 November 2025 at 09:minute:second, packed as the
// instrument packs its date bytes.
inline ArchiveBytes TestRecord(float value, uint8_t flags, int minute, int second = 0) {
  constexpr int year = 25;
  constexpr int month = 11;
  constexpr int day = 7;
  constexpr int hour = 9;
  ArchiveRecordValue record;
  record.Value = value;
  record.Flags = flags;
  record.Date = {static_cast<uint8_t>(((day >> 3) & 3) << 6 | year),
                 static_cast<uint8_t>((day & 7) << 5 | hour),
                 static_cast<uint8_t>(((month >> 2) & 3) << 6 | minute),
                 static_cast<uint8_t>((month & 3) << 6 | second)};
  return BytesOf(record);
}

// The archive the crash test writes: 35 records, one a minute.
inline ArchiveBytes CrashTestRecord(int i) {
  return TestRecord(0.1f + static_cast<float>(i) / 100, 0, i % 60, i / 60);
}
inline constexpr int CrashTestRecords = 35;
inline constexpr int CrashTestBatch = 10;

}  // namespace vantor::test
