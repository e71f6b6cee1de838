#pragma once
#include <QByteArray>
#include <QString>
#include <memory>

class QFile;
class QSaveFile;

namespace vantor {

// Every file the program writes goes through here, so a write that failed
// (full disk, vanished directory, I/O error) is never reported as done and
// never destroys the file that was there before. Only regular files are
// written: a FIFO, a device or a directory at the path (or at the end of a
// link there) is refused without being opened, and never replaced.

// Whether `path` may be written: nothing is there, or a regular file (also
// through a link). Otherwise false, with a short reason in `error`.
bool WritableTarget(const QString& path, QString* error = nullptr);

// A whole-file write in two steps, so that a second file can change together
// with this one: Stage() puts every new byte on disk while the old file stays
// whole, Commit() makes the new bytes the file's, Discard() (and destruction
// without Commit) leaves the old file as it was.
//
// The bytes go to a temporary file beside `path` that replaces the old file
// at Commit(). Where the directory forbids a new file but the file itself is
// writable (`allowInPlace`), the file is rewritten in place instead: the old
// bytes that the new ones cover are kept, so a failed or discarded write puts
// them back; putting them back needs no new disk space.
class StagedFileWrite {
 public:
  explicit StagedFileWrite(QString path, bool allowInPlace = true);
  ~StagedFileWrite();
  StagedFileWrite(const StagedFileWrite&) = delete;
  StagedFileWrite& operator=(const StagedFileWrite&) = delete;

  bool Stage(const QByteArray& bytes);
  bool Commit();
  void Discard();
  // A short reason for the user after a failed step.
  const QString& Error() const { return error_; }

 private:
  bool StageInPlace(const QByteArray& bytes);
  void RestoreInPlace();

  QString path_;
  bool allowInPlace_;
  QString error_;
  std::unique_ptr<QSaveFile> temp_;
  std::unique_ptr<QFile> inPlace_;
  QByteArray oldPrefix_;  // in place: the old bytes the new ones overwrote
  qint64 oldSize_ = 0;
  qint64 newSize_ = 0;
};

// Stage() then Commit(). On failure `error` (when given) holds a short reason.
bool WriteFileWhole(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                    bool allowInPlace = true);

// Appends `bytes` to `path` (created when missing). All or nothing: a write
// that could not go out whole is cut back to the file's previous length.
// `previousSize` (when given) receives that length, for TruncateFile to take
// a successful append back.
bool AppendFileWhole(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                     qint64* previousSize = nullptr);

// Cuts `path` back to `size` bytes (never needs disk space).
bool TruncateFile(const QString& path, qint64 size);

// Reads a regular file of at most `limit` bytes without blocking on open (a
// FIFO or a device is refused, not opened). Nothing when the file is missing,
// not a regular file, larger than `limit` or unreadable; `tooLarge` (when
// given) tells the last case from the others.
bool ReadRegularFile(const QString& path, QByteArray& out, qint64 limit = 1 << 20,
                     bool* tooLarge = nullptr);

// Whether anything (a file, a directory, a device, a dangling link) is at
// `path`.
bool PathTaken(const QString& path);

// The same all-or-nothing write for a file too large to build in memory
// first (an export): the pieces go to a temporary file beside `path`, which
// replaces it only at Commit, once every byte is out. Destroyed without a
// successful Commit, it leaves `path` as it was.
class WholeFileWriter {
 public:
  explicit WholeFileWriter(const QString& path);
  ~WholeFileWriter();
  WholeFileWriter(const WholeFileWriter&) = delete;
  WholeFileWriter& operator=(const WholeFileWriter&) = delete;

  bool Open(QString* error = nullptr);
  // False once any write has failed; Commit then fails too.
  bool Write(const QByteArray& bytes);
  bool Commit(QString* error = nullptr);

 private:
  std::unique_ptr<QSaveFile> file_;
  bool failed_ = false;
};

}  // namespace vantor
