#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "InstrumentModel.h"
#include "PseudoTerminal.h"
#include "RequestReader.h"

namespace vantor::sim {

// A copy of the instrument's state taken under its lock.
struct InstrumentSnapshot {
  ValueStorage Values;
  std::vector<ArchiveRecordValue> Archive;
  size_t TransferPosition = 0;
  LocalTime DeviceClock;
  double Background = 0;
  std::array<uint32_t, 256> RequestsSeen{};
  std::array<uint32_t, 256> WritesSeen{};
  uint64_t TotalRequests = 0;
  std::vector<uint8_t> LastRequest;
};

// How the line between the instrument and the program behaves.
struct LineOptions {
  // Bytes go out one after the other at the line rate (10 bits a byte at
  // 115200 baud), the request's as well as the reply's, as on a real line.
  // Off only where a test needs raw speed.
  bool Paced = true;
  // A pause between a reply's header and the rest of it.
  std::chrono::milliseconds HeaderPause{0};
  // The terminal is left at the kernel's default settings (XON/XOFF, echo,
  // canonical input) for the program to set up, as a port nobody has
  // configured yet.
  bool KernelDefaultTerminal = false;
};

// 115200 baud, one start bit, 8 data bits, one stop bit.
inline constexpr std::chrono::nanoseconds LineByteTime{86806};

// The dosimeter on a pseudo-terminal. A thread serves the terminal and
// answers the program's requests while the owner reads and changes the
// instrument from its own thread; every access goes through one lock.
//
//   VirtualInstrument sim;   // manual time: nothing happens until AdvanceSeconds
//   sim.PinAs(3);            // COM3 in the port map of the current XDG_CONFIG_HOME
//   link.OpenPort(3);
//
// In real time the instrument measures once a second, as the real one does;
// in manual time (for tests) a second passes only when AdvanceSeconds says so.
class VirtualInstrument {
 public:
  enum class TimeMode { Manual, RealTime };

  explicit VirtualInstrument(TimeMode mode = TimeMode::Manual, LineOptions line = {});
  ~VirtualInstrument();  // stops serving and takes its entry out of the port map
  VirtualInstrument(const VirtualInstrument&) = delete;
  VirtualInstrument& operator=(const VirtualInstrument&) = delete;

  // Makes COM`number` point at the terminal (replacing an entry of that
  // number until the instrument goes away). False when it cannot.
  bool PinAs(int number);
  int PinnedNumber() const { return pinned_; }
  std::string PtyPath() const;
  bool Plugged() const;

  // The cable comes out: the terminal goes away, whoever had it open sees the
  // device vanish; the port map entry stays, pointing nowhere. Plug() makes a
  // new terminal and points the same COM number at it.
  void Unplug();
  bool Plug();

  void SetTimeMode(TimeMode mode);
  void AdvanceSeconds(int64_t seconds);

  // Runs `f(model)` under the instrument's lock and returns its result.
  template <class F>
  auto WithLock(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    CatchUp();
    return f(model_);
  }
  InstrumentSnapshot Snapshot();

  // Shorthands for what tests change most.
  void SetLatency(std::chrono::milliseconds latency);
  void SetPaced(bool paced);
  void SetHeaderPause(std::chrono::milliseconds pause);
  void InjectFault(Fault kind, int id = AnyVariable, int count = EveryReply,
                   double probability = 1.0);
  void ClearFaults();
  void SetBackground(double microSievertPerHour, bool immediately = true);
  void SetMeasurementMode(uint16_t mode);
  void SetFirmware(const std::string& text);
  void SetDeviceClock(const LocalTime& time);
  void SetClockOffset(int64_t seconds);
  void PrefillArchive(int count, int runs = 1, ArchiveShape shape = {});
  void SetArchive(std::vector<ArchiveRecordValue> records);
  void PowerCycle();

  uint32_t RequestsSeen(uint8_t id);
  uint32_t WritesSeen(uint8_t id);
  uint64_t TotalRequests();
  std::vector<uint8_t> LastRequest();
  // The latest requests, oldest first.
  std::vector<std::vector<uint8_t>> RequestLog();
  void ResetCounters();
  ValueStorage Values();  // a copy

 private:
  void OnBytes(const uint8_t* bytes, size_t count);
  std::chrono::milliseconds OnIdle();
  void CatchUp();  // real time: the seconds that have passed since the last look

  mutable std::mutex mutex_;
  InstrumentModel model_;
  RequestReader reader_;
  TimeMode mode_;
  LineOptions line_;
  std::chrono::steady_clock::time_point lastTick_;
  std::unique_ptr<PseudoTerminal> pty_;
  int pinned_ = 0;
  std::string pinnedTarget_;
  std::string previousTarget_;  // what the COM entry was before we pinned it
};

// A terminal pinned as COM`number` where nothing ever answers, as on a port
// with nothing attached. It keeps reading so the line never fills up.
class SilentPort {
 public:
  explicit SilentPort(int number);
  ~SilentPort();
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;

  std::string Path() const { return pty_.SlavePath(); }
  bool Ok() const { return ok_; }
  uint64_t BytesReceived() const;
  std::vector<uint8_t> Received() const;

 private:
  mutable std::mutex mutex_;
  std::vector<uint8_t> received_;
  PseudoTerminal pty_;
  int number_;
  bool ok_ = false;
  std::string previousTarget_;
};

}  // namespace vantor::sim
