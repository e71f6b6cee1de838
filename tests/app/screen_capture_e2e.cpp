#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <bit>
#include <memory>

#include "AppTestSupport.h"
#include "CalendarClock.h"
#include "ErrorBox.h"
#include "FileFaults.h"
#include "FilePlaces.h"
#include "PageFixture.h"
#include "ScreenCapture.h"
#include "TForm1.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

using test::ErrorBoxCatcher;
using test::ReadBytes;
using test::WorkDir;

constexpr int Port = 4;

// Whether the instrument's image has pixel (x, y) set, x from the left and y
// from the top. Written out here on its own so that a slip in the program's
// mapping cannot hide behind the same slip in the test.
bool InstrumentPixel(const ScreenBuffer& image, int x, int y) {
  const int fromBottom = 63 - y;
  const uint8_t byte = image[static_cast<size_t>(8 * (127 - x) + fromBottom / 8)];
  return (byte >> (fromBottom % 8)) & 1;
}

// The main window, with its PrintScreen button, against a virtual instrument
// on a real pseudo-terminal; files land in a temporary working directory.
class ScreenCaptureE2e : public test::PageFixture {
 protected:
  static void SetUpTestSuite() { test::EnsureVantorApplication(); }

  void SetUp() override {
    ASSERT_TRUE(sim_.PinAs(Port));
    sim_.AdvanceSeconds(30);  // some dose and time on the display
    form_ = std::make_unique<TForm1>(&clock_);
    Look(form_.get());
    ASSERT_TRUE(Open(form_->GetSession(), Port));
  }

  void PressPrintScreen() { Press("Button13"); }

  TempConfigHome home_;
  WorkDir dir_;
  FixedClock clock_{1700000000};
  sim::VirtualInstrument sim_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(ScreenCaptureE2e, PrintScreenSavesThePictureTheInstrumentShows) {
  PressPrintScreen();
  EXPECT_EQ(form_->PanelText(0), "Чтение");
  EXPECT_EQ(sim_.RequestsSeen(IdScreen), 1u);

  const ScreenBuffer shown = sim_.Values().Screen;
  int lit = 0;
  for (uint8_t byte : shown) {
    lit += std::popcount(byte);
  }
  ASSERT_GT(lit, 100) << "the instrument should show its reading";

  QImage image(dir_.File("screen.bmp"));
  ASSERT_FALSE(image.isNull());
  ASSERT_EQ(image.size(), QSize(128, 64));
  int wrong = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 128; ++x) {
      const int expected = InstrumentPixel(shown, x, y) ? 0xFF : 0x00;
      if (image.pixelIndex(x, y) != expected) {
        ++wrong;
      }
    }
  }
  EXPECT_EQ(wrong, 0);

  // The dump is the instrument's bytes with each line feed preceded by a
  // carriage return, then a space and a line end.
  QByteArray dump = ReadBytes(dir_.File("screen.txt"));
  const auto lineFeeds = std::count(shown.begin(), shown.end(), uint8_t{0x0A});
  EXPECT_EQ(dump.size(), 1027 + lineFeeds);
  dump.replace("\r\n", "\n");
  QByteArray expected(reinterpret_cast<const char*>(shown.data()), ScreenBytes);
  expected.append(" \n");
  EXPECT_EQ(dump, expected);
}

TEST_F(ScreenCaptureE2e, SilentInstrumentLeavesTheFilesAsTheyWere) {
  sim_.InjectFault(sim::Fault::Silence, IdScreen);
  PressPrintScreen();
  EXPECT_EQ(form_->PanelText(0), "Ошибка связи");
  EXPECT_FALSE(QFileInfo::exists(dir_.File("screen.bmp")));
  EXPECT_FALSE(QFileInfo::exists(dir_.File("screen.txt")));

  sim_.ClearFaults();
  PressPrintScreen();
  const QByteArray picture = ReadBytes(dir_.File("screen.bmp"));
  const QByteArray dump = ReadBytes(dir_.File("screen.txt"));
  ASSERT_EQ(picture.size(), ScreenBitmapSize);

  sim_.AdvanceSeconds(60);  // the display changes, but the next read gets no answer
  sim_.InjectFault(sim::Fault::Silence, IdScreen);
  PressPrintScreen();
  EXPECT_EQ(form_->PanelText(0), "Ошибка связи");
  EXPECT_EQ(ReadBytes(dir_.File("screen.bmp")), picture);
  EXPECT_EQ(ReadBytes(dir_.File("screen.txt")), dump);
  EXPECT_EQ(form_->GetSession().Link.Values().Screen, ScreenBuffer{});
}

