#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "CalendarClock.h"
#include "Frame.h"
#include "Station.h"

namespace vantor::sim {

inline constexpr int ArchiveCapacity = 1350;
inline constexpr uint8_t ArchiveEventFlag = 4;  // dose rate above the active threshold
inline constexpr uint16_t StatusArchiveFull = 0x0001;
inline constexpr uint16_t StatusNewMeasurement = 0x0010;
inline constexpr double DefaultBackground = 0.12;  // uSv/h

// Faults the instrument can put on its replies.
enum class Fault : uint8_t {
  Silence,               // no reply at all; the request is not acted on
  Garble,                // one byte of the reply flipped
  StrayByte,             // one extra byte before the reply
  Cut,                   // the reply stops half way
  ErrorReply,            // OpError "refused" instead of the answer; the request is not acted on
  LostReply,             // the reply goes out but never arrives; the request is acted on
  Late,                  // the reply comes FaultRule::Delay late, and every reply after it
                         // waits for it; the request is acted on
  BareAck,               // a bare acknowledgement instead of the answer; the request is not
                         // acted on
  OtherVariable,         // a whole, well-formed reply for another variable; the
                         // request is not acted on
  OtherVariableActedOn,  // the same, but the request is acted on (the archive
                         // transfer moves on)
};

inline constexpr int AnyVariable = -1;
inline constexpr int EveryReply = -1;

struct FaultRule {
  Fault Kind = Fault::Silence;
  int Id = AnyVariable;                // wire id of the variable whose requests it hits
  int Remaining = EveryReply;          // replies still to spoil, or every one
  double Probability = 1.0;            // chance that a matching reply is spoilt
  std::chrono::milliseconds Delay{0};  // how late a Late reply comes
};

// What goes back on the line for one request.
struct Reply {
  std::vector<uint8_t> Bytes;  // empty: nothing is sent
  std::chrono::milliseconds Delay{0};
};

// Date and time packed into the four bytes of an archive record.
std::array<uint8_t, 4> PackArchiveDate(const LocalTime& time);
LocalTime UnpackArchiveDate(const std::array<uint8_t, 4>& date);
ArchiveRecordValue MakeArchiveRecord(float value, uint8_t flags, const LocalTime& time);
ArchiveRecordValue SeparatorRecord();
bool IsSeparator(const ArchiveRecordValue& record);
bool SameRecord(const ArchiveRecordValue& a, const ArchiveRecordValue& b);

// Factory values of the user settings (variable 4) and the calibration
// (variable 3).
UserSettings FactoryUserSettings();
ServiceParameters FactoryServiceParameters();

// Seconds since 1970 for a broken-down date and time read as UTC, and back.
// The instrument has no time zone: its clock is just these fields.
int64_t CivilSeconds(const LocalTime& time);
LocalTime CivilTime(int64_t seconds);

// How a prefilled archive looks, as the field makes it: readings the
// instrument rounds to a step (0: as measured), and its clock set back by
// `ClockBackSeconds` half way through, so the second half names moments of
// the first again (the end of summer time and a clock sync) and some of its
// records equal earlier ones byte for byte.
struct ArchiveShape {
  double Step = 0;  // uSv/h
  int64_t ClockBackSeconds = 0;
};

// The dosimeter itself, without any I/O or threads: its protocol station,
// detector and measurement, clock, archive, commands, display and fault
// injection. VirtualInstrument serves it on a pseudo-terminal; tests can also
// drive it directly.
class InstrumentModel {
 public:
  InstrumentModel();

  // Answers one complete request frame as the instrument would.
  Reply Answer(const uint8_t* request, size_t length);

  // Time. One tick is one second of the instrument's life: a measurement, the
  // dose and accumulation time, the clock, and the archive when due.
  void Tick();
  void AdvanceSeconds(int64_t seconds);

  Station& Protocol() { return station_; }
  ValueStorage& Values() { return station_.Values; }
  const ValueStorage& Values() const { return station_.Values; }
  Address OwnAddress() const { return station_.OwnAddressOnWire(); }

  // Detector and measurement.
  // The field around the instrument. By default the reading is there at once,
  // as if the instrument had been lying there for half a minute; otherwise
  // the field steps now and the reading follows it second by second.
  void SetBackground(double microSievertPerHour, bool immediately = true);
  double Background() const { return background_; }
  void SetMeasurementMode(uint16_t mode);
  void SetDose(double microSievert);
  void SetAccumulationTime(uint32_t seconds);
  void ResetDose();
  void SetSeed(uint32_t seed) { random_.seed(seed); }
  double DoseRate() const { return doseRate_; }

