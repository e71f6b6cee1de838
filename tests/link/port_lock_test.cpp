// The lock files of serial ports: which are taken over before an open and
// which are left alone, on the test's own pseudo-terminals and lock folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <cstdlib>
#include <thread>

#include "CoreApplication.h"
#include "PortLock.h"
#include "SerialTransport.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal of the test's own, as the device.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      std::array<char, 128> name{};
      if (::ptsname_r(master_, name.data(), name.size()) == 0) {
        path_ = QString::fromLocal8Bit(name.data());
      }
    }
  }
  ~Pty() {
    if (master_ >= 0) {
      ::close(master_);
    }
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const QString& Path() const { return path_; }

 private:
  int master_ = -1;
  QString path_;
};

// The process id of a program that has ended.
qint64 EndedPid() {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

void WriteLock(const QString& file, qint64 pid, const QByteArray& host) {
  QFile lock(file);
  ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
  lock.write(QByteArray::number(pid) + '\n' + QCoreApplication::applicationName().toUtf8() + '\n' +
             host + '\n');
}

void AgeBy(const QString& file, int seconds) {
  struct stat now {};
  ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &now), 0);
  const timespec times[2] = {{now.st_mtim.tv_sec - seconds, 0}, {now.st_mtim.tv_sec - seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
}

class PortLockTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureCoreApplication(); }
  void SetUp() override {
    ASSERT_FALSE(pty_.Path().isEmpty());
    ASSERT_TRUE(locks_.isValid());
    lock_ = locks_.filePath(QStringLiteral("LCK..") + pty_.Path().mid(5).replace('/', '_'));
  }
  PortLockLook Look() const { return TakeOverStaleLock(pty_.Path(), locks_.path()); }

  Pty pty_;
  QTemporaryDir locks_;
  QString lock_;
  const QByteArray host_ = QSysInfo::machineHostName().toLocal8Bit();
};

TEST_F(PortLockTest, ALockWhoseProgramEndedIsTakenOver) {
  EXPECT_EQ(Look().Result, PortLockLook::State::Free) << "no lock at all";
  WriteLock(lock_, EndedPid(), host_);
  const PortLockLook look = Look();
  EXPECT_EQ(look.Result, PortLockLook::State::Free);
  EXPECT_EQ(look.File, lock_);
  EXPECT_FALSE(QFile::exists(lock_));
}

TEST_F(PortLockTest, ALockOfALiveProgramOrAnotherComputerIsLeftAlone) {
  std::this_thread::sleep_for(20ms);  // made after the terminal
  WriteLock(lock_, QCoreApplication::applicationPid(), host_);
  EXPECT_EQ(Look().Result, PortLockLook::State::Held);
  EXPECT_TRUE(QFile::exists(lock_));
  // An ended process id means nothing on another computer sharing the folder.
  WriteLock(lock_, EndedPid(), "elsewhere.example");
  EXPECT_EQ(Look().Result, PortLockLook::State::Held);
  // Nor does a lock the program cannot read.
  WriteLock(lock_, 0, host_);
  EXPECT_EQ(Look().Result, PortLockLook::State::Held);
  EXPECT_TRUE(QFile::exists(lock_));
}

// A live program's lock made before this terminal existed was for an earlier
// terminal of the same name: it stands for nothing now, even locked.
TEST_F(PortLockTest, ALockOlderThanTheTerminalIsForAnEarlierOneOfTheSameName) {
  WriteLock(lock_, QCoreApplication::applicationPid(), host_);
  AgeBy(lock_, 3600);
  const int held = ::open(QFile::encodeName(lock_).constData(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Look().Result, PortLockLook::State::Free);
  EXPECT_FALSE(QFile::exists(lock_));
  ::close(held);
}

// The file looked at is the one the serial port library makes: there while
// the port is open, gone once it is closed.
TEST_F(PortLockTest, TheLockLookedAtIsTheOneAnOpenPortHolds) {
  const QString file = PortLockFile(pty_.Path());
  ASSERT_FALSE(file.isEmpty());
  EXPECT_TRUE(file.endsWith(QStringLiteral("/LCK..") + pty_.Path().mid(5).replace('/', '_')));
  ASSERT_FALSE(QFile::exists(file)) << "the test's own terminal is locked by nobody";
  {
    const std::unique_ptr<SerialTransport> line = SerialTransport::Open(pty_.Path());
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(QFile::exists(file));
    OpenFailure failure = OpenFailure::None;
    EXPECT_EQ(SerialTransport::Open(pty_.Path(), &failure), nullptr);
    EXPECT_EQ(failure, OpenFailure::Busy) << "a live holder's lock is kept";
    EXPECT_TRUE(QFile::exists(file));
  }
  EXPECT_FALSE(QFile::exists(file));
}

}  // namespace
}  // namespace vantor
