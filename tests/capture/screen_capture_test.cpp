#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "DeviceLink.h"
#include "FileFaults.h"
#include "LinkOutcome.h"
#include "ScreenCapture.h"

namespace vantor {
namespace {

QByteArray ReadAll(const QString& name) {
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  return file.readAll();
}

uint8_t At(const QByteArray& bytes, int offset) {
  return static_cast<uint8_t>(bytes.at(offset));
}

uint32_t Le32(const QByteArray& bytes, int offset) {
  return At(bytes, offset) | At(bytes, offset + 1) << 8 | At(bytes, offset + 2) << 16 |
         static_cast<uint32_t>(At(bytes, offset + 3)) << 24;
}

// Offsets of the pixel bytes that differ from 0x00.
std::vector<int> SetPixelOffsets(const QByteArray& bitmap) {
  std::vector<int> offsets;
  for (int i = ScreenBitmapPixelOffset; i < bitmap.size(); ++i) {
    if (At(bitmap, i) != 0x00) {
      offsets.push_back(i);
    }
  }
  return offsets;
}

// Every test writes its files in a fresh working directory of its own.
class ScreenFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    previous_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  }
  void TearDown() override { QDir::setCurrent(previous_); }

  QTemporaryDir dir_;
  QString previous_;
};

TEST(ScreenBitmap, HeadersAndPaletteAreTheFixedOnes) {
  const QByteArray bmp = ScreenBitmapBytes(ScreenBuffer{});
  ASSERT_EQ(bmp.size(), 8310);
  EXPECT_EQ(bmp.left(2), QByteArray("BM"));
  EXPECT_EQ(Le32(bmp, 2), 8310u);
  EXPECT_EQ(Le32(bmp, 6), 0u);
  EXPECT_EQ(Le32(bmp, 10), 118u);
  EXPECT_EQ(Le32(bmp, 14), 40u);
  EXPECT_EQ(Le32(bmp, 18), 128u);
  EXPECT_EQ(Le32(bmp, 22), 64u);
  EXPECT_EQ(At(bmp, 26) | At(bmp, 27) << 8, 1);
  EXPECT_EQ(At(bmp, 28) | At(bmp, 29) << 8, 8);
  for (int offset : {30, 34, 38, 42, 50}) {
    EXPECT_EQ(Le32(bmp, offset), 0u) << "offset " << offset;
  }
  EXPECT_EQ(Le32(bmp, 46), 16u);
  const uint8_t greys[16] = {254, 243, 236, 227, 216, 199, 184, 168,
                             151, 133, 117, 109, 87,  71,  55,  43};
  for (int i = 0; i < 16; ++i) {
    const int entry = 54 + 4 * i;
    EXPECT_EQ(At(bmp, entry), greys[i]);
    EXPECT_EQ(At(bmp, entry + 1), greys[i]);
    EXPECT_EQ(At(bmp, entry + 2), greys[i]);
    EXPECT_EQ(At(bmp, entry + 3), 0xFF);
  }
  EXPECT_TRUE(SetPixelOffsets(bmp).empty());
}

struct LonePixel {
  const char* name;
  int bufferIndex;
  uint8_t value;
  int fileOffset;  // the one pixel byte that must become 0xFF
  int x, y;        // the same pixel, y from the top
};

void PrintTo(const LonePixel& c, std::ostream* os) {
  *os << c.name << ": byte " << c.bufferIndex << " = " << int{c.value};
}

class ScreenBitmapLonePixel : public ::testing::TestWithParam<LonePixel> {};

