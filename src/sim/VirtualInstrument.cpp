#include "VirtualInstrument.h"

#include <QString>

#include "PortMap.h"

namespace vantor::sim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {
// Catching up after a long pause in real time is capped: the instrument does
// not replay more than a week of seconds at once.
constexpr int64_t CatchUpLimit = 7 * 86400;
}  // namespace

VirtualInstrument::VirtualInstrument(TimeMode mode, LineOptions line)
    : mode_(mode), line_(line), lastTick_(Clock::now()) {
  pty_ = std::make_unique<PseudoTerminal>(
      [this](const uint8_t* bytes, size_t count) { OnBytes(bytes, count); },
      [this] { return OnIdle(); });
  pty_->Open(!line_.KernelDefaultTerminal);
}

VirtualInstrument::~VirtualInstrument() {
  pty_->Close();
  if (pinned_ != 0) {
    UnpinPort(pinned_, QString::fromStdString(pinnedTarget_),
              QString::fromStdString(previousTarget_));
  }
}

bool VirtualInstrument::PinAs(int number) {
  if (!pty_->IsOpen() && !pty_->Open(!line_.KernelDefaultTerminal)) {
    return false;
  }
  bool ok = false;
  const QString previous = PinPort(number, QString::fromStdString(pty_->SlavePath()), &ok);
  if (!ok) {
    return false;
  }
  if (pinned_ != number) {
    previousTarget_ = previous.toStdString();
  }
  pinned_ = number;
  pinnedTarget_ = pty_->SlavePath();
  return true;
}

std::string VirtualInstrument::PtyPath() const {
  return pty_->SlavePath();
}

bool VirtualInstrument::Plugged() const {
  return pty_->IsOpen();
}

void VirtualInstrument::Unplug() {
  pty_->Close();
  std::lock_guard<std::mutex> lock(mutex_);
  reader_ = RequestReader();
}

bool VirtualInstrument::Plug() {
  if (!pty_->Open(!line_.KernelDefaultTerminal)) {
    return false;
  }
  if (pinned_ != 0) {
    bool ok = false;
    PinPort(pinned_, QString::fromStdString(pty_->SlavePath()), &ok);
    pinnedTarget_ = pty_->SlavePath();
    return ok;
  }
  return true;
}

void VirtualInstrument::SetTimeMode(TimeMode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  CatchUp();
  mode_ = mode;
  lastTick_ = Clock::now();
}

void VirtualInstrument::AdvanceSeconds(int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.AdvanceSeconds(seconds);
}

void VirtualInstrument::CatchUp() {
  if (mode_ != TimeMode::RealTime) {
    return;
  }
  const auto now = Clock::now();
  const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now - lastTick_).count();
  if (seconds <= 0) {
    return;
  }
  model_.AdvanceSeconds(std::min(seconds, CatchUpLimit));
  lastTick_ += std::chrono::seconds(seconds);
}

void VirtualInstrument::OnBytes(const uint8_t* bytes, size_t count) {
  const auto now = Clock::now();
  struct Out {
    Clock::time_point When;
    std::vector<uint8_t> Bytes;
  };
  std::vector<Out> out;
  Clock::duration byteTime = Clock::duration::zero();
  milliseconds pause{0};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    CatchUp();
    if (line_.Paced) {
      byteTime = std::chrono::duration_cast<Clock::duration>(LineByteTime);
    }
    pause = line_.HeaderPause;
    reader_.Feed(bytes, count, now);
    std::vector<uint8_t> frame;
    while (reader_.Next(model_.OwnAddress(), frame)) {
      // On a paced line the request is whole only once its last byte is in.
      const auto received = now + byteTime * static_cast<int64_t>(frame.size());
      Reply reply = model_.Answer(frame.data(), frame.size());
      if (!reply.Bytes.empty()) {
        out.push_back({received + reply.Delay, std::move(reply.Bytes)});
      }
    }
  }
  for (Out& o : out) {
    if (pause > milliseconds(0) && o.Bytes.size() > HeaderSize) {
      std::vector<uint8_t> rest(o.Bytes.begin() + HeaderSize, o.Bytes.end());
      o.Bytes.resize(HeaderSize);
      pty_->Send(std::move(o.Bytes), o.When, byteTime);
      pty_->Send(std::move(rest), o.When + byteTime * static_cast<int64_t>(HeaderSize) + pause,
                 byteTime);
    } else {
      pty_->Send(std::move(o.Bytes), o.When, byteTime);
    }
  }
}

milliseconds VirtualInstrument::OnIdle() {
  std::lock_guard<std::mutex> lock(mutex_);
  reader_.Expire(Clock::now());
  return reader_.Pending() ? RequestReader::StaleAfter : milliseconds(200);
}

