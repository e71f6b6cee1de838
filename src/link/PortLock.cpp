#include "PortLock.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <array>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace vantor {
namespace {

// The directories the serial port library tries, in its order.
constexpr std::array<const char*, 8> LockDirectories = {
    "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
    "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};

QString LockFileName(const QString& devicePath) {
  QString name = devicePath.startsWith(QLatin1String("/dev/")) ? devicePath.mid(5) : devicePath;
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  return QStringLiteral("LCK..") + name;
}

#ifndef Q_OS_WIN
QString UserOf(uid_t uid) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): only the name is copied at once
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

bool Older(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Whether the lock stands for nobody's use of this device: its process is
// gone (on this computer), or it was made before the device was.
bool Stale(const QString& lockFile, const QString& devicePath, const struct stat& lock) {
  struct stat device {};
  if (::stat(QFile::encodeName(devicePath).constData(), &device) == 0 &&
      Older(lock.st_mtim, device.st_ctim)) {
    return true;
  }
  QFile file(lockFile);
  if (!file.open(QIODevice::ReadOnly)) {
    return false;
  }
  const QList<QByteArray> lines = file.read(4096).split('\n');
  bool ok = false;
  const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
  if (!ok || pid <= 0) {
    return false;
  }
  const QByteArray host = lines.value(2).trimmed();
  if (!host.isEmpty() && host != QSysInfo::machineHostName().toLocal8Bit()) {
    return false;  // a process of another computer sharing the directory
  }
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}
#endif

}  // namespace

QString PortLockFile(const QString& devicePath) {
  const QString name = LockFileName(devicePath);
  for (const char* directory : LockDirectories) {
    const QString folder = QString::fromLatin1(directory);
    const QFileInfo info(folder);
    if (info.isReadable() &&
        (QFile::exists(folder + QLatin1Char('/') + name) || info.isWritable())) {
      return folder + QLatin1Char('/') + name;
    }
  }
  return {};
}

QString FileOwner(const QString& file) {
#ifndef Q_OS_WIN
  struct stat info {};
  if (::lstat(QFile::encodeName(file).constData(), &info) == 0) {
    return UserOf(info.st_uid);
  }
#else
  (void)file;
#endif
  return {};
}

PortLockLook TakeOverStaleLock(const QString& devicePath, const QString& lockDirectory) {
  PortLockLook look;
#ifndef Q_OS_WIN
  look.File = lockDirectory.isEmpty() ? PortLockFile(devicePath)
                                      : lockDirectory + QLatin1Char('/') + LockFileName(devicePath);
  struct stat lock {};
  if (look.File.isEmpty() || ::lstat(QFile::encodeName(look.File).constData(), &lock) != 0) {
    return look;
  }
  if (!Stale(look.File, devicePath, lock)) {
    look.Result = PortLockLook::State::Held;
    return look;
  }
  if (::unlink(QFile::encodeName(look.File).constData()) == 0 || errno == ENOENT) {
    return look;
  }
  look.Result = PortLockLook::State::StaleKept;
  look.Owner = UserOf(lock.st_uid);
#else
  (void)devicePath;
  (void)lockDirectory;
#endif
  return look;
}

}  // namespace vantor