  // The firmware text (at most 20 characters); the dictionary is set up
  // again so the text travels at its full length.
  void SetFirmware(const std::string& text);
  std::string Firmware() const;
  // The serial number at the start of the device data (variable 12), at
  // most SerialLength characters; the rest of the data stays.
  static constexpr size_t SerialLength = 12;
  void SetSerial(const std::string& text);

  // Clock: its own, free running; set by a write of variable 6.
  void SetDeviceClock(const LocalTime& time);
  LocalTime DeviceClock() const { return CivilTime(clock_); }
  // Sets the clock this many seconds ahead of the computer's local time.
  void SetClockOffset(int64_t seconds);

  void FactorySettings();  // user settings back to the factory values
  // Off and on again: the averaging restarts, the next archive record starts
  // a new run, an archive transfer starts over.
  void PowerCycle();

  // Archive.
  const std::vector<ArchiveRecordValue>& Archive() const { return archive_; }
  void SetArchive(std::vector<ArchiveRecordValue> records);  // at most the capacity
  // `count` records in all (separators included) in `runs` runs, logged at
  // the archive period up to now, values scattered around the background.
  void PrefillArchive(int count, int runs = 1, ArchiveShape shape = {});
  void EraseArchive();
  bool ArchiveFull() const { return archive_.size() >= ArchiveCapacity; }
  size_t TransferPosition() const { return transferCursor_; }

  // Faults and timing of the replies.
  void SetLatency(std::chrono::milliseconds latency) { latency_ = latency; }
  std::chrono::milliseconds Latency() const { return latency_; }
  void InjectFault(const FaultRule& rule) { faults_.push_back(rule); }
  void ClearFaults() { faults_.clear(); }

  // What arrived: requests per wire id (reads and writes), writes per id,
  // the raw bytes of the last request and of the latest requests in order.
  uint32_t RequestsSeen(uint8_t id) const { return requestsSeen_[id]; }
  uint32_t WritesSeen(uint8_t id) const { return writesSeen_[id]; }
  uint64_t TotalRequests() const { return totalRequests_; }
  const std::vector<uint8_t>& LastRequest() const { return lastRequest_; }
  const std::deque<std::vector<uint8_t>>& RequestLog() const { return requestLog_; }
  static constexpr size_t RequestLogLimit = 4096;
  void ResetCounters();

  // Draws the instrument's display into variable 231.
  void RenderScreen();
  // Shows `screen` instead of its own drawing from now on (nothing: its own
  // drawing again).
  void FreezeScreen(std::optional<std::array<uint8_t, ScreenBytes>> screen) {
    frozenScreen_ = screen;
  }

 private:
  void Publish();  // internal state -> variable 0 (and 1)
  void ApplyWrite(uint8_t id);
  void RunCommand(uint8_t command);
  void LogArchive();
  const FaultRule* PickFault(int id);
  // A whole reply for a variable other than `id`, as the instrument would
  // send for a read of it.
  std::vector<uint8_t> OtherVariableReply(int id);
  std::vector<uint8_t> ErrorFrame(uint8_t code);
  double Sensitivity() const;  // uSv/h per count per second
  double ReadingFromCountRate(double countsPerSecond) const;

  Station station_;
  FrameBuffer frame_{};
  std::vector<uint8_t> captured_;
  bool storedWrite_ = false;

  std::mt19937 random_{20240611u};
  double background_ = DefaultBackground;
  std::deque<uint32_t> window_;  // counts of the last seconds, newest last
  uint64_t windowCounts_ = 0;
  uint64_t totalCounts_ = 0;
  double doseRate_ = 0;
  double doseRateError_ = 99;
  double dose_ = 0;
  uint32_t accumulationTime_ = 0;
  uint16_t mode_ = 0;
  bool newMeasurement_ = false;
  uint16_t measurementNumber_ = 0;

  int64_t clock_ = 0;  // CivilSeconds of the instrument's clock

  std::vector<ArchiveRecordValue> archive_;
  size_t transferCursor_ = 0;
  uint32_t secondsSinceLog_ = 0;
  bool newRunPending_ = false;

  std::optional<std::array<uint8_t, ScreenBytes>> frozenScreen_;
  std::chrono::milliseconds latency_{0};
  std::vector<FaultRule> faults_;
  std::uniform_real_distribution<double> chance_{0.0, 1.0};

  std::array<uint32_t, 256> requestsSeen_{};
  std::array<uint32_t, 256> writesSeen_{};
  uint64_t totalRequests_ = 0;
  std::vector<uint8_t> lastRequest_;
  std::deque<std::vector<uint8_t>> requestLog_;
};

}  // namespace vantor::sim
