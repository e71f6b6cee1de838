#pragma once
#include <QString>
#include <QTimeZone>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "ValueStorage.h"

namespace vantor {

// The instrument a piece of history belongs to. The same instrument on
// another port, or on another computer sharing the history, is the same
// instrument; a new firmware makes it a new one.
struct InstrumentIdentity {
  uint8_t DeviceType = 0;                // member 13 of variable 3
  std::array<uint8_t, 20> DeviceData{};  // variable 12
  QString Firmware;                      // variable 10

  bool operator==(const InstrumentIdentity&) const = default;
};

// The identity held in the program's copy of the variables (after the
// settings read at connection time).
InstrumentIdentity IdentityOf(const ValueStorage& values);

// How exports and vantorctl name an instrument: its device type and device
// data in hex, "7:0100…a5" (the firmware goes beside it).
QString InstrumentKey(const InstrumentIdentity& instrument);
// The device data alone, in lower-case hex: the part of the key after ':'.
QString DeviceDataHex(const InstrumentIdentity& instrument);

// The serial the device data begins with ("SN004711"): letters, digits, '-',
// '_' and '.' up to its first zero byte or its end; empty when it begins
// with anything else, so binary data is never taken for a serial.
QString SerialText(const std::array<uint8_t, 20>& deviceData);
// The instrument's serial as people and file names show it: SerialText, or,
// when that holds none, the device data's bytes in hexadecimal without the
// trailing zeros; empty when all are zero.
QString InstrumentSerial(const std::array<uint8_t, 20>& deviceData);
// How the window names an instrument to people: its serial, or its key
// where the device data holds none.
QString InstrumentName(const InstrumentIdentity& instrument);

// One successful live poll.
struct LiveReading {
  int64_t AtMs = 0;       // the computer's time, ms since 1970 UTC
  float DoseRate = 0;     // unscaled, in the mode's unit (uSv/h or 1/(min*cm2))
  uint8_t Mode = 0;       // low byte of the measurement mode
  float Uncertainty = 0;  // percent
  float Dose = 0;         // uSv
  uint32_t AccumulationSeconds = 0;

  bool operator==(const LiveReading&) const = default;
};

LiveReading ReadingOf(const MeasurementRecord& record, int64_t atMs);

// One archive record as the instrument sends it: the dose rate (float, little
// endian), the event flags, then the packed date bytes D1..D4. Nine zero
// bytes separate runs.
using ArchiveBytes = std::array<uint8_t, 9>;

ArchiveBytes BytesOf(const ArchiveRecordValue& record);
bool IsSeparator(const ArchiveBytes& record);
float ArchiveValueOf(const ArchiveBytes& record);
// The record's time read in `zone` (the zone the instrument's clock was set
// in), as ms since 1970 UTC; none for an all-zero date, which is no moment.
// Fields out of range roll over as the archive chart rolls them.
std::optional<int64_t> ArchiveTimeOf(const ArchiveBytes& record, const QTimeZone& zone);

enum class EventKind : uint8_t {
  ClockSet,       // the program set the instrument's clock
  DoseReset,      // command 0
  ArchiveErase,   // command 1
  FactoryReset,   // command 3
  SettingsWrite,  // variable 4 written
  ServiceWrite,   // variable 3 written
  // The station's dose-rate alarms: a threshold crossed (held long enough)
  // and cleared again. Changes name each threshold settled at that moment:
  // Member the threshold (1..3), Old its level and New the reading, in µSv/h.
  AlarmRaised,
  AlarmCleared,
};

inline constexpr int EventKindCount = 8;

// Stable names, as stored and exported: "clock_set", "dose_reset", ...
QString EventKindName(EventKind kind);
std::optional<EventKind> EventKindFromName(const QString& name);

// One member of a written variable whose value changed.
struct MemberChange {
  int Member = 0;  // position in the variable
  QString Name;    // the name the program shows for it
  QString Old;
  QString New;

