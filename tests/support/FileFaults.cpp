#include "FileFaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// Whether a new file can be made in `path` (a directory) or `path` (a file)
// opened for writing; nothing is changed either way.
bool Writable(const QString& path, bool directory) {
  if (!directory) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append);
  }
  const QString probe = path + QStringLiteral("/.probe");
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
  // In the process's own mount namespace: a private one would be this
  // thread's alone (with its own working directory), and the program writes
  // from the instrument's thread too.
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

bool SmallFilesystem::MakeReadOnly() {
#ifdef Q_OS_LINUX
  return mounted_ && ::mount(nullptr, QFile::encodeName(dir_.path()).constData(), nullptr,
                             MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0;
#else
  return false;
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

WriteProtected::WriteProtected(const QString& path)
    : path_(path), directory_(QFileInfo(path).isDir()) {
#ifdef Q_OS_LINUX
  const QByteArray name = QFile::encodeName(path);
  if (::chmod(name.constData(), directory_ ? 0500 : 0400) == 0 && !Writable(path, directory_)) {
    protected_ = true;
    return;
  }
  if (SetImmutable(path, true)) {
    immutable_ = true;
    protected_ = !Writable(path, directory_);
    if (!protected_) {
      why_ = QStringLiteral("an immutable path still takes writes");
    }
    return;
  }
  why_ = ErrnoText("cannot protect the path from writes (immutable attribute)");
#else
  why_ = QStringLiteral("write protection is made only on Linux");
#endif
}

WriteProtected::~WriteProtected() {
#ifdef Q_OS_LINUX
  if (immutable_) {
    SetImmutable(path_, false);
  }
  ::chmod(QFile::encodeName(path_).constData(), directory_ ? 0700 : 0600);
#endif
}

QString ScratchDevice(const QString& dir) {
  if (::geteuid() != 0) {
    return QStringLiteral("/dev/null");
  }
  const QString node = dir + QStringLiteral("/null-device");
  if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
    return QString();
  }
  return node;
}

QStringList DirectoryEntries(const QString& path) {
  return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                              QDir::Name);
}

}  // namespace vantor::test
