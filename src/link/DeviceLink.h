#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "Frame.h"
#include "LineTransport.h"
#include "LinkStatus.h"
#include "Station.h"

namespace vantor {

// The one serial line to the instrument: the port, the frame buffer and the
// program's ValueStorage. Every single operation blocks until its exchange
// ends and reports how it ended (a LinkStatus) through the outcome handler,
// which the main window shows in status panel 0. Operations return 1 on
// success and 0 on failure and never throw.
class DeviceLink {
 public:
  // How long to wait for a reply after the request went out.
  enum class Pace {
    Prompt,  // read the header as soon as it arrives, up to the same deadline
    Fixed,   // sleep the full 100 ms first, as the original pace did
  };

  using Clock = LineTransport::Clock;
  static constexpr std::chrono::milliseconds QuietGap{10};
  static constexpr std::chrono::milliseconds ReplyWindow{100};  // the instrument answers within
  static constexpr std::chrono::milliseconds ReadConstant{2};   // read time-out: 2 ms ...
  static constexpr std::chrono::milliseconds ReadPerByte{1};    // ... plus 1 ms per byte
  static constexpr std::chrono::milliseconds WriteConstant{100};
  static constexpr std::chrono::milliseconds WritePerByte{1};
  // After a failed exchange the next request waits until this long after the
  // failed one went out, so a reply that comes too late is thrown away
  // instead of being taken for the answer to the next request.
  static constexpr std::chrono::milliseconds LateReplyBound{250};
  static constexpr int RetryAttempts = 21;

  DeviceLink();
  ~DeviceLink();
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Closes any open port, then opens COM`number` through the port map at
  // 115200 8N1. A port that does not exist or will not open leaves no port.
  void OpenPort(int number);
  // How a COM number becomes an open line; by default the port map and a
  // serial port. Tests put an in-memory line here. A result without a line
  // means the port does not exist or will not open, and says why.
  using LineOpener = std::function<OpenedLine(int number)>;
  void SetLineOpener(LineOpener opener) { opener_ = std::move(opener); }
  // The port map and serial ports: what the link opens unless told otherwise.
  static OpenedLine OpenMappedPort(int number);
  // The serial device at `path`, whatever the port map says (--device PATH).
  static OpenedLine OpenDevicePath(const QString& path);
  // Why the last OpenPort opened nothing (None after one that opened), and
  // the device it tried (empty when the number names none).
  OpenFailure LastOpenFailure() const { return openFailure_; }
  const QString& LastOpenPath() const { return openPath_; }
  void ClosePort();
  bool PortOpen() const;       // PortHandle is not none
  int OpenPortNumber() const;  // 0 when none
  // The port in use whose device went away (unplugged), 0 when none. Every
  // later exchange tries that port again, and only that one, so the line
  // comes back by itself when the device does.
  int LostPortNumber() const { return lostNumber_; }
  // Called when the port in use goes away (false) and when it is back (true).
  std::function<void(bool present)> OnPortPresence;

  int ReadVariable(uint8_t id);
  int WriteVariable(uint8_t id);
  // Reads as ReadVariable does, but a reply later than the instrument's
  // window is still this request's answer while its header comes within
  // `patience` of the request: nothing else has been asked meanwhile. Only
  // the archive read, which must know which request each record answers,
  // waits so; everything else fails on a late reply.
  int ReadVariableAwaitingLate(uint8_t id, std::chrono::milliseconds patience);
  int ReadVariableWithRetry(uint8_t id);   // up to 21 attempts
  int WriteVariableWithRetry(uint8_t id);  // up to 21 attempts
  // Called after every failed attempt of a retrying operation, so a long
  // operation can show that it is still trying.
  std::function<void()> OnAttemptFailed;
  // Time the link would otherwise sleep through (the quiet gap before a
  // request, the wait for a late reply to pass, the fixed pace's reply
  // window) is offered here first, on the line's clock: meanwhile the window
  // repaints and answers the window manager. The link then sleeps only what
  // is left, so nothing on the line moves by a byte or a millisecond as long
  // as the hook returns by `until`. An exchange asked for from inside the
  // hook fails at once.
  using IdleHook = std::function<void(Clock::time_point now, Clock::time_point until)>;
  IdleHook OnIdle;

