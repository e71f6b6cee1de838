#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "Frame.h"
#include "Station.h"

namespace vantor {

// The one serial line to the instrument: the port, the frame buffer and the
// program's ValueStorage. Every single operation blocks until its exchange
// ends and reports its outcome as a message row (41 read, 40 written, 39
// failed) through the outcome handler, which the main window shows in status
// panel 0. Operations return 1 on success and 0 on failure and never throw.
class DeviceLink {
 public:
  // How long to wait for a reply after the request went out.
  enum class Pace {
    Prompt,  // read the header as soon as it arrives, up to the same deadline
    Fixed,   // sleep the full 100 ms first, as the original pace did
  };

  DeviceLink();
  ~DeviceLink();
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Closes any open port, then opens COM`number` through the port map at
  // 115200 8N1. A port that does not exist or will not open leaves no port.
  void OpenPort(int number);
  void ClosePort();
  bool PortOpen() const;       // PortHandle is not none
  int OpenPortNumber() const;  // 0 when none

  int ReadVariable(uint8_t id);
  int WriteVariable(uint8_t id);
  int ReadVariableWithRetry(uint8_t id);   // up to 21 attempts
  int WriteVariableWithRetry(uint8_t id);  // up to 21 attempts

  uint16_t ReceivedLength() const { return receivedLength_; }

  Station& Protocol() { return station_; }
  ValueStorage& Values() { return station_.Values; }
  const ValueStorage& Values() const { return station_.Values; }
  void InitDictionary() { station_.InitDictionary(); }
  void SetDeviceAddress(const Address& address) { deviceAddress_ = address; }

  using OutcomeHandler = std::function<void(int messageRow)>;
  void SetOutcomeHandler(OutcomeHandler handler) { outcome_ = std::move(handler); }

  void SetPace(Pace pace) { pace_ = pace; }
  Pace CurrentPace() const { return pace_; }
  // Exchanges made since construction (for tests and benchmarks).
  uint64_t ExchangeCount() const { return exchanges_; }

 private:
  struct Port;
  // Sends `length` bytes of the frame buffer and leaves the reply in it.
  void Exchange(size_t length);
  // Waits until `want` bytes are buffered or `deadline` passes; false when
  // the device vanished meanwhile (the port is then closed).
  bool WaitForBytes(size_t want, std::chrono::steady_clock::time_point deadline);
  int Finish(uint8_t index, bool write);
  void Report(int row) const;

  Station station_;
  FrameBuffer frame_{};
  uint16_t receivedLength_ = 0;
  Address deviceAddress_ = DefaultDeviceAddress;
  std::unique_ptr<Port> port_;
  OutcomeHandler outcome_;
  Pace pace_ = Pace::Prompt;
  uint64_t exchanges_ = 0;
};

}  // namespace vantor