InstrumentSnapshot VirtualInstrument::Snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  CatchUp();
  InstrumentSnapshot s;
  s.Values = model_.Values();
  s.Archive = model_.Archive();
  s.TransferPosition = model_.TransferPosition();
  s.DeviceClock = model_.DeviceClock();
  s.Background = model_.Background();
  for (int id = 0; id < 256; ++id) {
    s.RequestsSeen[id] = model_.RequestsSeen(static_cast<uint8_t>(id));
    s.WritesSeen[id] = model_.WritesSeen(static_cast<uint8_t>(id));
  }
  s.TotalRequests = model_.TotalRequests();
  s.LastRequest = model_.LastRequest();
  return s;
}

void VirtualInstrument::SetLatency(milliseconds latency) {
  WithLock([&](InstrumentModel& m) { m.SetLatency(latency); });
}

void VirtualInstrument::SetPaced(bool paced) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_.Paced = paced;
}

void VirtualInstrument::SetHeaderPause(milliseconds pause) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_.HeaderPause = pause;
}

void VirtualInstrument::InjectFault(Fault kind, int id, int count, double probability) {
  WithLock([&](InstrumentModel& m) { m.InjectFault({kind, id, count, probability}); });
}

void VirtualInstrument::ClearFaults() {
  WithLock([](InstrumentModel& m) { m.ClearFaults(); });
}

void VirtualInstrument::SetBackground(double microSievertPerHour, bool immediately) {
  WithLock([&](InstrumentModel& m) { m.SetBackground(microSievertPerHour, immediately); });
}

void VirtualInstrument::SetMeasurementMode(uint16_t mode) {
  WithLock([&](InstrumentModel& m) { m.SetMeasurementMode(mode); });
}

void VirtualInstrument::SetFirmware(const std::string& text) {
  WithLock([&](InstrumentModel& m) { m.SetFirmware(text); });
}

void VirtualInstrument::SetDeviceClock(const LocalTime& time) {
  WithLock([&](InstrumentModel& m) { m.SetDeviceClock(time); });
}

void VirtualInstrument::SetClockOffset(int64_t seconds) {
  WithLock([&](InstrumentModel& m) { m.SetClockOffset(seconds); });
}

void VirtualInstrument::PrefillArchive(int count, int runs, ArchiveShape shape) {
  WithLock([&](InstrumentModel& m) { m.PrefillArchive(count, runs, shape); });
}

void VirtualInstrument::SetArchive(std::vector<ArchiveRecordValue> records) {
  WithLock([&](InstrumentModel& m) { m.SetArchive(std::move(records)); });
}

void VirtualInstrument::PowerCycle() {
  WithLock([](InstrumentModel& m) { m.PowerCycle(); });
}

uint32_t VirtualInstrument::RequestsSeen(uint8_t id) {
  return WithLock([&](InstrumentModel& m) { return m.RequestsSeen(id); });
}

uint32_t VirtualInstrument::WritesSeen(uint8_t id) {
  return WithLock([&](InstrumentModel& m) { return m.WritesSeen(id); });
}

uint64_t VirtualInstrument::TotalRequests() {
  return WithLock([](InstrumentModel& m) { return m.TotalRequests(); });
}

std::vector<uint8_t> VirtualInstrument::LastRequest() {
  return WithLock([](InstrumentModel& m) { return m.LastRequest(); });
}

std::vector<std::vector<uint8_t>> VirtualInstrument::RequestLog() {
  return WithLock([](InstrumentModel& m) {
    return std::vector<std::vector<uint8_t>>(m.RequestLog().begin(), m.RequestLog().end());
  });
}

void VirtualInstrument::ResetCounters() {
  WithLock([](InstrumentModel& m) { m.ResetCounters(); });
}

ValueStorage VirtualInstrument::Values() {
  return WithLock([](InstrumentModel& m) { return m.Values(); });
}

SilentPort::SilentPort(int number)
    : pty_([this](const uint8_t* bytes, size_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), bytes, bytes + count);
      }),
      number_(number) {
  if (pty_.Open()) {
    bool ok = false;
    previousTarget_ = PinPort(number_, QString::fromStdString(pty_.SlavePath()), &ok).toStdString();
    ok_ = ok;
  }
}

uint64_t SilentPort::BytesReceived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_.size();
}

std::vector<uint8_t> SilentPort::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

SilentPort::~SilentPort() {
  const std::string path = pty_.SlavePath();
  pty_.Close();
  if (ok_) {
    UnpinPort(number_, QString::fromStdString(path), QString::fromStdString(previousTarget_));
  }
}

}  // namespace vantor::sim
