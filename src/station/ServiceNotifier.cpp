#include "ServiceNotifier.h"

#include <systemd/sd-daemon.h>

#include <QByteArray>
#include <QLoggingCategory>
#include <QProcessEnvironment>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vantor {

namespace {

Q_LOGGING_CATEGORY(lcService, "vantor.service", QtWarningMsg)

constexpr const char* kSocketVariable = "NOTIFY_SOCKET";

}  // namespace

bool ServiceNotifier::Active() const {
  const char* socket = std::getenv(kSocketVariable);
  return socket != nullptr && *socket != '\0';
}

bool ServiceNotifier::Send(const QByteArray& state) {
  if (!Active()) {
    return false;
  }
  const int sent = sd_notify(0, state.constData());
  if (sent > 0) {
    failureLogged_ = false;
    return true;
  }
  if (!failureLogged_) {
    failureLogged_ = true;
    qCWarning(lcService).noquote() << "cannot notify the service manager at"
                                   << QString::fromLocal8Bit(std::getenv(kSocketVariable)) << ":"
                                   << QString::fromLocal8Bit(std::strerror(-sent));
  }
  return false;
}

bool ServiceNotifier::Ready() {
  return Send("READY=1");
}

bool ServiceNotifier::Status(const QString& text) {
  QString line = text;
  line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  // A NUL would end the message early, which is harmless; drop it all the same.
  line.remove(QChar(u'\0'));
  return Send("STATUS=" + line.toUtf8());
}

bool ServiceNotifier::Reloading() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long usec = static_cast<long long>(now.tv_sec) * 1000000LL + now.tv_nsec / 1000;
  return Send("RELOADING=1\nMONOTONIC_USEC=" + QByteArray::number(usec));
}

bool ServiceNotifier::Stopping() {
  return Send("STOPPING=1");
}

std::optional<std::chrono::microseconds> ServiceNotifier::WatchdogInterval() const {
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
    return std::chrono::microseconds(static_cast<std::chrono::microseconds::rep>(usec));
  }
  return std::nullopt;
}

bool ServiceNotifier::Watchdog() {
  return Send("WATCHDOG=1");
}

void ServiceNotifier::RemoveFrom(QProcessEnvironment& environment) {
  for (const char* name : {kSocketVariable, "WATCHDOG_USEC", "WATCHDOG_PID"}) {
    environment.remove(QString::fromLatin1(name));
  }
}

}  // namespace vantor
