#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "SafeFile.h"

using namespace vantor;

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

TEST(SafeFile, ReplacesWholeOrRewritesInPlaceWhenTheDirectoryIsClosed) {
  QTemporaryDir dir;
  const QString path = dir.filePath("a.bin");
  ASSERT_TRUE(WriteFileWhole(path, "first"));
  ASSERT_TRUE(WriteFileWhole(path, "second, longer"));
  EXPECT_EQ(Contents(path), "second, longer");

  // No new file can be made beside it, but the file itself is writable.
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0500), 0);
  if (::access(QFile::encodeName(dir.path()).constData(), W_OK) == 0) {
    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    GTEST_SKIP() << "running as root: a closed directory cannot be made";
  }
  EXPECT_TRUE(WriteFileWhole(path, "third"));
  EXPECT_EQ(Contents(path), "third");
  QString error;
  EXPECT_FALSE(WriteFileWhole(path, "x", &error, /*allowInPlace=*/false));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(Contents(path), "third");
  ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
}

TEST(SafeFile, AWriteToAMissingDirectoryFailsAndSaysWhy) {
  QTemporaryDir dir;
  QString error;
  EXPECT_FALSE(WriteFileWhole(dir.filePath("gone/a.bin"), "x", &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(AppendFileWhole(dir.filePath("gone/a.txt"), "x", &error));
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
}
