#include "DeviceLink.h"

#include <algorithm>

#include "LineTrace.h"
#include "LinkLog.h"
#include "PortMap.h"
#include "SerialTransport.h"

namespace vantor {

DeviceLink::DeviceLink() : opener_(&DeviceLink::OpenMappedPort) {}

OpenedLine DeviceLink::OpenMappedPort(int number) {
  const QString path = PortPath(number);
  if (path.isEmpty()) {
    return {};
  }
  return OpenDevicePath(path);
}

OpenedLine DeviceLink::OpenDevicePath(const QString& path) {
  OpenFailure failure = OpenFailure::None;
  OpenedLine opened(SerialTransport::Open(path, &failure));
  if (!opened.Line) {
    opened.Failure = failure;
  }
  opened.Path = path;
  return opened;
}

DeviceLink::~DeviceLink() {
  ClosePort();
}

void DeviceLink::OpenPort(int number) {
  ClosePort();
  OpenedLine opened = opener_ ? opener_(number) : OpenedLine();
  openFailure_ = opened.Failure;
  openPath_ = opened.Path;
  if (!opened.Line) {
    if (!opened.Path.isEmpty()) {
      qCInfo(lcLink).noquote() << QStringLiteral("COM%1 (%2) does not open: %3")
                                      .arg(number)
                                      .arg(opened.Path, OpenFailureName(opened.Failure));
    }
    return;
  }
  qCDebug(lcLink).noquote() << QStringLiteral("COM%1 (%2) open").arg(number).arg(opened.Path);
  line_ = std::move(opened.Line);
  number_ = number;
}

void DeviceLink::ClosePort() {
  line_.reset();
  number_ = 0;
  lostNumber_ = 0;
  settle_ = Settle::None;
}

bool DeviceLink::PortOpen() const {
  return line_ != nullptr;
}

int DeviceLink::OpenPortNumber() const {
  return line_ ? number_ : 0;
}

void DeviceLink::Lose() {
  qCInfo(lcLink).noquote() << QStringLiteral("COM%1 went away").arg(number_);
  lostNumber_ = number_;
  line_.reset();
  number_ = 0;
  settle_ = Settle::None;
  if (OnPortPresence) {
    OnPortPresence(false);
  }
}

bool DeviceLink::Reopen() {
  if (lostNumber_ == 0 || !opener_) {
    return false;
  }
  OpenedLine opened = opener_(lostNumber_);
  if (!opened.Line) {
    return false;
  }
  line_ = std::move(opened.Line);
  number_ = lostNumber_;
  lostNumber_ = 0;
  qCInfo(lcLink).noquote() << QStringLiteral("COM%1 is back").arg(number_);
  if (OnPortPresence) {
    OnPortPresence(true);
  }
  return true;
}

void DeviceLink::Drop() {
  // A look without waiting, which takes in what sits in the driver too.
  dropped_ += line_->WaitForBytes(0, line_->Now());
  line_->Purge();
}

void DeviceLink::Idle(Clock::duration duration) {
  if (duration <= Clock::duration::zero()) {
    return;
  }
  const Clock::time_point until = line_->Now() + duration;
  if (OnIdle) {
    idle_ = true;
    OnIdle(line_->Now(), until);
    idle_ = false;
  }
  const Clock::time_point now = line_->Now();
  if (now < until) {
    line_->SleepFor(until - now);
  }
}

void DeviceLink::QuietGapBeforeRequest() {
  Drop();
  if (settle_ == Settle::None) {
    Idle(QuietGap);
  } else {
    if (settle_ == Settle::Late) {
      Idle(lastWriteEnd_ + LateReplyBound - line_->Now());
      Drop();
    }
    // Whatever still comes is let through and dropped until the line has
    // been quiet for a whole gap; a line that never quietens is given up on.
    const Clock::time_point giveUp = line_->Now() + LateReplyBound;
    while (line_->WaitForBytes(1, std::min(line_->Now() + QuietGap, giveUp)) > 0 &&
           line_->Now() < giveUp && !line_->Lost()) {
      Drop();
    }
  }
  Drop();
  settle_ = Settle::None;
}

// One request/response on the open port. The reply lands in the frame buffer
// over the request. ReceivedLength counts as the parser expects: 14 plus what
// the header read got when the header is not a reply to this request, 14
// plus what the payload read got when the header announced a payload.
bool DeviceLink::Exchange(size_t length, const ReplyExpectation& expectation) {
  ++exchanges_;
  receivedLength_ = static_cast<uint16_t>(HeaderSize);
  lastHeard_ = 0;
  refusedHeader_ = false;
  payloadSpoilt_ = false;
  lastLate_ = false;
  lastDelay_ = {};
  dropped_ = 0;
  if (!line_ && !Reopen()) {
    exchangeFailure_ = lostNumber_ != 0 ? LinkStatus::PortGone : LinkStatus::NoPort;
    return false;
  }
  exchangeFailure_ = LinkStatus::PortGone;
  // Purge, keep the line quiet, and drop whatever came meanwhile.
  QuietGapBeforeRequest();
  if (line_->Lost()) {
    // Gone before anything was sent: when the device is back already (a new
    // terminal under the same number), this request goes to it.
    Lose();
    if (!Reopen()) {
      return false;
    }
    QuietGapBeforeRequest();
    if (line_->Lost()) {
      Lose();
      return false;
    }
  }
  // A write that cannot get out (a stuck port, a full driver buffer) fails
  // the exchange instead of hanging the window.
  const Clock::time_point writeDeadline =
      line_->Now() + WriteConstant + WritePerByte * static_cast<int64_t>(length);
  const bool written = line_->Write(frame_.data(), length, writeDeadline);
  lastWriteEnd_ = line_->Now();
  const bool ok = written && ReceiveReply(expectation, lastWriteEnd_);
  if (line_->Lost()) {
    Lose();
    return false;
  }
  if (!written) {
    exchangeFailure_ = LinkStatus::Unsent;
  } else if (!ok) {
    exchangeFailure_ = lastHeard_ > 0 ? LinkStatus::Damaged : LinkStatus::Timeout;
  }
  if (!ok) {
    // A header refused as it came needs only its tail to pass; anything
    // that did not come whole in time may still be on its way.
    settle_ = refusedHeader_ ? Settle::Quiet : Settle::Late;
  }
  return ok;
}

bool DeviceLink::ReceiveReply(const ReplyExpectation& expectation, Clock::time_point writeEnd) {
  // The header: promptly, as soon as its 14 bytes are in, accepted up to the
  // instrument's reply window plus the header read time-out; or, at the fixed
  // pace, after sleeping through the whole reply window first.
  const auto headerTimeout = ReadConstant + ReadPerByte * static_cast<int64_t>(HeaderSize);
  Clock::time_point deadline;
  if (pace_ == Pace::Fixed) {
    Idle(ReplyWindow);
    deadline = line_->Now() + headerTimeout;
  } else {
    deadline = writeEnd + ReplyWindow + headerTimeout;
  }
  size_t got = std::min(line_->WaitForBytes(HeaderSize, deadline), HeaderSize);
  // A caller that waits for a late reply keeps listening past the window;
  // while nothing has come the wait is lent to the window in slices.
  const Clock::time_point lateDeadline = writeEnd + patience_ + headerTimeout;
  while (got < HeaderSize && line_->Now() < lateDeadline && !line_->Lost()) {
    Clock::time_point until = lateDeadline;
    if (got == 0 && OnIdle) {
      Idle(std::min<Clock::duration>(QuietGap, lateDeadline - line_->Now()));
      until = std::min(lateDeadline, line_->Now() + QuietGap);
    }
    got = std::min(line_->WaitForBytes(HeaderSize, until), HeaderSize);
  }
  got = line_->Read(frame_.data(), got);
  lastHeard_ = got;
  const Clock::time_point headerArrival = line_->Now();
  lastDelay_ = headerArrival - writeEnd;
  lastLate_ = got > 0 && headerArrival > deadline;

  ReplyReader reader(expectation);
  switch (reader.CheckHeader(frame_.data(), got)) {
    case ReplyReader::Step::Refused:
      receivedLength_ = static_cast<uint16_t>(HeaderSize + got);
      refusedHeader_ = got == HeaderSize;
      return false;
    case ReplyReader::Step::Complete:
      return true;
    case ReplyReader::Step::ReadPayload:
      break;
  }
  // The payload is accepted whenever the fixed pace would accept it: the
  // instrument may send the header at once and the rest late in its window.
  const size_t want = reader.PayloadBytes();
  const Clock::time_point payloadStart = std::max(headerArrival, writeEnd + ReplyWindow);
  const Clock::time_point payloadDeadline =
      payloadStart + ReadConstant + ReadPerByte * static_cast<int64_t>(want);
  size_t arrived = std::min(line_->WaitForBytes(want, payloadDeadline), want);
  arrived = line_->Read(frame_.data() + HeaderSize, arrived);
  lastHeard_ += arrived;
  receivedLength_ = static_cast<uint16_t>(HeaderSize + arrived);
  payloadSpoilt_ = arrived != want && reader.Header().Opcode == OpReadReply;
  return arrived == want;
}

int DeviceLink::Operate(uint8_t id, bool write) {
  if (idle_) {
    // Something the window ran while the line waited: the line is in the
    // middle of another exchange.
    lastReply_ = ReplyKind::Nothing;
    return 0;
  }
  if (!station_.Initialised()) {
    station_.InitDictionary();
  }
  const uint8_t index = station_.LookupIndex(id);
  const size_t length = write ? station_.BuildWriteRequest(frame_, index, deviceAddress_)
                              : station_.BuildReadRequest(frame_, index, deviceAddress_);
  int result = 0;
  LinkStatus status = write ? LinkStatus::Written : LinkStatus::Read;
  if (Exchange(length, station_.ExpectReply(index, write))) {
    result = station_.ParseReply(frame_, receivedLength_, index);
    // A read succeeds only when its reply carries the value asked for: an
    // acknowledgement, or a reply marked as carrying none, would leave
    // whatever the storage held passed off as the instrument's value.
    const ParseResult& reply = station_.LastParse();
    if (result != 0 && !write && (reply.Opcode != OpReadReply || (reply.TypeByte & 1) == 0)) {
      result = 0;
    }
    if (result != 0) {
      lastReply_ = ReplyKind::Accepted;
    } else {
      payloadSpoilt_ = reply.Status == StatusChecksum && reply.Opcode == OpReadReply;
      lastReply_ = reply.Status == StatusOk && reply.Opcode == OpError ? ReplyKind::Refusal
                                                                       : ReplyKind::Spoilt;
      status = lastReply_ == ReplyKind::Refusal ? LinkStatus::Refused : LinkStatus::Damaged;
      if (line_) {
        settle_ = Settle::Quiet;  // a spoilt reply: let whatever follows it pass first
      }
    }
  } else {
    lastReply_ = lastHeard_ > 0 ? ReplyKind::Spoilt : ReplyKind::Nothing;
    status = exchangeFailure_;
  }
  Report(status);
  return result;
}

void DeviceLink::Report(LinkStatus status) {
  lastStatus_ = status;
  if (outcome_) {
    outcome_(status);
  }
}

int DeviceLink::ReadVariable(uint8_t id) {
  return Operate(id, false);
}

int DeviceLink::WriteVariable(uint8_t id) {
  return Operate(id, true);
}

int DeviceLink::ReadVariableAwaitingLate(uint8_t id, std::chrono::milliseconds patience) {
  patience_ = patience;
  const int result = Operate(id, false);
  patience_ = {};
  return result;
}

int DeviceLink::ReadVariableWithRetry(uint8_t id) {
  for (int attempt = 0; attempt < RetryAttempts; ++attempt) {
    if (ReadVariable(id) != 0) {
      return 1;
    }
    if (OnAttemptFailed) {
      OnAttemptFailed();
    }
  }
  return 0;
}

int DeviceLink::WriteVariableWithRetry(uint8_t id) {
  for (int attempt = 0; attempt < RetryAttempts; ++attempt) {
    if (WriteVariable(id) != 0) {
      return 1;
    }
    if (OnAttemptFailed) {
      OnAttemptFailed();
    }
  }
  return 0;
}

}  // namespace vantor
