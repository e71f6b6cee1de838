#pragma once
#include <QByteArray>
#include <QString>
#include <memory>

class QSaveFile;

namespace vantor {

// Every file the program writes goes through here, so a write that failed
// (full disk, vanished directory, I/O error) is never reported as done and
// never destroys the file that was there before.
//
// The bytes go to a temporary file beside `path`, which replaces the old file
// only once every byte is known to be on disk. Where the directory forbids a
// new file but the file itself is writable (`allowInPlace`), the file is
// rewritten in place; should that fail, its old bytes are put back.
// On failure `error` (when given) holds a short reason for the user.
bool WriteFileWhole(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                    bool allowInPlace = true);

// Appends `bytes` to `path` (created when missing). All or nothing: a write
// that could not go out whole is cut back to the file's previous length.
bool AppendFileWhole(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Reads a regular file of at most `limit` bytes without blocking on open (a
// FIFO or a device is refused, not waited for). Nothing when the file is
// missing, not a regular file, larger than `limit` or unreadable; `tooLarge`
// (when given) tells the last case from the others.
bool ReadRegularFile(const QString& path, QByteArray& out, qint64 limit = 1 << 20,
                     bool* tooLarge = nullptr);

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
