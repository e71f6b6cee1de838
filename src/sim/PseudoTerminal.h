#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantor::sim {

// A pseudo-terminal whose master side is served by a thread of its own. The
// slave path is what a serial port opens; the bytes written there come to
// `OnBytes` on the serving thread, and `Send` puts bytes on the line at a
// given moment, as a slow instrument would. The slave is kept open here as
// well, in raw mode, so the line stays up while no program has it open.
class PseudoTerminal {
 public:
  using Clock = std::chrono::steady_clock;
  using BytesHandler = std::function<void(const uint8_t* bytes, size_t count)>;
  // Called on the serving thread every time it wakes; returns how long it may
  // sleep at most before being called again.
  using IdleHandler = std::function<std::chrono::milliseconds()>;

  PseudoTerminal(BytesHandler onBytes, IdleHandler onIdle = {});
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Creates the terminal and starts serving it; false when none could be made.
  bool Open();
  // Stops serving and closes both sides: the device is gone for whoever has
  // it open, and its path disappears.
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  std::string SlavePath() const { return slavePath_; }

  // Queues bytes to go out at `when` (any thread). Output the line cannot
  // take is dropped, as a real transmitter's would be.
  void Send(std::vector<uint8_t> bytes, Clock::time_point when);
  // Forgets queued output that has not gone out yet.
  void DropPending();

 private:
  void Serve();
  void Wake();
  void FlushDue();

  BytesHandler onBytes_;
  IdleHandler onIdle_;
  int master_ = -1;
  int slave_ = -1;
  int wake_ = -1;  // eventfd that ends a wait early
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex queueMutex_;
  std::multimap<Clock::time_point, std::vector<uint8_t>> queue_;
};

}  // namespace vantor::sim
