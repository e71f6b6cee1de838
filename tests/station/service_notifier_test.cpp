#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "ServiceNotifier.h"

namespace vantor {
namespace {

// The variables the service manager sets, saved and put back around each
// test, so a test run under systemd neither notifies it nor loses them.
class SavedEnvironment {
 public:
  SavedEnvironment() {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
  }
  ~SavedEnvironment() {
    for (size_t i = 0; i < saved_.size(); ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
  }

 private:
  static constexpr const char* kNames[] = {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"};
  std::vector<std::optional<std::string>> saved_;
};

// The manager's end: a datagram socket bound in a temporary directory, as
// systemd binds /run/systemd/notify.
class NotifySocket : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath(QStringLiteral("notify")).toLocal8Bit();
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd_, 0) << std::strerror(errno);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<size_t>(path_.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path_.constData(), path_.size());
    ASSERT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0)
        << std::strerror(errno);
    Listen();
  }
  void TearDown() override {
    if (fd_ >= 0) {
      close(fd_);
    }
  }

  void Listen() { setenv("NOTIFY_SOCKET", path_.constData(), 1); }

  // The next datagram, its trailing line break dropped; none when nothing
  // came within a bound that only a failing test waits out.
  std::optional<std::string> Next() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) {
      return std::nullopt;
    }
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
    if (n < 0) {
      return std::nullopt;
    }
    std::string message(buffer, static_cast<size_t>(n));
    while (!message.empty() && message.back() == '\n') {
      message.pop_back();
    }
    return message;
  }

  // Whether anything is waiting. A datagram is queued on the receiving
  // socket before the sending call returns, so no wait is needed.
  bool Pending() {
    char byte;
    return recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) >= 0;
  }

  SavedEnvironment environment_;
  QTemporaryDir dir_;
  QByteArray path_;
  int fd_ = -1;
};

TEST_F(NotifySocket, EachMessageArrivesAsTheManagerReadsIt) {
  ServiceNotifier notifier;
  EXPECT_TRUE(notifier.Active());
  EXPECT_TRUE(notifier.Ready());
  EXPECT_EQ(Next(), "READY=1");
  EXPECT_TRUE(notifier.Status(QStringLiteral("Polling COM3, COM4; broker connected")));
  EXPECT_EQ(Next(), "STATUS=Polling COM3, COM4; broker connected");
  EXPECT_TRUE(notifier.Watchdog());
  EXPECT_EQ(Next(), "WATCHDOG=1");
  EXPECT_TRUE(notifier.Stopping());
  EXPECT_EQ(Next(), "STOPPING=1");
  EXPECT_FALSE(Pending());
}

TEST_F(NotifySocket, AStatusIsOneLineOfUtf8) {
  ServiceNotifier notifier;
  // A status quoting something from outside (a broker's reason) must not
  // smuggle in an assignment of its own.
  EXPECT_TRUE(notifier.Status(QStringLiteral("broker said: bye\nREADY=1\r\nSTOPPING=1")));
  EXPECT_EQ(Next(), "STATUS=broker said: bye READY=1  STOPPING=1");
  EXPECT_TRUE(notifier.Status(QStringLiteral("COM3 0,12 µSv/h — ДКС")));
  EXPECT_EQ(Next(),
            std::string("STATUS=COM3 0,12 \xC2\xB5Sv/h \xE2\x80\x94 \xD0\x94\xD0\x9A\xD0\xA1"));
  EXPECT_FALSE(Pending());
}

long long MonotonicMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000LL + now.tv_nsec / 1000;
}

TEST_F(NotifySocket, ReloadingCarriesTheMonotonicTimeOfTheReload) {
  ServiceNotifier notifier;
  const long long before = MonotonicMicroseconds();
  EXPECT_TRUE(notifier.Reloading());
  const long long after = MonotonicMicroseconds();
  const std::optional<std::string> message = Next();
  ASSERT_TRUE(message);
  const QStringList lines = QString::fromStdString(*message).split('\n');
  ASSERT_EQ(lines.size(), 2) << *message;
  EXPECT_EQ(lines[0], "RELOADING=1");
  ASSERT_TRUE(lines[1].startsWith("MONOTONIC_USEC=")) << *message;
  bool number = false;
  const long long stamp = lines[1].mid(15).toLongLong(&number);
  ASSERT_TRUE(number) << *message;
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  // The reload ends as a start does.
  EXPECT_TRUE(notifier.Ready());
  EXPECT_EQ(Next(), "READY=1");
}

