#pragma once
#include <QString>
#include <chrono>
#include <optional>

class QProcessEnvironment;

namespace vantor {

// Tells the service manager how vantor-station is doing, through sd_notify:
// the socket NOTIFY_SOCKET names, which systemd sets for a Type=notify unit.
// Without it (started by hand, in a terminal, by a test) every call does
// nothing and returns false. Each call returns whether the message went out;
// a failed send is logged once an outage, not on every watchdog tick.
class ServiceNotifier {
 public:
  // Whether a service manager listens at all.
  bool Active() const;

  // Started: the configuration is read, the ports and the listener are open.
  bool Ready();
  // One line the manager shows (systemctl status); line breaks become blanks,
  // so a status can never carry an assignment of its own.
  bool Status(const QString& text);
  // Reading the configuration again (SIGHUP). Ready() must follow when done.
  // Carries MONOTONIC_USEC, which managers from systemd 253 on want with it
  // (Type=notify-reload); older ones ignore an assignment they do not know.
  bool Reloading();
  // Shutting down.
  bool Stopping();

  // The watchdog's timeout when the manager asks for keep-alive pings
  // (WatchdogSec=; WATCHDOG_USEC, for this process when WATCHDOG_PID is
  // set): ping with Watchdog() every half of it. None when not asked.
  std::optional<std::chrono::microseconds> WatchdogInterval() const;
  // The keep-alive ping. Call it from the thread whose stall should count
  // as a hang (the event loop's), not from a thread of its own.
  bool Watchdog();

  // The variables above are meant for this process only: a command the
  // station runs (on-alarm) must not ping or notify in its name.
  static void RemoveFrom(QProcessEnvironment& environment);

 private:
  bool Send(const QByteArray& state);

  bool failureLogged_ = false;
};

}  // namespace vantor
