#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantor::sim {

// A pseudo-terminal whose master side is served by a thread of its own. The
// slave path is what a serial port opens; the bytes written there come to
// `OnBytes` on the serving thread, and `Send` puts bytes on the line from a
// given moment on, one after the other at a given byte time, as a real
// serial line delivers them. The slave is kept open here as well, so the line
// stays up while no program has it open: in raw mode, or left at the
// kernel's default terminal settings as a port nobody has configured yet.
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
  // `raw` false leaves it at the kernel's default settings (echo, canonical
  // input, XON/XOFF), for whoever opens it to set up.
  bool Open(bool raw = true);
  // Stops serving and closes both sides: the device is gone for whoever has
  // it open, and its path disappears.
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  std::string SlavePath() const { return slavePath_; }

  // Queues bytes to go out from `when` on (any thread), after whatever is
  // queued before them, each `byteTime` after the one before (all at once
  // when zero). Output the line cannot take is dropped, as a real
  // transmitter's would be.
  void Send(std::vector<uint8_t> bytes, Clock::time_point when,
            Clock::duration byteTime = Clock::duration::zero());
  // Forgets queued output that has not gone out yet.
  void DropPending();

 private:
  struct Pending {
    std::vector<uint8_t> Bytes;
    Clock::time_point Earliest;
    Clock::duration ByteTime{};
    Clock::time_point Start;  // when its first byte began, once started
    bool Started = false;
    size_t Sent = 0;
  };

  void Serve();
  void Wake();
  void FlushDue();
  // How long the serving thread may sleep before output is due again.
  Clock::duration UntilDue();

  BytesHandler onBytes_;
  IdleHandler onIdle_;
  int master_ = -1;
  int slave_ = -1;
  int wake_ = -1;  // eventfd that ends a wait early
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex queueMutex_;
  std::deque<Pending> queue_;
  Clock::time_point lineFreeAt_{};  // when the last byte sent has fully gone out
};

}  // namespace vantor::sim
