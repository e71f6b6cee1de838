#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vantor {
namespace {

void SetError(QString* error, const QString& text) {
  if (error != nullptr) {
    *error = text;
  }
}

// Writes every byte and makes sure it left the program's buffers: a buffered
// write that the disk refused only shows up at the flush.
bool WriteAndFlush(QFileDevice& file, const QByteArray& bytes) {
  return file.write(bytes) == bytes.size() && file.flush() && file.error() == QFileDevice::NoError;
}

// Rewrites an existing file in place (its directory forbids a new file). The
// old bytes are kept so a failed write can put them back.
bool WriteInPlace(const QString& path, const QByteArray& bytes, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite)) {
    SetError(error, file.errorString());
    return false;
  }
  const QByteArray old = file.readAll();
  if (file.error() != QFileDevice::NoError || !file.seek(0)) {
    SetError(error, file.errorString());
    return false;
  }
  if (WriteAndFlush(file, bytes) && file.resize(bytes.size())) {
    return true;
  }
  SetError(error, file.errorString());
  file.unsetError();
  if (file.seek(0)) {
    WriteAndFlush(file, old);
    file.resize(old.size());
  }
  return false;
}

}  // namespace

bool WriteFileWhole(const QString& path, const QByteArray& bytes, QString* error,
                    bool allowInPlace) {
  QSaveFile file(path);
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly)) {
    if (allowInPlace && QFileInfo(path).isFile()) {
      return WriteInPlace(path, bytes, error);
    }
    SetError(error, file.errorString());
    return false;
  }
  if (!WriteAndFlush(file, bytes)) {
    SetError(error, file.errorString());
    file.cancelWriting();
    return false;
  }
  // commit() renames over the old file only now that every byte is out.
  if (!file.commit()) {
    SetError(error, file.errorString());
    return false;
  }
  return true;
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
  if (!file_->commit()) {
    SetError(error, file_->errorString());
    return false;
  }
  return true;
}

bool AppendFileWhole(const QString& path, const QByteArray& bytes, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
    SetError(error, file.errorString());
    return false;
  }
  // A piece cut short would shift everything appended later; take it back.
  const qint64 start = file.size();
  if (!WriteAndFlush(file, bytes)) {
    SetError(error, file.errorString());
    file.unsetError();
    file.resize(start);
    return false;
  }
  return true;
}

bool ReadRegularFile(const QString& path, QByteArray& out, qint64 limit, bool* tooLarge) {
  out.clear();
  if (tooLarge != nullptr) {
    *tooLarge = false;
  }
#ifndef Q_OS_WIN
  // Opened without blocking, so a FIFO with no writer cannot hold the
  // program; only a regular file is read at all.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat info {};
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
    if (got > limit) {
      ::close(fd);
      if (tooLarge != nullptr) {
        *tooLarge = true;
      }
      return false;
    }
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
