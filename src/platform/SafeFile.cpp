#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <utility>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace vantor {
namespace {

void SetError(QString* error, const QString& text) {
  if (error != nullptr) {
    *error = text;
  }
}

// Every byte written and accepted by the disk. Files are opened unbuffered:
// bytes a refused write left in a buffer would otherwise go out later (at a
// seek or at close), after the file has been put back. A network or failing
// disk may refuse bytes only at the sync.
bool WriteAndSync(QFileDevice& file, const QByteArray& bytes) {
  if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
    return false;
  }
#ifndef Q_OS_WIN
  if (::fsync(file.handle()) != 0 && errno != EINVAL && errno != EROFS) {
    // EINVAL/EROFS: the file cannot be synced at all (a special file), which
    // says nothing about the bytes.
    return false;
  }
#endif
  return true;
}

const char* const NotAFile = "not a regular file";

// Opens `file` only when it is a regular file (or, with `create`, when
// nothing is there yet), never waiting on open: what was checked before may
// have been swapped for a FIFO or a device meanwhile.
bool OpenRegular(QFile& file, QIODevice::OpenMode mode, bool create, QString* error) {
#ifndef Q_OS_WIN
  int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  flags |= (mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY;
  flags |= (mode & QIODevice::Append) ? O_APPEND : 0;
  flags |= create ? O_CREAT : 0;
  const int fd = ::open(QFile::encodeName(file.fileName()).constData(), flags, 0666);
  if (fd < 0) {
    SetError(error, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    SetError(error, QString::fromLatin1(NotAFile));
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    SetError(error, file.errorString());
    return false;
  }
  return true;
#else
  (void)create;
  if (!file.open(mode)) {
    SetError(error, file.errorString());
    return false;
  }
  return true;
#endif
}

}  // namespace

bool WritableTarget(const QString& path, QString* error) {
#ifndef Q_OS_WIN
  // Looked at without opening it: opening a FIFO would wait for a reader,
  // and a device may act on being opened. A link is judged by what it
  // points at, which is what a write would replace.
  struct stat info {};
  const QByteArray name = QFile::encodeName(path);
  if (::stat(name.constData(), &info) != 0) {
    return true;  // nothing there (or a link to nothing): a new file
  }
  if (!S_ISREG(info.st_mode)) {
    SetError(error, QString::fromLatin1(NotAFile));
    return false;
  }
#else
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) {
    SetError(error, QString::fromLatin1(NotAFile));
    return false;
  }
#endif
  return true;
}

StagedFileWrite::StagedFileWrite(QString path, bool allowInPlace)
    : path_(std::move(path)), allowInPlace_(allowInPlace) {}

StagedFileWrite::~StagedFileWrite() {
  Discard();
}

bool StagedFileWrite::Stage(const QByteArray& bytes) {
  Discard();
  error_.clear();
  if (!WritableTarget(path_, &error_)) {
    return false;
  }
  temp_ = std::make_unique<QSaveFile>(path_);
  temp_->setDirectWriteFallback(false);
  if (!temp_->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    const QString reason = temp_->errorString();
    temp_.reset();
    if (allowInPlace_ && QFileInfo(path_).isFile()) {
      return StageInPlace(bytes);
    }
    error_ = reason;
    return false;
  }
  if (!WriteAndSync(*temp_, bytes)) {
    error_ = temp_->errorString();
    temp_.reset();  // removes the temporary file
    return false;
  }
  return true;
}

bool StagedFileWrite::StageInPlace(const QByteArray& bytes) {
  inPlace_ = std::make_unique<QFile>(path_);
  if (!OpenRegular(*inPlace_, QIODevice::ReadWrite | QIODevice::Unbuffered, false, &error_)) {
    inPlace_.reset();
    return false;
  }
  oldSize_ = inPlace_->size();
  newSize_ = bytes.size();
  // Only what the new bytes cover needs keeping; the rest stays on disk.
  oldPrefix_ = inPlace_->read(std::min(oldSize_, newSize_));
  if (inPlace_->error() != QFileDevice::NoError ||
      oldPrefix_.size() != std::min(oldSize_, newSize_) || !inPlace_->seek(0)) {
    error_ = inPlace_->errorString();
    inPlace_.reset();
    return false;
  }
  if (!WriteAndSync(*inPlace_, bytes)) {
    error_ = inPlace_->errorString();
    RestoreInPlace();
    return false;
  }
  return true;
}

void StagedFileWrite::RestoreInPlace() {
  // The old bytes go back over blocks the file already has, then the file is
  // cut back to its old length: no new disk space is needed.
  inPlace_->unsetError();
  if (inPlace_->seek(0)) {
    WriteAndSync(*inPlace_, oldPrefix_);
  }
  inPlace_->resize(oldSize_);
  inPlace_.reset();
  oldPrefix_.clear();
}