  uint16_t ReceivedLength() const { return receivedLength_; }

  // What came back for the last request. A spoilt answer still tells that
  // the request reached the instrument, which acted on it; an intact refusal
  // that it did not; nothing at all that it may or may not have.
  enum class ReplyKind : uint8_t { Nothing, Spoilt, Refusal, Accepted };
  ReplyKind LastReply() const { return lastReply_; }
  // The last reply's header came whole and fit the request, and then its
  // payload came spoilt or short: the instrument did answer that request
  // with the value asked for, which the line damaged.
  bool LastPayloadSpoilt() const { return payloadSpoilt_; }
  // Bytes that came between the last exchange's reply and this request and
  // were thrown away unread (the rest of a spoilt reply, a late reply, noise).
  size_t DroppedBeforeRequest() const { return dropped_; }
  // The last reply's header came after the instrument's reply window, and
  // how long after the request had gone out it came.
  bool LastReplyLate() const { return lastLate_; }
  Clock::duration LastReplyDelay() const { return lastDelay_; }
  // How the last operation ended, as reported.
  LinkStatus LastStatus() const { return lastStatus_; }

  Station& Protocol() { return station_; }
  ValueStorage& Values() { return station_.Values; }
  const ValueStorage& Values() const { return station_.Values; }
  void InitDictionary() { station_.InitDictionary(); }
  void SetDeviceAddress(const Address& address) { deviceAddress_ = address; }

  using OutcomeHandler = std::function<void(LinkStatus status)>;
  void SetOutcomeHandler(OutcomeHandler handler) { outcome_ = std::move(handler); }

  void SetPace(Pace pace) { pace_ = pace; }
  Pace CurrentPace() const { return pace_; }
  // Exchanges made since construction (for tests and benchmarks).
  uint64_t ExchangeCount() const { return exchanges_; }

 private:
  // Sends `length` bytes of the frame buffer and leaves the reply in it;
  // false when no reply that fits the request arrived whole, and
  // exchangeFailure_ says why.
  bool Exchange(size_t length, const ReplyExpectation& expectation);
  bool ReceiveReply(const ReplyExpectation& expectation, Clock::time_point writeEnd);
  // The gap before a request. After a failed exchange it lasts until the
  // line has been quiet for a whole gap, and, when no reply came at all, at
  // least until a late reply would have come and gone.
  void QuietGapBeforeRequest();
  // Purges the line, counting what it held.
  void Drop();
  // Lets `duration` pass with nothing on the line, lending it to OnIdle.
  void Idle(Clock::duration duration);
  void Lose();
  bool Reopen();
  int Operate(uint8_t id, bool write);
  void Report(LinkStatus status);

  // Largest first, so the link carries no padding to speak of.
  Station station_;
  LineOpener opener_;
  OutcomeHandler outcome_;
  QString openPath_;
  std::unique_ptr<LineTransport> line_;
  Clock::time_point lastWriteEnd_;  // when the last request had gone out
  Clock::duration lastDelay_{};
  Clock::duration patience_{};  // how long the exchange waits for a late reply
  size_t lastHeard_ = 0;        // bytes the last exchange got back
  size_t dropped_ = 0;
  uint64_t exchanges_ = 0;
  int number_ = 0;
  int lostNumber_ = 0;
  enum class Settle : uint8_t {
    None,   // the last exchange went well
    Quiet,  // a spoilt reply came: let the rest of it pass
    Late,   // nothing (whole) came in time: a late reply may still come
  };
  Settle settle_ = Settle::None;
  OpenFailure openFailure_ = OpenFailure::None;
  LinkStatus lastStatus_ = LinkStatus::NoPort;
  LinkStatus exchangeFailure_ = LinkStatus::Timeout;
  ReplyKind lastReply_ = ReplyKind::Nothing;
  Pace pace_ = Pace::Prompt;
  uint16_t receivedLength_ = 0;
  Address deviceAddress_ = DefaultDeviceAddress;
  bool refusedHeader_ = false;  // a whole header came that was no reply to it
  bool payloadSpoilt_ = false;
  bool lastLate_ = false;
  bool idle_ = false;  // inside OnIdle
  FrameBuffer frame_{};
};

}  // namespace vantor
