#include "FileFaults.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace vantor::test {
namespace {

#ifdef Q_OS_LINUX
QString ErrnoText(const char* what) {
  return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                      QString::fromLocal8Bit(std::strerror(errno)));
}

// Sets or clears the immutable attribute; false with errno when the file
// system or the caller's rights do not allow it.
bool SetImmutable(const QString& path, bool on) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok;
}

bool CanCreateIn(const QString& dir) {
  const QString probe = dir + QStringLiteral("/.probe");
  QFile file(probe);
  if (file.open(QIODevice::WriteOnly)) {
    file.close();
    QFile::remove(probe);
    return true;
  }
  return false;
}
#endif

}  // namespace

SmallFilesystem::SmallFilesystem(int kilobytes) {
#ifdef Q_OS_LINUX
  if (!dir_.isValid()) {
    why_ = QStringLiteral("no temporary directory");
    return;
  }
  // A private namespace, where allowed, keeps the mount out of everyone
  // else's sight even if the test dies before unmounting.
  if (::unshare(CLONE_NEWNS) == 0) {
    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
  }
  const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0777";
  if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
              options.constData()) != 0) {
    why_ = ErrnoText("cannot mount a small tmpfs (needs root)");
    return;
  }
  mounted_ = true;
#else
  (void)kilobytes;
  why_ = QStringLiteral("a small file system is made only on Linux");
#endif
}

SmallFilesystem::~SmallFilesystem() {
#ifdef Q_OS_LINUX
  if (mounted_) {
    ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
  }
#endif
}

bool SmallFilesystem::Fill() {
  QFile filler(File(QStringLiteral("filler")));
  if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
    return false;
  }
  const QByteArray block(4096, 'f');
  while (filler.write(block) == block.size()) {
  }
  filler.unsetError();
  while (filler.write("f", 1) == 1) {
  }
  return true;
}

ClosedDirectory::ClosedDirectory(const QString& path) : path_(path) {
#ifdef Q_OS_LINUX
  const QByteArray name = QFile::encodeName(path);
  if (::chmod(name.constData(), 0500) == 0 && !CanCreateIn(path)) {
    closed_ = true;
    return;
  }
  ::chmod(name.constData(), 0700);
  if (SetImmutable(path, true)) {
    immutable_ = true;
    closed_ = !CanCreateIn(path);
    if (!closed_) {
      why_ = QStringLiteral("the immutable directory still takes new files");
    }
    return;
  }
  why_ = ErrnoText("cannot close the directory to new files (immutable attribute)");
#else
  why_ = QStringLiteral("a closed directory is made only on Linux");
#endif
}

ClosedDirectory::~ClosedDirectory() {
#ifdef Q_OS_LINUX
  if (immutable_) {
    SetImmutable(path_, false);
  }
  ::chmod(QFile::encodeName(path_).constData(), 0700);
#endif
}

LockedFile::LockedFile(const QString& path) : path_(path) {
#ifdef Q_OS_LINUX
  const QByteArray name = QFile::encodeName(path);
  if (::chmod(name.constData(), 0400) == 0 && ::access(name.constData(), W_OK) != 0) {
    locked_ = true;
    return;
  }
  if (SetImmutable(path, true)) {
    immutable_ = true;
    locked_ = true;
    return;
  }
  why_ = ErrnoText("cannot make the file unwritable (immutable attribute)");
#else
  why_ = QStringLiteral("a locked file is made only on Linux");
#endif
}

LockedFile::~LockedFile() {
#ifdef Q_OS_LINUX
  if (immutable_) {
    SetImmutable(path_, false);
  }
  ::chmod(QFile::encodeName(path_).constData(), 0600);
#endif
}

QStringList DirectoryEntries(const QString& path) {
  return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                              QDir::Name);
}

}  // namespace vantor::test