TEST_P(ScreenBitmapLonePixel, OneBufferBitSetsExactlyItsPixel) {
  const LonePixel c = GetParam();
  ScreenBuffer buffer{};
  buffer[static_cast<size_t>(c.bufferIndex)] = c.value;
  const QByteArray bmp = ScreenBitmapBytes(buffer);
  EXPECT_EQ(SetPixelOffsets(bmp), std::vector<int>{c.fileOffset});
  EXPECT_EQ(At(bmp, c.fileOffset), 0xFF);

  // An ordinary image reader finds the pixel at the same place.
  QImage image;
  ASSERT_TRUE(image.loadFromData(bmp, "BMP"));
  ASSERT_EQ(image.size(), QSize(128, 64));
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 128; ++x) {
      const bool set = x == c.x && y == c.y;
      ASSERT_EQ(ScreenPixel(buffer, x, y), set) << x << "," << y;
      ASSERT_EQ(image.pixelIndex(x, y), set ? 0xFF : 0x00) << x << "," << y;
    }
  }

  // So does the PNG for people, each pixel a square of the scale's size:
  // dark grey on the lightest.
  QImage png;
  ASSERT_TRUE(png.loadFromData(ScreenPngBytes(buffer, 3), "PNG"));
  ASSERT_EQ(png.size(), QSize(384, 192));
  for (int y = 0; y < 192; ++y) {
    for (int x = 0; x < 384; ++x) {
      const bool set = x / 3 == c.x && y / 3 == c.y;
      ASSERT_EQ(qGray(png.pixel(x, y)), set ? 43 : 254) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Corners, ScreenBitmapLonePixel,
    ::testing::Values(LonePixel{"BottomRight", 0, 0x01, 245, 127, 63},
                      LonePixel{"TopLeft", 1023, 0x80, 8182, 0, 0},
                      LonePixel{"SecondColumnSecondRow", 8, 0x02, 372, 126, 62},
                      LonePixel{"TopRight", 7, 0x80, 118 + 63 * 128 + 127, 127, 0},
                      LonePixel{"BottomLeft", 1016, 0x01, 118, 0, 63}),
    [](const ::testing::TestParamInfo<LonePixel>& info) { return std::string(info.param.name); });

TEST(ScreenText, DumpIsRawBytesThenSpaceAndCrLf) {
  // Only 0x0A grows; 0x0D and high bytes pass through as they are.
  ScreenBuffer buffer{};
  buffer[0] = 0x0A;
  buffer[1] = 0x0D;
  buffer[2] = 0xFF;
  buffer[500] = 0x0A;
  buffer[1023] = 0x0A;
  const QByteArray dump = ScreenTextBytes(buffer.data(), buffer.size());
  ASSERT_EQ(dump.size(), 1030);
  EXPECT_EQ(dump.left(5), QByteArray("\x0D\x0A\x0D\xFF\x00", 5));
  EXPECT_EQ(dump.right(5), QByteArray("\x0D\x0A\x20\x0D\x0A", 5));
}

TEST_F(ScreenFiles, ZeroImageWritesBlankPictureAndAppendsZeroDump) {
  EXPECT_EQ(SaveScreenFiles(ScreenBuffer{}), "");
  const QByteArray bmp = ReadAll("screen.bmp");
  ASSERT_EQ(bmp.size(), 8310);
  EXPECT_EQ(bmp.mid(118), QByteArray(8192, '\0'));
  QByteArray dump(1024, '\0');
  dump.append("\x20\x0D\x0A", 3);
  EXPECT_EQ(ReadAll("screen.txt"), dump);
}

TEST_F(ScreenFiles, TwoCapturesKeepBothDumpsAndOnlyTheSecondPicture) {
  ScreenBuffer first{};
  first.fill(0x0A);  // every byte doubles in the dump
  ScreenBuffer second{};
  second[0] = 0x01;
  second[1] = 0x0A;
  second[2] = 0x0A;
  second[3] = 0x0A;

  SaveScreenFiles(first);
  SaveScreenFiles(second);

  const QByteArray text = ReadAll("screen.txt");
  ASSERT_EQ(text.size(), 2051 + 1030);
  EXPECT_EQ(text.left(2051), ScreenTextBytes(first.data(), first.size()));
  EXPECT_EQ(text.mid(2051), ScreenTextBytes(second.data(), second.size()));
  EXPECT_EQ(ReadAll("screen.bmp"), ScreenBitmapBytes(second));
  // Nothing but the two files is left behind: the temporary picture is gone.
  EXPECT_EQ(QDir(".").entryList(QDir::Files | QDir::Hidden),
            (QStringList{"screen.bmp", "screen.txt"}));
}

// The two files always tell of the same captures: a file that cannot be
// written keeps the other one from changing too.
TEST_F(ScreenFiles, ADumpThatCannotBeWrittenKeepsTheOldPicture) {
  ScreenBuffer first{};
  first[0] = 0x01;
  ASSERT_EQ(SaveScreenFiles(first), "");

  ScreenBuffer second{};
  second[8] = 0x02;
  ASSERT_TRUE(QFile::remove("screen.txt"));
  ASSERT_TRUE(QFile::link("/dev/full", "screen.txt"));  // every write refused
  EXPECT_FALSE(AppendScreenText(second.data(), second.size()));
  EXPECT_EQ(SaveScreenFiles(second), "screen.txt");
  EXPECT_EQ(ReadAll("screen.bmp"), ScreenBitmapBytes(first));

  ASSERT_TRUE(QFile::remove("screen.txt"));
  ASSERT_TRUE(QDir(".").mkdir("screen.txt"));  // cannot even be opened
  EXPECT_EQ(SaveScreenFiles(second), "screen.txt");
  EXPECT_EQ(ReadAll("screen.bmp"), ScreenBitmapBytes(first));
  EXPECT_EQ(QDir(".").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{"screen.bmp", "screen.txt"}));
}

