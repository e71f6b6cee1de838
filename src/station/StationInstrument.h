#pragma once
#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "AlarmTracker.h"
#include "DeviceLink.h"
#include "HistorySink.h"
#include "HistoryTypes.h"
#include "InstrumentEngine.h"
#include "MeasureOperations.h"
#include "Metrics.h"
#include "SettingsOperations.h"

namespace vantor {

class CalendarClock;
class LineTrace;

// Where one of the station's lines stands.
enum class StationLinkState : uint8_t {
  Searching,       // the port is not open yet, or nobody answers on it
  ReadingArchive,  // the instrument's archive goes into the history
  Polling,         // it answers once a second
  NotAnswering,    // it was there and stopped answering
  PortGone,        // its device went away; the link tries it again
};
// "searching", "reading archive", "polling", "not answering", "port gone".
QString StationLinkStateName(StationLinkState state);

// What one tick of the line brought, from the instrument's thread.
struct StationTick {
  StationLinkState State = StationLinkState::Searching;
  // The instrument identified itself (at the first answer, after its port
  // came back, after it answered again): its settings, thresholds included.
  std::optional<SettingsRead> Identified;
  InstrumentIdentity Identity;          // who that is, as the link now holds it
  std::optional<MeasurementPoll> Poll;  // a poll was made
  // An archive read ended: records read and slots left open.
  std::optional<std::pair<int, int>> ArchiveRead;
  QString Problem;  // a failure worth a line in the log (told once per spell)
};

// How a line is opened: a COM number of the port map, or a device's path.
struct StationLine {
  int Port = 0;    // 0 with Device
  QString Device;  // a serial device's path instead of a number
  QString Label() const { return PortLabel(Port); }
  QString Name() const { return Port != 0 ? QStringLiteral("COM%1").arg(Port) : Device; }
};

// One instrument of the station: its engine and what the station knows of
// it. The line's work (open, identify, fill the history from the archive,
// poll once a second with the 300 s clock rule) runs as the engine's poll
// step on the instrument's thread; what it brings is handled here, on the
// thread that made the object, where alarms are decided and `Ticked` tells
// the station.
class StationInstrument : public QObject {
  Q_OBJECT

 public:
  // How many polls in a row may fail before the instrument counts as not
  // answering (a reply lost to noise is not an outage). A failed poll is
  // tried once more at once, so a lost reply leaves no gap in the readings.
  static constexpr int PollsLostBeforeDown = 3;
  // How often a port that will not open is tried again, in ticks.
  static constexpr int OpenRetryTicks = 5;
  static constexpr int64_t LastHourMs = 3600 * 1000;

  StationInstrument(StationLine line, const CalendarClock& clock, HistorySink history,
                    AlarmRules rules, LineTrace* trace = nullptr,
                    std::chrono::milliseconds period = std::chrono::milliseconds(1000),
                    QObject* parent = nullptr);
  // Stops an archive read under way and closes the port on its thread.
  ~StationInstrument() override;

  // Asks the line's work to end soon (a long archive read stops between
  // records); the destructor then does not wait for it.
  void RequestStop();
  void SetAlarmRules(AlarmRules rules);

  const StationLine& Line() const { return line_; }
  InstrumentEngine& Engine() { return engine_; }
  StationLinkState State() const { return state_; }
  bool Identified() const { return identity_.has_value(); }
  bool Available() const { return available_; }
  const std::optional<InstrumentIdentity>& Identity() const { return identity_; }
  QString Name() const { return identity_ ? InstrumentName(*identity_) : QString(); }
  const UserSettings& Settings() const { return settings_; }
  // The reading as /metrics shows it (Up false: nothing stale).
  InstrumentSnapshot Snapshot() const;
  int64_t LastSeenMs() const { return lastSeenMs_; }
  // Dose-rate readings of the last hour, oldest first (ms, µSv/h).
  const std::deque<std::pair<int64_t, double>>& LastHour() const { return lastHour_; }
  // Exchanges by outcome name ("read", "timeout", ...).
  const std::map<QString, uint64_t>& Exchanges() const { return exchanges_; }

 signals:
  // After each tick was taken in.
  void Ticked(const vantor::StationTick& tick);
  // An instrument answers on the line for the first time, or another one
  // than before (`previous`); Available() already says whether it answers.
  void IdentityChanged(const std::optional<vantor::InstrumentIdentity>& previous);
  void AlarmChanged(const vantor::AlarmTransition& transition);
  // Identified and answering (a poll lost now and then included), or not.
  void AvailabilityChanged(bool available);

 private:
  struct LineWork;
  void Take(const StationTick& tick);
  static bool AvailableIn(StationLinkState state);

  StationLine line_;
  const CalendarClock& clock_;
  HistorySink history_;
  InstrumentEngine engine_;
  std::shared_ptr<LineWork> work_;
  AlarmRules rules_;
  AlarmTracker alarms_;

  StationLinkState state_ = StationLinkState::Searching;
  std::optional<InstrumentIdentity> identity_;
  UserSettings settings_{};
  bool up_ = false;         // the last poll was answered
  bool available_ = false;  // identified and answering, as MQTT tells it
  MeasurementRecord reading_{};
  int64_t readingMs_ = 0;
  int64_t lastSeenMs_ = 0;
  std::deque<std::pair<int64_t, double>> lastHour_;
  std::map<QString, uint64_t> exchanges_;
};

}  // namespace vantor
