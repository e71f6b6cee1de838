#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "FileFaults.h"
#include "SafeFile.h"

using namespace vantor;
using vantor::test::DirectoryEntries;
using vantor::test::ScratchDevice;
using vantor::test::SmallFilesystem;
using vantor::test::WriteProtected;

namespace {

QByteArray Contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void Put(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

}  // namespace

TEST(SafeFile, AStagedWriteShowsOnlyOnCommitAndADiscardLeavesNoTrace) {
  QTemporaryDir dir;
  const QString path = dir.filePath("a.bin");
  Put(path, "old bytes");
  {
    StagedFileWrite write(path);
    ASSERT_TRUE(write.Stage("new"));
    EXPECT_EQ(Contents(path), "old bytes");
    write.Discard();
  }
  EXPECT_EQ(Contents(path), "old bytes");
  EXPECT_EQ(DirectoryEntries(dir.path()), QStringList{"a.bin"});
  {
    StagedFileWrite write(path);
    ASSERT_TRUE(write.Stage("new"));
  }  // gone without a commit
  EXPECT_EQ(Contents(path), "old bytes");
  StagedFileWrite write(path);
  ASSERT_TRUE(write.Stage("new"));
  ASSERT_TRUE(write.Commit());
  EXPECT_EQ(Contents(path), "new");
  EXPECT_EQ(DirectoryEntries(dir.path()), QStringList{"a.bin"});
}

TEST(SafeFile, InAClosedDirectoryTheFileIsRewrittenInPlaceAndADiscardPutsItBack) {
  QTemporaryDir dir;
  const QString path = dir.filePath("a.bin");
  ASSERT_TRUE(WriteFileWhole(path, "first, long"));
  WriteProtected closed(dir.path());
  if (!closed.Protected()) {
    GTEST_SKIP() << closed.Why().toStdString();
  }
  QString error;
  EXPECT_FALSE(WriteFileWhole(path, "x", &error, /*allowInPlace=*/false));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(Contents(path), "first, long");

  // Shorter and longer than the old bytes: a discard restores both.
  for (const QByteArray& staged : {QByteArray("ab"), QByteArray("a much longer text")}) {
    StagedFileWrite write(path);
    ASSERT_TRUE(write.Stage(staged));
    write.Discard();
    EXPECT_EQ(Contents(path), "first, long");
  }
  EXPECT_TRUE(WriteFileWhole(path, "third"));
  EXPECT_EQ(Contents(path), "third");
  EXPECT_TRUE(WriteFileWhole(path, "fourth, longer"));
  EXPECT_EQ(Contents(path), "fourth, longer");
  EXPECT_EQ(DirectoryEntries(dir.path()), QStringList{"a.bin"});
}

TEST(SafeFile, OnAFullDiskNothingIsReportedDoneAndEveryOldFileStaysWhole) {
  SmallFilesystem disk(64);
  if (!disk.Mounted()) {
    GTEST_SKIP() << disk.Why().toStdString();
  }
  const QString whole = disk.File("whole.bin");
  const QString log = disk.File("log.txt");
  Put(whole, "old picture");
  Put(log, "line 1\n");
  ASSERT_TRUE(disk.Fill());
  const QByteArray big(16 * 1024, 'n');

  QString error;
  EXPECT_FALSE(WriteFileWhole(whole, big, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(Contents(whole), "old picture");
  EXPECT_FALSE(AppendFileWhole(log, big, &error));
  EXPECT_EQ(Contents(log), "line 1\n");
  EXPECT_FALSE(AppendFileWhole(disk.File("new.txt"), big));
  EXPECT_FALSE(WriteFileWhole(disk.File("new.bin"), big));
  // No temporary file, no empty new file is left behind.
  EXPECT_EQ(DirectoryEntries(disk.Path()), (QStringList{"filler", "log.txt", "whole.bin"}));

  // In place, the bytes that did not fit are taken back out.
  WriteProtected closed(disk.Path());
  if (!closed.Protected()) {
    GTEST_SKIP() << closed.Why().toStdString();
  }
  EXPECT_FALSE(WriteFileWhole(whole, big, &error));
  EXPECT_EQ(Contents(whole), "old picture");
}

TEST(SafeFile, AWriteErrorOrAMissingDirectoryFailsAndSaysWhy) {
  QTemporaryDir dir;
  QString error;
  EXPECT_FALSE(WriteFileWhole(dir.filePath("gone/a.bin"), "x", &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(AppendFileWhole(dir.filePath("gone/a.txt"), "x", &error));
  error.clear();
  EXPECT_FALSE(AppendFileWhole("/dev/full", "x", &error));  // every write refused
  EXPECT_FALSE(error.isEmpty());
}

TEST(SafeFile, AFileWrittenInPiecesAppearsOnlyWhenCommitted) {
  QTemporaryDir dir;
  const QString path = dir.filePath("export.csv");
  Put(path, "old");
  {
    WholeFileWriter file(path);
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write("a,b\r\n"));
    EXPECT_EQ(Contents(path), "old");
  }  // abandoned half way
  EXPECT_EQ(Contents(path), "old");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"export.csv"});
  WholeFileWriter file(path);
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("a,b\r\n") && file.Write("1,2\r\n"));
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(Contents(path), "a,b\r\n1,2\r\n");
}

TEST(SafeFile, ReadsOnlyRegularFilesWithinTheLimitAndNeverBlocks) {
  QTemporaryDir dir;
  QByteArray out;
  bool tooLarge = true;
  const QString small = dir.filePath("small");
  Put(small, "12345");
  EXPECT_TRUE(ReadRegularFile(small, out, 5, &tooLarge));
  EXPECT_EQ(out, "12345");
  EXPECT_FALSE(tooLarge);
  EXPECT_FALSE(ReadRegularFile(small, out, 4, &tooLarge));
  EXPECT_TRUE(tooLarge);

  EXPECT_FALSE(ReadRegularFile(dir.path(), out, 1024, &tooLarge));  // a directory
  EXPECT_FALSE(tooLarge);
  EXPECT_FALSE(ReadRegularFile("/dev/zero", out, 1024, &tooLarge));  // a device
  const QString fifo = dir.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_FALSE(ReadRegularFile(fifo, out, 1024, &tooLarge));  // returns at once
  const QString link = dir.filePath("zero-link");
  ASSERT_TRUE(QFile::link("/dev/zero", link));
  EXPECT_FALSE(ReadRegularFile(link, out, 1024, &tooLarge));
  EXPECT_TRUE(out.isEmpty());
  // A file that says it is empty but yields bytes is not trusted.
  EXPECT_FALSE(ReadRegularFile("/proc/self/status", out, 1 << 20, &tooLarge));
}

TEST(SafeFile, WritesOnlyRegularFilesAndNeverWaitsOnOrReplacesAnythingElse) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString toFifo = dir.filePath("to-fifo");
  ASSERT_TRUE(QFile::link(fifo, toFifo));
  QTemporaryDir devices;
  const QString device = ScratchDevice(devices.path());
  ASSERT_FALSE(device.isEmpty());
  const QString toDevice = dir.filePath("to-device");
  ASSERT_TRUE(QFile::link(device, toDevice));
  const QString folder = dir.filePath("folder");
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
  const QStringList before = DirectoryEntries(dir.path());