// Files that are no files: a FIFO is neither waited on nor replaced, and a
// link to a device leaves the device as it is.
TEST_F(ScreenFiles, ScreenFilesThatAreNotRegularFilesAreRefusedAtOnce) {
  ScreenBuffer first{};
  first[0] = 0x01;
  ASSERT_EQ(SaveScreenFiles(first), "");
  ASSERT_TRUE(QFile::remove("screen.txt"));
  ASSERT_EQ(::mkfifo("screen.txt", 0600), 0);
  EXPECT_EQ(SaveScreenFiles(ScreenBuffer{}), "screen.txt");
  EXPECT_EQ(ReadAll("screen.bmp"), ScreenBitmapBytes(first));

  ASSERT_TRUE(QFile::remove("screen.txt"));
  ASSERT_TRUE(QFile::remove("screen.bmp"));
  QTemporaryDir devices;
  const QString device = test::ScratchDevice(devices.path());
  ASSERT_FALSE(device.isEmpty());
  ASSERT_TRUE(QFile::link(device, "screen.bmp"));
  EXPECT_EQ(SaveScreenFiles(ScreenBuffer{}), "screen.bmp");
  struct stat info {};
  ASSERT_EQ(::lstat(QFile::encodeName(device).constData(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_TRUE(QFileInfo("screen.bmp").isSymLink());
  EXPECT_FALSE(QFileInfo::exists("screen.txt"));
}

TEST_F(ScreenFiles, APictureThatCannotBeWrittenLeavesTheDumpAloneToo) {
  ASSERT_TRUE(QDir(".").mkdir("screen.bmp"));
  EXPECT_FALSE(WriteScreenBitmap("screen.bmp", ScreenBuffer{}));
  EXPECT_EQ(SaveScreenFiles(ScreenBuffer{}), "screen.bmp");
  EXPECT_FALSE(QFileInfo::exists("screen.txt"));
  EXPECT_TRUE(QFileInfo("screen.bmp").isDir());
}

TEST_F(ScreenFiles, AVanishedWorkingDirectoryGetsNoFiles) {
  // A working directory that has been removed refuses every new file, even to
  // root, which permission bits do not stop.
  ASSERT_TRUE(QDir(".").mkdir("gone"));
  ASSERT_TRUE(QDir::setCurrent("gone"));
  ASSERT_TRUE(QDir(dir_.path()).rmdir("gone"));

  EXPECT_FALSE(WriteScreenBitmap("screen.bmp", ScreenBuffer{}));
  EXPECT_EQ(SaveScreenFiles(ScreenBuffer{}), "screen.bmp");
  EXPECT_TRUE(QDir(dir_.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                  .isEmpty());
}

// With no port open the read fails: nothing is written and the storage holds
// zeros, not the previous picture.
TEST_F(ScreenFiles, FailedReadWritesNothingAndClearsTheImage) {
  DeviceLink link;
  int outcome = -1;
  link.SetOutcomeHandler([&outcome](LinkStatus status) { outcome = OutcomeRow(status); });
  link.InitDictionary();
  link.Values().Screen.fill(0x5A);

  const ScreenCaptureResult capture = CaptureScreen(link);

  EXPECT_FALSE(capture.Read);
  EXPECT_EQ(outcome, 39);
  EXPECT_EQ(link.Values().Screen, ScreenBuffer{});
  EXPECT_TRUE(QDir(".").entryList(QDir::Files | QDir::Hidden).isEmpty());
}

}  // namespace
}  // namespace vantor