  bool operator==(const MemberChange&) const = default;
};

struct HistoryEvent {
  EventKind Kind = EventKind::DoseReset;
  int64_t AtMs = 0;  // the computer's time, ms since 1970 UTC; 0 for now
  // Clock set: the instrument's clock before (as ms UTC) and how far it was
  // ahead of the computer's, in seconds.
  std::optional<int64_t> DeviceMs;
  std::optional<int64_t> DriftSeconds;
  // Archive erase: the instrument's record count at the time.
  std::optional<int64_t> RecordCount;
  // Settings and service writes.
  std::vector<MemberChange> Changes;
  // Who did it (user@host); the store fills it in when empty.
  QString Actor;

  bool operator==(const HistoryEvent&) const = default;
};

// An event's actor as who and on which computer: "user@host" split at its
// last '@' (a host name holds none); an actor without one names no computer.
struct ActorParts {
  QString User;
  QString Computer;
};
ActorParts SplitActor(const QString& actor);

// What one store operation came to, for the caller to show.
struct HistoryOutcome {
  bool Ok = true;  // the data is in the store (or the question was answered)
  QString Error;   // short reason when not
  // The first failure since the store last worked: say so once (the
  // window's notice line, vantorctl's standard error); later failures of the
  // same outage stay quiet.
  bool Notify = false;
  // The store works again and what waited in memory has been written.
  bool Recovered = false;
  // Items (readings, records, events) waiting in memory for the store.
  int64_t Pending = 0;
  // A question the store did not answer within its bound (it was busy, or
  // waiting for a server that does not answer); Ok is false.
  bool Unanswered = false;
  // The location itself is wrong (a URL that cannot be parsed): the store
  // is never tried again, so nothing of this run is kept.
  bool Lasting = false;
};

template <class T>
struct HistoryAnswer {
  HistoryOutcome Outcome;
  T Value{};
};

// A half-open interval [FromMs, ToMs) of ms since 1970 UTC; an absent end is
// open. With neither end given, archive records without a date count too.
struct TimeRange {
  std::optional<int64_t> FromMs;
  std::optional<int64_t> ToMs;
};

struct StoredInstrument {
  int64_t Id = 0;
  InstrumentIdentity Identity;
  int64_t FirstSeenMs = 0;
};

struct StoredReading {
  int64_t InstrumentId = 0;
  LiveReading Reading;
};

struct StoredArchiveRecord {
  int64_t InstrumentId = 0;
  // Runs are numbered per instrument across every read and erase: run 1 is
  // the first run the history ever saw of it.
  int64_t Run = 0;
  int64_t Position = 0;  // within the archive as it was read, separators counted
  ArchiveBytes Raw{};
  std::optional<int64_t> DeviceMs;
  int64_t ReadMs = 0;  // when it was first read

  float Value() const { return ArchiveValueOf(Raw); }
  uint8_t Flags() const { return Raw[4]; }
};

struct StoredEvent {
  int64_t Id = 0;
  int64_t InstrumentId = 0;
  HistoryEvent Event;
};

// What the history knows of one instrument, for the instruments register.
struct InstrumentSummary {
  StoredInstrument Instrument;
  // The latest reading, event or archive read of it; its first sight when
  // there is none.
  int64_t LastSeenMs = 0;
  std::optional<LiveReading> LastReading;
  int64_t RecordsKept = 0;  // archive records, separators not counted
  // The last archive read: when it ended (when it began, for one that never
  // ended), whether it got every record, and how many of the instrument's
  // count it got (separators counted).
  std::optional<int64_t> LastReadMs;
  bool LastReadComplete = false;
  int64_t LastReadPositions = 0;
  int64_t LastReadDeviceCount = 0;
};

// What the history holds of the instrument's current archive, for the erase
// check: an erase may go ahead without reading first only when the
// instrument's record count equals Records and nothing waits in memory.
struct ArchiveCoverage {
  // The record count (separators included) of the last complete read, or 0
  // when an erase came after it; none when the archive was never read.
  std::optional<int64_t> Records;
  int64_t AtMs = 0;     // when that read finished, or the erase
  int64_t Pending = 0;  // records of this instrument not yet in the store

  bool Covers(int64_t deviceCount) const {
    return Pending == 0 && Records.has_value() && *Records == deviceCount;
  }
};

// Dose rates of a period, in time order, for the chart.
struct RateSeries {
  std::vector<int64_t> AtMs;
  std::vector<float> Rates;
};

}  // namespace vantor
