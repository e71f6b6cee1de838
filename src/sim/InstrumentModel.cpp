#include "InstrumentModel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Display.h"

namespace vantor::sim {
namespace {

constexpr size_t WindowLimit = 600;  // the averaging never looks back further
constexpr int WarmUpSeconds = 30;
constexpr double FallbackSensitivity = 0.0485;  // uSv/h per count per second
constexpr char FactoryFirmware[] = "VI-01 fw 2.14";

int64_t ComputerCivilNow() {
  const SystemClock system;
  return CivilSeconds(system.ToLocal(system.Now()));
}

}  // namespace

int64_t CivilSeconds(const LocalTime& t) {
  return DaysFromCivil(t.Year, t.Month, t.Day) * 86400 + int64_t{t.Hour} * 3600 +
         int64_t{t.Minute} * 60 + t.Second;
}

LocalTime CivilTime(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  LocalTime t;
  CivilFromDays(days, t.Year, t.Month, t.Day);
  t.Hour = static_cast<int>(rest / 3600);
  t.Minute = static_cast<int>(rest % 3600 / 60);
  t.Second = static_cast<int>(rest % 60);
  return t;
}

std::array<uint8_t, 4> PackArchiveDate(const LocalTime& t) {
  const unsigned year = static_cast<unsigned>(t.Year - 2000) & 0x3F;
  const unsigned month = static_cast<unsigned>(t.Month) & 0x0F;
  const unsigned day = static_cast<unsigned>(t.Day) & 0x1F;
  return {static_cast<uint8_t>((day >> 3) << 6 | year),
          static_cast<uint8_t>((day & 7) << 5 | (static_cast<unsigned>(t.Hour) & 0x1F)),
          static_cast<uint8_t>((month >> 2) << 6 | (static_cast<unsigned>(t.Minute) & 0x3F)),
          static_cast<uint8_t>((month & 3) << 6 | (static_cast<unsigned>(t.Second) & 0x3F))};
}

LocalTime UnpackArchiveDate(const std::array<uint8_t, 4>& d) {
  LocalTime t;
  t.Year = 2000 + (d[0] & 0x3F);
  t.Month = ((d[2] & 0xC0) >> 4) | (d[3] >> 6);
  t.Day = ((d[0] & 0xC0) >> 3) | (d[1] >> 5);
  t.Hour = d[1] & 0x1F;
  t.Minute = d[2] & 0x3F;
  t.Second = d[3] & 0x3F;
  return t;
}

ArchiveRecordValue MakeArchiveRecord(float value, uint8_t flags, const LocalTime& time) {
  ArchiveRecordValue record;
  record.Value = value;
  record.Flags = flags;
  record.Date = PackArchiveDate(time);
  return record;
}

ArchiveRecordValue SeparatorRecord() {
  return ArchiveRecordValue{};
}

bool IsSeparator(const ArchiveRecordValue& r) {
  return SameRecord(r, SeparatorRecord());
}

bool SameRecord(const ArchiveRecordValue& a, const ArchiveRecordValue& b) {
  // Records are compared as the bytes they travel as: -0.0 is not a zero
  // record.
  // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
  const bool sameValue = std::memcmp(&a.Value, &b.Value, sizeof a.Value) == 0;
  return sameValue && a.Flags == b.Flags && a.Date == b.Date;
}

UserSettings FactoryUserSettings() {
  UserSettings s;
  s.DoseRateAlarmNumber = 0;
  s.DoseRateAlarm = {0.3F, 1.2F, 10.0F};  // uSv/h
  s.DoseAlarmNumber = 0;
  s.DoseAlarm = {100.0F, 1000.0F, 10000.0F};  // uSv
  s.ArchivePeriod = 60;
  s.Unused9 = 3;
  s.DisplayLanguage = 1;  // Russian
  s.Brightness = 150;
  s.Flags = 0x09;  // sound on, vibration on
  return s;
}

ServiceParameters FactoryServiceParameters() {
  ServiceParameters p;
  p.Floats = {
      0.0485F,  // gamma sensitivity, (uSv/h)/(counts/s)
      10.0F,    // gamma calibration point, uSv/h
      1.75F,    // beta sensitivity
      500.0F,   // beta calibration point
      3.2F,     // alpha sensitivity
      200.0F,   // alpha calibration point
      85.0F,    // dead time, us
      2.4F,     // background, counts/s
      3.3F,     // low battery, V
      3.1F,     // switch-off, V
  };
  p.OperatingTime = 5400;
  p.AccumulatedOperatingTime = 3'862'300;
  p.HvDac = 2150;
  p.DeviceType = 2;
  return p;
}

InstrumentModel::InstrumentModel() {
  ValueStorage& v = station_.Values;
  v.Settings = FactoryUserSettings();
  v.Service = FactoryServiceParameters();
  v.Floats = {3.95F, 23.5F, 400.0F, 0.0F, 1.0F};  // battery V, temperature C, HV V, ...
  SetSerial("SN004711");
  v.DeviceData[12] = 26;  // made in 2026, week 14
  v.DeviceData[13] = 14;
  station_.SetOwnAddress(DefaultDeviceAddress);
  SetFirmware(FactoryFirmware);  // sets up the dictionary too

  station_.OnFrameReady = [this](const uint8_t* frame, size_t length) {
    captured_.assign(frame, frame + length);
  };
  station_.OnVariableStored = [this](uint8_t) { storedWrite_ = true; };

  clock_ = ComputerCivilNow();
  newRunPending_ = true;
  SetBackground(DefaultBackground);
  newMeasurement_ = true;
  Publish();
}

double InstrumentModel::Sensitivity() const {
  const float s = station_.Values.Service.Floats[0];
  return std::isfinite(s) && s > 0 ? s : FallbackSensitivity;
}

double InstrumentModel::ReadingFromCountRate(double cps) const {
  const auto& f = station_.Values.Service.Floats;
  const uint8_t mode = static_cast<uint8_t>(mode_);
  if (mode == 1) {
    return cps * (f[2] > 0 ? f[2] : 1.75);
  }
  if (mode == 2) {
    return cps * (f[4] > 0 ? f[4] : 3.2);
  }
  return cps * Sensitivity();
}

void InstrumentModel::SetBackground(double microSievertPerHour, bool immediately) {
  background_ = std::isfinite(microSievertPerHour) ? std::max(0.0, microSievertPerHour) : 0.0;
  if (!immediately) {
    return;
  }
  // As if it had been lying there for half a minute: the averaging starts
  // over with that much history, so the reading is there at once and settles
  // further from then on.
  window_.clear();
  windowCounts_ = 0;
  std::poisson_distribution<uint32_t> counts(background_ / Sensitivity());
  for (int i = 0; i < WarmUpSeconds; ++i) {
    const uint32_t n = background_ > 0 ? counts(random_) : 0;
    window_.push_back(n);
    windowCounts_ += n;
  }
  const double rate = static_cast<double>(windowCounts_) / static_cast<double>(window_.size());
  doseRate_ = ReadingFromCountRate(rate);
  doseRateError_ = windowCounts_ > 0 ? std::min(99.0, 200.0 / std::sqrt(windowCounts_)) : 99.0;
  Publish();
}

void InstrumentModel::SetMeasurementMode(uint16_t mode) {
  mode_ = mode;
  const double rate =
      window_.empty() ? 0.0
                      : static_cast<double>(windowCounts_) / static_cast<double>(window_.size());
  doseRate_ = ReadingFromCountRate(rate);
  Publish();
}

void InstrumentModel::SetDose(double microSievert) {
  dose_ = microSievert;
  Publish();
}

void InstrumentModel::SetAccumulationTime(uint32_t seconds) {
  accumulationTime_ = seconds;
  Publish();
}

void InstrumentModel::ResetDose() {
  dose_ = 0;
  accumulationTime_ = 0;
  Publish();
}

void InstrumentModel::SetFirmware(const std::string& text) {
  auto& field = station_.Values.Firmware;
  field.fill('\0');
  std::copy_n(text.begin(), std::min(text.size(), field.size() - 1), field.begin());
  station_.InitDictionary();
}

void InstrumentModel::SetSerial(const std::string& text) {
  for (size_t i = 0; i < SerialLength; ++i) {
    station_.Values.DeviceData[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
  }
}

std::string InstrumentModel::Firmware() const {
  return station_.Values.Firmware.data();
}

void InstrumentModel::SetDeviceClock(const LocalTime& time) {
  clock_ = CivilSeconds(time);
  Publish();
}

void InstrumentModel::SetClockOffset(int64_t seconds) {
  clock_ = ComputerCivilNow() + seconds;
  Publish();
}

void InstrumentModel::FactorySettings() {
  station_.Values.Settings = FactoryUserSettings();
  newRunPending_ = true;
  secondsSinceLog_ = 0;
}

void InstrumentModel::PowerCycle() {
  newRunPending_ = true;
  secondsSinceLog_ = 0;
  transferCursor_ = 0;
  SetBackground(background_);
  newMeasurement_ = false;
  Publish();
}

void InstrumentModel::Tick() {
  const double cps = background_ / Sensitivity();
  uint32_t counts = 0;
  if (cps > 0) {
    std::poisson_distribution<uint32_t> poisson(cps);
    counts = poisson(random_);
  }
  window_.push_back(counts);
  windowCounts_ += counts;
  totalCounts_ += counts;
  if (window_.size() > WindowLimit) {
    windowCounts_ -= window_.front();
    window_.pop_front();
  }
  // A step in the radiation field: when the last five seconds stray far from
  // the longer average, the average starts over from the newest second, as a
  // real dosimeter's adaptive filter does.
  if (window_.size() >= 15) {
    uint64_t recent = 0;
    for (size_t i = window_.size() - 5; i < window_.size(); ++i) {
      recent += window_[i];
    }
    const double expected =
        static_cast<double>(windowCounts_ - recent) / static_cast<double>(window_.size() - 5) * 5;
    if (std::abs(static_cast<double>(recent) - expected) >
        4 * std::sqrt(std::max(expected, 1.0)) + 3) {
      while (window_.size() > 1) {
        windowCounts_ -= window_.front();
        window_.pop_front();
      }
      ++station_.Values.Diagnostics.ResetsUp;
    }
  }
  const double rate = static_cast<double>(windowCounts_) / static_cast<double>(window_.size());
  doseRate_ = ReadingFromCountRate(rate);
  doseRateError_ = windowCounts_ > 0 ? std::min(99.0, 200.0 / std::sqrt(windowCounts_)) : 99.0;
  dose_ += counts * Sensitivity() / 3600.0;
  ++accumulationTime_;
  ++clock_;
  ++measurementNumber_;
  newMeasurement_ = true;

  ++secondsSinceLog_;
  const uint16_t period = station_.Values.Settings.ArchivePeriod;
  if (period > 0 && secondsSinceLog_ >= period) {
    LogArchive();
    secondsSinceLog_ = 0;
  }
  Publish();
}

void InstrumentModel::AdvanceSeconds(int64_t seconds) {
  for (int64_t i = 0; i < seconds; ++i) {
    Tick();
  }
}

void InstrumentModel::LogArchive() {
  if (newRunPending_) {
    if (!archive_.empty() && !IsSeparator(archive_.back()) && archive_.size() < ArchiveCapacity) {
      archive_.push_back(SeparatorRecord());
    }
    newRunPending_ = false;
  }
  if (archive_.size() >= ArchiveCapacity) {
    return;
  }
  const UserSettings& s = station_.Values.Settings;
  const float threshold = s.DoseRateAlarm[std::min<uint8_t>(s.DoseRateAlarmNumber, 2)];
  // The archive holds the dose rate whatever the display shows.
  const double rate =
      window_.empty() ? 0.0
                      : static_cast<double>(windowCounts_) / static_cast<double>(window_.size());
  const float value = static_cast<float>(rate * Sensitivity());
  const uint8_t flags = threshold > 0 && value > threshold ? ArchiveEventFlag : 0;
  archive_.push_back(MakeArchiveRecord(value, flags, CivilTime(clock_)));
}

void InstrumentModel::SetArchive(std::vector<ArchiveRecordValue> records) {
  if (records.size() > ArchiveCapacity) {
    records.resize(ArchiveCapacity);
  }
  archive_ = std::move(records);
  transferCursor_ = 0;
  newRunPending_ = true;
  Publish();
}

void InstrumentModel::PrefillArchive(int count, int runs, ArchiveShape shape) {
  count = std::clamp(count, 0, ArchiveCapacity);
  runs = std::clamp(runs, 1, std::max(1, (count + 1) / 2));
  std::vector<ArchiveRecordValue> records;
  if (count > 0) {
    const int data = count - (runs - 1);
    const int64_t period = std::max<int64_t>(1, station_.Values.Settings.ArchivePeriod);
    const UserSettings& s = station_.Values.Settings;
    const float threshold = s.DoseRateAlarm[std::min<uint8_t>(s.DoseRateAlarmNumber, 2)];
    std::normal_distribution<double> scatter(1.0, 0.15);
    // Built newest first, walking back from now; the instrument was off for
    // an hour between runs. Walking back past the moment the clock was set
    // back, the older records were logged that much later.
    int64_t t = clock_;
    const size_t setBackAt = static_cast<size_t>(count / 2);
    for (int run = runs - 1; run >= 0; --run) {
      const int inRun = data / runs + (run < data % runs ? 1 : 0);
      for (int i = 0; i < inRun; ++i) {
        t -= period;
        if (shape.ClockBackSeconds > 0 && records.size() == setBackAt) {
          t += shape.ClockBackSeconds;
        }
        double reading = std::max(0.01, scatter(random_)) * background_;
        if (shape.Step > 0) {
          reading = std::max(shape.Step, std::round(reading / shape.Step) * shape.Step);
        }
        const float value = static_cast<float>(reading);
        const uint8_t flags = threshold > 0 && value > threshold ? ArchiveEventFlag : 0;
        records.push_back(MakeArchiveRecord(value, flags, CivilTime(t)));
      }
      if (run > 0) {
        records.push_back(SeparatorRecord());
        t -= 3600;
      }
    }
    std::reverse(records.begin(), records.end());
  }
  SetArchive(std::move(records));
}

void InstrumentModel::EraseArchive() {
  archive_.clear();
  transferCursor_ = 0;
  newRunPending_ = false;
  secondsSinceLog_ = 0;
  Publish();
}

void InstrumentModel::ResetCounters() {
  requestsSeen_.fill(0);
  writesSeen_.fill(0);
  totalRequests_ = 0;
  lastRequest_.clear();
  requestLog_.clear();
}

void InstrumentModel::Publish() {
  ValueStorage& v = station_.Values;
  MeasurementRecord& m = v.Measurement;
  m.DoseRate = static_cast<float>(doseRate_);
  m.DoseRateError = static_cast<float>(doseRateError_);
  m.Dose = static_cast<float>(dose_);
  m.AccumulationTime = accumulationTime_;
  m.Unused4 = static_cast<uint32_t>(totalCounts_);
  m.ArchiveRecordCount = static_cast<uint32_t>(archive_.size());
  m.StatusFlags = static_cast<uint16_t>((ArchiveFull() ? StatusArchiveFull : 0) |
                                        (newMeasurement_ ? StatusNewMeasurement : 0));
  m.MeasurementMode = mode_;
  const LocalTime t = CivilTime(clock_);
  m.DeviceClock[ClockYear] = static_cast<uint8_t>(t.Year - 2000);
  m.DeviceClock[ClockMonth] = static_cast<uint8_t>(t.Month);
  m.DeviceClock[ClockDay] = static_cast<uint8_t>(t.Day);
  m.DeviceClock[ClockHour] = static_cast<uint8_t>(t.Hour);
  m.DeviceClock[ClockMinute] = static_cast<uint8_t>(t.Minute);
  m.DeviceClock[ClockSecond] = static_cast<uint8_t>(t.Second);

  CountingDiagnostics& d = v.Diagnostics;
  d.PulseCount = static_cast<uint32_t>(totalCounts_);
  d.MeasurementTime = static_cast<uint16_t>(window_.size());
  d.MeasurementNumber = measurementNumber_;
  d.CountRate = window_.empty() ? 0.0F : static_cast<float>(window_.back());
  d.MeanCountRate = window_.empty()
                        ? 0.0F
                        : static_cast<float>(static_cast<double>(windowCounts_) / window_.size());
  d.Uncertainty = static_cast<float>(doseRateError_);
}

void InstrumentModel::RenderScreen() {
  if (frozenScreen_) {
    station_.Values.Screen = *frozenScreen_;
    return;
  }
  DisplayState state;
  state.Clock = CivilTime(clock_);
  state.Mode = mode_;
  state.Reading = doseRate_;
  state.ReadingError = doseRateError_;
  state.Dose = dose_;
  state.AccumulationTime = accumulationTime_;
  state.ArchivePercent = static_cast<int>(archive_.size() * 100 / ArchiveCapacity);
  state.ArchiveFull = ArchiveFull();
  const float volts = station_.Values.Floats[0];
  state.BatteryPercent =
      static_cast<int>(std::clamp((volts - 3.3F) / (4.2F - 3.3F), 0.0F, 1.0F) * 100);
  station_.Values.Screen = DrawDisplay(state);
}

const FaultRule* InstrumentModel::PickFault(int id) {
  for (FaultRule& rule : faults_) {
    if (rule.Remaining == 0 || (rule.Id != AnyVariable && rule.Id != id)) {
      continue;
    }
    if (rule.Probability < 1.0 && chance_(random_) >= rule.Probability) {
      continue;
    }
    if (rule.Remaining > 0) {
      --rule.Remaining;
    }
    return &rule;
  }
  return nullptr;
}

std::vector<uint8_t> InstrumentModel::OtherVariableReply(int id) {
  const uint8_t other = id == IdDeviceData ? IdFirmware : IdDeviceData;
  FrameBuffer request{};
  const size_t length =
      station_.BuildReadRequest(request, station_.LookupIndex(other), OwnAddress());
  captured_.clear();
  std::copy_n(request.begin(), length, frame_.begin());
  station_.HandleRequest(frame_, length);
  return captured_;
}

std::vector<uint8_t> InstrumentModel::ErrorFrame(uint8_t code) {
  captured_.clear();
  station_.BuildError(frame_, code);
  return captured_;
}

Reply InstrumentModel::Answer(const uint8_t* request, size_t length) {
  ++totalRequests_;
  lastRequest_.assign(request, request + length);
  requestLog_.push_back(lastRequest_);
  if (requestLog_.size() > RequestLogLimit) {
    requestLog_.pop_front();
  }
  const uint8_t opcode = length > 6 ? request[6] : 0;
  const uint16_t payload = length >= 10 ? ReadLe16(request + 8) : 0;
  int id = -1;
  if (length > HeaderSize && payload >= 1) {
    id = request[HeaderSize];
  }
  if (id >= 0 && (opcode == OpRead || opcode == OpWrite)) {
    ++requestsSeen_[id];
    if (opcode == OpWrite) {
      ++writesSeen_[id];
    }
  }

  Reply reply;
  reply.Delay = latency_;
  const FaultRule* rule = PickFault(id);
  const std::optional<Fault> fault = rule != nullptr ? std::optional(rule->Kind) : std::nullopt;
  if (fault == Fault::Silence) {
    return {};
  }
  if (fault == Fault::ErrorReply) {
    reply.Bytes = ErrorFrame(ErrRefused);
    return reply;
  }
  if (fault == Fault::BareAck) {
    captured_.clear();
    station_.BuildReply(frame_, OpAck, length > 7 ? request[7] : 0, 0);
    reply.Bytes = captured_;
    return reply;
  }
  if (fault == Fault::OtherVariable || fault == Fault::OtherVariableActedOn) {
    if (fault == Fault::OtherVariableActedOn && opcode == OpRead && id == IdArchive &&
        transferCursor_ < archive_.size()) {
      ++transferCursor_;
    }
    reply.Bytes = OtherVariableReply(id);
    return reply;
  }
  if (fault == Fault::Late) {
    reply.Delay += rule->Delay;
  }

  if (opcode == OpRead) {
    if (id == IdMeasurement) {
      Publish();
    } else if (id == IdArchive) {
      station_.Values.Archive =
          transferCursor_ < archive_.size() ? archive_[transferCursor_] : SeparatorRecord();
    } else if (id == IdScreen) {
      RenderScreen();
    }
  }

  if (length > frame_.size()) {
    return {};
  }
  std::copy(request, request + length, frame_.begin());
  captured_.clear();
  storedWrite_ = false;
  if (station_.HandleRequest(frame_, length) == 0 || captured_.empty()) {
    return {};
  }
  if (storedWrite_) {
    ApplyWrite(station_.LastStoredId());
  }

  // What the instrument does once its reply has gone out. It cannot know
  // whether the reply survives the line: a reply spoilt or lost on the way
  // has moved the transfer on all the same.
  const bool readAnswered = captured_.size() > 6 && captured_[6] == OpReadReply;
  if (readAnswered && id == IdMeasurement) {
    newMeasurement_ = false;
    Publish();
  } else if (readAnswered && id == IdArchive && transferCursor_ < archive_.size()) {
    ++transferCursor_;
  }
  if (rule != nullptr) {
    const size_t size = captured_.size();
    switch (rule->Kind) {
      case Fault::Garble:
        captured_[size > HeaderSize ? HeaderSize + (size - HeaderSize - 4) / 2 : 7] ^= 0xA5;
        break;
      case Fault::StrayByte:
        captured_.insert(captured_.begin(), uint8_t{0x00});
        break;
      case Fault::Cut:
        captured_.resize(size > HeaderSize ? HeaderSize + (size - HeaderSize - 4) / 2 : 10);
        break;
      case Fault::LostReply:
        return {};
      default:
        break;
    }
  }
  reply.Bytes = captured_;
  return reply;
}

void InstrumentModel::ApplyWrite(uint8_t id) {
  ValueStorage& v = station_.Values;
  switch (id) {
    case IdCommand:
      RunCommand(v.Command);
      break;
    case IdClock: {
      const auto& c = v.Measurement.DeviceClock;
      const bool valid = c[ClockMonth] >= 1 && c[ClockMonth] <= 12 && c[ClockDay] >= 1 &&
                         c[ClockDay] <= 31 && c[ClockHour] < 24 && c[ClockMinute] < 60 &&
                         c[ClockSecond] < 60;
      if (valid) {
        clock_ = CivilSeconds({2000 + c[ClockYear], c[ClockMonth], c[ClockDay], c[ClockHour],
                               c[ClockMinute], c[ClockSecond]});
      }
      Publish();
      break;
    }
    case IdSettings:
      // New settings start a new run in the archive.
      newRunPending_ = true;
      secondsSinceLog_ = 0;
      break;
    case IdMeasurement:
      SetMeasurementMode(v.Measurement.MeasurementMode);
      break;
    default:
      break;
  }
}

void InstrumentModel::RunCommand(uint8_t command) {
  switch (command) {
    case CommandResetDose:
      ResetDose();
      break;
    case CommandEraseArchive:
      EraseArchive();
      break;
    case CommandStartArchiveTransfer:
      transferCursor_ = 0;
      break;
    case CommandFactorySettings:
      FactorySettings();
      break;
    default:
      break;
  }
}

}  // namespace vantor::sim