bool StagedFileWrite::Commit() {
  if (temp_) {
    // What is there may have changed since Stage: a rename never replaces
    // anything but a regular file.
    if (!WritableTarget(path_, &error_)) {
      temp_.reset();
      return false;
    }
    // commit() renames over the old file only now that every byte is out.
    const bool done = temp_->commit();
    if (!done) {
      error_ = temp_->errorString();
    }
    temp_.reset();
    return done;
  }
  if (inPlace_) {
    // A longer old file keeps its tail until here, so a discard never has
    // to grow the file again.
    const bool done = newSize_ >= oldSize_ || inPlace_->resize(newSize_);
    if (!done) {
      error_ = inPlace_->errorString();
      RestoreInPlace();
      return false;
    }
    inPlace_.reset();
    oldPrefix_.clear();
    return true;
  }
  return false;
}

void StagedFileWrite::Discard() {
  temp_.reset();
  if (inPlace_) {
    RestoreInPlace();
  }
}

bool WriteFileWhole(const QString& path, const QByteArray& bytes, QString* error,
                    bool allowInPlace) {
  StagedFileWrite write(path, allowInPlace);
  if (write.Stage(bytes) && write.Commit()) {
    return true;
  }
  SetError(error, write.Error());
  return false;
}

WholeFileWriter::WholeFileWriter(const QString& path) : file_(std::make_unique<QSaveFile>(path)) {
  file_->setDirectWriteFallback(false);
}

WholeFileWriter::~WholeFileWriter() {
  if (file_->isOpen()) {
    file_->cancelWriting();
  }
}

bool WholeFileWriter::Open(QString* error) {
  if (!WritableTarget(file_->fileName(), error)) {
    failed_ = true;
    return false;
  }
  if (!file_->open(QIODevice::WriteOnly)) {
    SetError(error, file_->errorString());
    failed_ = true;
    return false;
  }
  return true;
}

bool WholeFileWriter::Write(const QByteArray& bytes) {
  failed_ = failed_ || !file_->isOpen() || file_->write(bytes) != bytes.size();
  return !failed_;
}

bool WholeFileWriter::Commit(QString* error) {
  if (failed_ || !file_->flush() || file_->error() != QFileDevice::NoError) {
    SetError(error, file_->errorString());
    file_->cancelWriting();
    return false;
  }
  if (!WritableTarget(file_->fileName(), error)) {
    file_->cancelWriting();
    return false;
  }
  if (!file_->commit()) {
    SetError(error, file_->errorString());
    return false;
  }
  return true;
}

bool AppendFileWhole(const QString& path, const QByteArray& bytes, QString* error,
                     qint64* previousSize) {
  const bool existed = PathTaken(path);
  QFile file(path);
  if (!WritableTarget(path, error)) {
    return false;
  }
  if (!OpenRegular(file, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, true,
                   error)) {
    return false;
  }
  // A piece cut short would shift everything appended later; take it back,
  // and a file this call created goes again.
  const qint64 start = file.size();
  if (previousSize != nullptr) {
    *previousSize = start;
  }
  if (!WriteAndSync(file, bytes)) {
    SetError(error, file.errorString());
    file.unsetError();
    if (!file.isSequential()) {
      file.resize(start);
    }
    file.close();
    if (!existed) {
      QFile::remove(path);
    }
    return false;
  }
  return true;
}

bool TruncateFile(const QString& path, qint64 size) {
  return QFile::resize(path, size);
}

bool PathTaken(const QString& path) {
#ifndef Q_OS_WIN
  struct stat info {};
  return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
#else
  return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
#endif
}

bool ReadRegularFile(const QString& path, QByteArray& out, qint64 limit, bool* tooLarge) {
  out.clear();
  if (tooLarge != nullptr) {
    *tooLarge = false;
  }
#ifndef Q_OS_WIN
  const QByteArray name = QFile::encodeName(path);
  // Looked at before it is opened: opening a device (a serial port, a tape)
  // can act on it, and a FIFO with no writer would hold the program.
  struct stat info {};
  if (::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  // Opened without blocking and checked again, in case the path was swapped
  // for something else in between.
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  if (info.st_size > limit) {
    ::close(fd);
    if (tooLarge != nullptr) {
      *tooLarge = true;
    }
    return false;
  }
  // One byte more than it should hold: a file that grows while being read
  // is caught.
  QByteArray bytes(static_cast<qsizetype>(info.st_size) + 1, Qt::Uninitialized);
  qsizetype got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
    if (n == 0) {
      break;
    }
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      ::close(fd);
      return false;
    }
    got += n;
  }
  ::close(fd);
  if (got == bytes.size()) {
    return false;  // it grew while being read: not a file to trust
  }
  bytes.truncate(got);
  out = bytes;
  return true;
#else
  const QFileInfo info(path);
  if (!info.isFile()) {
    return false;
  }
  if (info.size() > limit) {
    if (tooLarge != nullptr) {
      *tooLarge = true;
    }
    return false;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return false;
  }
  out = file.read(limit + 1);
  if (file.error() != QFileDevice::NoError || out.size() > limit) {
    out.clear();
    return false;
  }
  return true;
#endif
}

}  // namespace vantor
