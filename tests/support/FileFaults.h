#pragma once
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace vantor::test {

// A tiny tmpfs mounted on a fresh temporary directory, for tests of a full
// disk. Mounting needs root; where it is not allowed, Mounted() is false and
// Why() says so (the test skips with that text). The mount is made in a
// private mount namespace when the process may make one, so nothing outside
// the test sees it; either way it is unmounted when the object goes.
class SmallFilesystem {
 public:
  explicit SmallFilesystem(int kilobytes = 64);
  ~SmallFilesystem();
  SmallFilesystem(const SmallFilesystem&) = delete;
  SmallFilesystem& operator=(const SmallFilesystem&) = delete;

  bool Mounted() const { return mounted_; }
  const QString& Why() const { return why_; }
  QString Path() const { return dir_.path(); }
  QString File(const QString& name) const { return dir_.filePath(name); }
  // Takes every free byte with a file named "filler"; true when the disk is
  // then full (a one-byte write is refused).
  bool Fill();
  // Mounts it again read-only, as a medium that takes no writes at all;
  // false when that is not allowed.
  bool MakeReadOnly();

 private:
  QTemporaryDir dir_;
  bool mounted_ = false;
  QString why_;
};

// Makes `path` refuse writes: a directory then takes no new file (the files
// in it stay writable), a file can no longer be written. Permissions do it
// for an ordinary user, the immutable attribute for root (whom permissions
// do not stop); Protected() is false with Why() where neither works. The
// path is writable again when the object goes.
class WriteProtected {
 public:
  explicit WriteProtected(const QString& path);
  ~WriteProtected();
  WriteProtected(const WriteProtected&) = delete;
  WriteProtected& operator=(const WriteProtected&) = delete;

  bool Protected() const { return protected_; }
  const QString& Why() const { return why_; }

 private:
  QString path_;
  bool directory_ = false;
  bool protected_ = false;
  bool immutable_ = false;
  QString why_;
};

// A character device for a test to point a link at. Run as root, whose
// writes could replace a system node if the code under test went wrong, it
// is a null device of its own made in `dir`; otherwise /dev/null, which an
// ordinary user cannot replace.
QString ScratchDevice(const QString& dir);

// Names of everything in a directory, hidden entries included, sorted.
QStringList DirectoryEntries(const QString& path);

}  // namespace vantor::test