  for (const QString& path : {fifo, toFifo, toDevice, folder}) {
    SCOPED_TRACE(path.toStdString());
    QString error;
    EXPECT_FALSE(WriteFileWhole(path, "x", &error));
    EXPECT_FALSE(error.isEmpty());
    // The FIFO has no reader: an open that waited for one would never return.
    EXPECT_FALSE(AppendFileWhole(path, "x"));
    WholeFileWriter export_(path);
    EXPECT_FALSE(export_.Open());
    EXPECT_FALSE(export_.Commit());
  }
  struct stat info {};
  ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  ASSERT_EQ(::lstat(QFile::encodeName(device).constData(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_TRUE(QFileInfo(toFifo).isSymLink());
  EXPECT_TRUE(QFileInfo(toDevice).isSymLink());
  EXPECT_EQ(DirectoryEntries(dir.path()), before);  // no temporary file left either

  // A link to a regular file is written through and stays a link.
  const QString file = dir.filePath("file");
  Put(file, "old");
  const QString toFile = dir.filePath("to-file");
  ASSERT_TRUE(QFile::link(file, toFile));
  EXPECT_TRUE(WriteFileWhole(toFile, "new"));
  EXPECT_TRUE(AppendFileWhole(toFile, "+"));
  EXPECT_EQ(Contents(file), "new+");
  EXPECT_TRUE(QFileInfo(toFile).isSymLink());
}

TEST(SafeFile, ATargetSwappedForAFifoAfterStagingIsNotReplaced) {
  QTemporaryDir dir;
  const QString path = dir.filePath("a.bin");
  Put(path, "old");
  StagedFileWrite write(path);
  ASSERT_TRUE(write.Stage("new"));
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  EXPECT_FALSE(write.Commit());
  EXPECT_FALSE(write.Error().isEmpty());
  struct stat info {};
  ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(DirectoryEntries(dir.path()), QStringList{"a.bin"});
}