// A directory that takes no new file (the files in it still writable) gets
// the new picture in place; where the picture cannot be written at all,
// neither file changes and the box names the picture.
TEST_F(ScreenCaptureE2e, AClosedDirectoryGetsThePictureInPlaceOrNeitherFileAndIsNamed) {
  ErrorBoxCatcher errors;
  PressPrintScreen();
  const QByteArray first = ReadBytes(dir_.File("screen.bmp"));
  ASSERT_EQ(first.size(), ScreenBitmapSize);
  test::WriteProtected closed(dir_.Path());
  if (!closed.Protected()) {
    GTEST_SKIP() << closed.Why().toStdString();
  }

  sim_.AdvanceSeconds(90);
  PressPrintScreen();
  EXPECT_TRUE(errors.Messages.isEmpty());
  const ScreenBuffer shown = sim_.Values().Screen;
  const QByteArray picture = ReadBytes(dir_.File("screen.bmp"));
  EXPECT_NE(picture, first);
  EXPECT_EQ(picture, ScreenBitmapBytes(shown));
  const QByteArray dump = ReadBytes(dir_.File("screen.txt"));
  EXPECT_TRUE(dump.endsWith(ScreenTextBytes(shown.data(), shown.size())));

  {
    test::WriteProtected locked(dir_.File("screen.bmp"));
    if (!locked.Protected()) {
      GTEST_SKIP() << locked.Why().toStdString();
    }
    sim_.AdvanceSeconds(90);
    PressPrintScreen();
  }
  EXPECT_EQ(form_->PanelText(0), "Чтение");
  EXPECT_EQ(errors.Messages,
            QStringList{"Unable to write to " + QDir::toNativeSeparators(dir_.File("screen.bmp"))});
  EXPECT_EQ(ReadBytes(dir_.File("screen.bmp")), picture);
  EXPECT_EQ(ReadBytes(dir_.File("screen.txt")), dump);
}

// A dump that cannot be appended takes the new picture back; a full disk
// that refuses the picture leaves the dump alone. Either way the box names
// the file that failed.
TEST_F(ScreenCaptureE2e, AFailedWriteLeavesBothFilesAsTheyWereAndNamesTheFile) {
  ErrorBoxCatcher errors;
  PressPrintScreen();
  const QByteArray picture = ReadBytes(dir_.File("screen.bmp"));
  ASSERT_TRUE(QFile::remove(dir_.File("screen.txt")));
  ASSERT_TRUE(QFile::link("/dev/full", dir_.File("screen.txt")));  // every write refused
  sim_.AdvanceSeconds(90);
  PressPrintScreen();
  EXPECT_EQ(errors.Messages,
            QStringList{"Unable to write to " + QDir::toNativeSeparators(dir_.File("screen.txt"))});
  EXPECT_EQ(ReadBytes(dir_.File("screen.bmp")), picture);

  test::SmallFilesystem disk(64);
  if (!disk.Mounted()) {
    GTEST_SKIP() << disk.Why().toStdString();
  }
  ASSERT_TRUE(QDir::setCurrent(disk.Path()));
  errors.Messages.clear();
  PressPrintScreen();
  ASSERT_TRUE(errors.Messages.isEmpty()) << errors.Messages.join('\n').toStdString();
  const QByteArray onDisk = ReadBytes(disk.File("screen.bmp"));
  const QByteArray dump = ReadBytes(disk.File("screen.txt"));
  ASSERT_TRUE(disk.Fill());
  sim_.AdvanceSeconds(90);
  PressPrintScreen();
  EXPECT_EQ(errors.Messages,
            QStringList{"Unable to write to " + QDir::toNativeSeparators(disk.File("screen.bmp"))});
  EXPECT_EQ(ReadBytes(disk.File("screen.bmp")), onDisk);
  EXPECT_EQ(ReadBytes(disk.File("screen.txt")), dump);
  QDir::setCurrent(dir_.Path());
}

// Run installed from the menu, the files go to the pictures folder, which
// panel 0 names; the working directory gets nothing.
TEST_F(ScreenCaptureE2e, OutsideTheWorkingDirectoryTheCaptureGoesToTheFolderPanelZeroNames) {
  QTemporaryDir pictures;
  FilePlaces places;
  places.SettingsFile = home_.Path() + "/vantor/prog.ini";
  places.ScreenFolder = pictures.filePath("Vantor");
  places.Moved = true;
  form_->SetFilePlaces(places);
  PressPrintScreen();
  EXPECT_EQ(form_->PanelText(0), "Снимок экрана сохранён в " + places.ScreenFolder);
  EXPECT_EQ(ReadBytes(places.ScreenFolder + "/screen.bmp"),
            ScreenBitmapBytes(sim_.Values().Screen));
  EXPECT_TRUE(QFileInfo::exists(places.ScreenFolder + "/screen.txt"));
  EXPECT_TRUE(QDir(dir_.Path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

}  // namespace
}  // namespace vantor