TEST_F(NotifySocket, WithoutTheVariableNothingIsSent) {
  ServiceNotifier notifier;
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    if (value) {
      setenv("NOTIFY_SOCKET", value, 1);
    } else {
      unsetenv("NOTIFY_SOCKET");
    }
    EXPECT_FALSE(notifier.Active());
    EXPECT_FALSE(notifier.Ready());
    EXPECT_FALSE(notifier.Status(QStringLiteral("started by hand")));
    EXPECT_FALSE(notifier.Reloading());
    EXPECT_FALSE(notifier.Watchdog());
    EXPECT_FALSE(notifier.Stopping());
  }
  EXPECT_FALSE(Pending());
  // The socket was there all along: the first message it gets is the one
  // sent once the variable names it.
  Listen();
  EXPECT_TRUE(notifier.Ready());
  EXPECT_EQ(Next(), "READY=1");
  EXPECT_FALSE(Pending());
}

int warnings = 0;
void CountWarnings(QtMsgType type, const QMessageLogContext&, const QString&) {
  if (type == QtWarningMsg) {
    ++warnings;
  }
}

TEST_F(NotifySocket, AManagerThatIsGoneIsLoggedOnceAndNotFatal) {
  setenv("NOTIFY_SOCKET", dir_.filePath(QStringLiteral("nobody")).toLocal8Bit().constData(), 1);
  warnings = 0;
  const QtMessageHandler previous = qInstallMessageHandler(CountWarnings);
  ServiceNotifier notifier;
  EXPECT_TRUE(notifier.Active());
  EXPECT_FALSE(notifier.Ready());
  for (int tick = 0; tick < 5; ++tick) {
    EXPECT_FALSE(notifier.Watchdog());
  }
  EXPECT_EQ(warnings, 1);
  // It comes back: the pings go out again.
  Listen();
  EXPECT_TRUE(notifier.Watchdog());
  EXPECT_EQ(Next(), "WATCHDOG=1");
  // A later outage is told again, once.
  close(fd_);
  fd_ = -1;
  EXPECT_FALSE(notifier.Watchdog());
  EXPECT_FALSE(notifier.Watchdog());
  qInstallMessageHandler(previous);
  EXPECT_EQ(warnings, 2);
}

TEST(ServiceWatchdog, TheIntervalIsTheManagersForThisProcessOnly) {
  SavedEnvironment environment;
  ServiceNotifier notifier;
  EXPECT_FALSE(notifier.WatchdogInterval()) << "no watchdog asked";

  const std::string self = std::to_string(getpid());
  struct Case {
    const char* usec;
    std::optional<std::string> pid;
    std::optional<std::chrono::microseconds> expected;
  };
  const Case cases[] = {
      {"30000000", self, std::chrono::seconds(30)},
      // Set for the process that started this one, and inherited.
      {"30000000", std::string("1"), std::nullopt},
      // No WATCHDOG_PID: meant for whoever reads it.
      {"5000000", std::nullopt, std::chrono::seconds(5)},
      {"0", self, std::nullopt},
      {"thirty", self, std::nullopt},
  };
  for (const Case& c : cases) {
    setenv("WATCHDOG_USEC", c.usec, 1);
    if (c.pid) {
      setenv("WATCHDOG_PID", c.pid->c_str(), 1);
    } else {
      unsetenv("WATCHDOG_PID");
    }
    EXPECT_EQ(notifier.WatchdogInterval(), c.expected)
        << "WATCHDOG_USEC=" << c.usec << " WATCHDOG_PID=" << c.pid.value_or("(unset)");
    // Reading it leaves the variables for the next reader.
    EXPECT_STREQ(std::getenv("WATCHDOG_USEC"), c.usec);
  }
}

TEST(ServiceWatchdog, ACommandTheStationRunsGetsNoneOfTheManagersVariables) {
  QProcessEnvironment environment;
  environment.insert(QStringLiteral("NOTIFY_SOCKET"), QStringLiteral("/run/systemd/notify"));
  environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("30000000"));
  environment.insert(QStringLiteral("WATCHDOG_PID"), QStringLiteral("4711"));
  environment.insert(QStringLiteral("INVOCATION_ID"), QStringLiteral("0123abcd"));
  environment.insert(QStringLiteral("VANTOR_STATE"), QStringLiteral("raised"));
  ServiceNotifier::RemoveFrom(environment);
  QStringList left = environment.keys();
  left.sort();
  EXPECT_EQ(left, (QStringList{"INVOCATION_ID", "VANTOR_STATE"}));
}

}  // namespace
}  // namespace vantor
