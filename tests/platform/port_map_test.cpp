#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "PortMap.h"
#include "TempConfigHome.h"

namespace vantor {
namespace {

void Link(const QString& target, const QString& entry) {
  QDir().mkpath(PortMapDirectory());
  ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                      QFile::encodeName(PortMapDirectory() + "/" + entry).constData()),
            0);
}

TEST(PortMap, LivesUnderTheConfigurationHome) {
  TempConfigHome home;
  EXPECT_EQ(PortMapDirectory(), home.Path() + "/vantor/ports");
  qputenv("XDG_CONFIG_HOME", "");
  EXPECT_EQ(PortMapDirectory(), QDir::homePath() + "/.config/vantor/ports");
}

TEST(PortMap, PinnedEntriesAreTheWholeMap) {
  TempConfigHome home;
  Link("/dev/null", "COM3");
  Link("/dev/zero", "COM12");
  Link("/dev/nonexistent-adapter", "COM7");  // unplugged: keeps its number
  // Names that are not COM1..COM254 are not ports.
  Link("/dev/null", "COM0");
  Link("/dev/null", "COM255");
  Link("/dev/null", "COM03");
  Link("/dev/null", "COMX");
  Link("/dev/null", "tty3");

  ASSERT_TRUE(PortMapPinned());
  const std::vector<PortEntry> entries = PortMapEntries();
  ASSERT_EQ(entries.size(), 3U);
  EXPECT_EQ(entries[0].Number, 3);
  EXPECT_EQ(entries[1].Number, 7);
  EXPECT_EQ(entries[2].Number, 12);
  EXPECT_EQ(entries[1].Kind, PortKind::NotConnected);

  EXPECT_EQ(PortPath(3), "/dev/null");
  EXPECT_EQ(PortPath(12), "/dev/zero");
  EXPECT_EQ(PortPath(7), "/dev/nonexistent-adapter");
  // Numbers without an entry do not exist, even where the system has ports.
  EXPECT_TRUE(PortPath(1).isEmpty());
  EXPECT_TRUE(PortPath(4).isEmpty());
  EXPECT_TRUE(PortPath(0).isEmpty());
  EXPECT_TRUE(PortPath(255).isEmpty());
}

TEST(PortMap, RelativeLinksResolveAgainstTheDirectory) {
  TempConfigHome home;
  QDir().mkpath(PortMapDirectory() + "/dev");
  QFile device(PortMapDirectory() + "/dev/ttyFAKE0");
  ASSERT_TRUE(device.open(QIODevice::WriteOnly));
  Link("dev/ttyFAKE0", "COM2");
  EXPECT_EQ(PortPath(2), PortMapDirectory() + "/dev/ttyFAKE0");
}

TEST(PortMap, EntryTextNamesNumberPathAndKindInTheLanguage) {
  EXPECT_EQ(PortEntryText({3, "/dev/ttyUSB0", PortKind::UsbSerial, "FT232R USB UART"}, 1),
            QString::fromUtf8("COM3 \u2014 /dev/ttyUSB0, USB serial, FT232R USB UART"));
  EXPECT_EQ(PortEntryText({3, "/dev/ttyUSB0", PortKind::UsbSerial, ""}, 0),
            QString::fromUtf8("COM3 \u2014 /dev/ttyUSB0, USB-адаптер"));
}

TEST(PortMap, PinningReplacesAndUnpinningRestores) {
  TempConfigHome home;
  Link("/dev/ttyUSB0", "COM3");
  bool ok = false;
  EXPECT_EQ(PinPort(3, "/dev/pts/77", &ok), "/dev/ttyUSB0");
  EXPECT_TRUE(ok);
  EXPECT_EQ(PortPath(3), "/dev/pts/77");
  EXPECT_EQ(PortMapEntries()[0].Kind, PortKind::NotConnected);

  // Someone else re-pinned the number meanwhile: leave their entry alone.
  PinPort(3, "/dev/pts/78");
  UnpinPort(3, "/dev/pts/77", "/dev/ttyUSB0");
  EXPECT_EQ(PortPath(3), "/dev/pts/78");

  UnpinPort(3, "/dev/pts/78", "/dev/ttyUSB0");
  EXPECT_EQ(PortPath(3), "/dev/ttyUSB0");
  UnpinPort(3);
  EXPECT_FALSE(PortMapPinned());
}

// Without a pinned map the numbers are the system's own ports, in a stable
// order. The machine's ports are only listed here, never opened.
TEST(PortMap, WithoutEntriesTheSystemPortsAreNumberedInOrder) {
  TempConfigHome home;
  QDir().mkpath(PortMapDirectory());
  ASSERT_FALSE(PortMapPinned());
  const std::vector<PortEntry> entries = PortMapEntries();
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].Number, static_cast<int>(i) + 1);
    EXPECT_EQ(PortPath(entries[i].Number), entries[i].DevicePath);
    if (i > 0) {
      EXPECT_FALSE(SystemPortBefore(QFileInfo(entries[i].DevicePath).fileName(),
                                    QFileInfo(entries[i - 1].DevicePath).fileName()));
    }
  }
  EXPECT_TRUE(PortPath(static_cast<int>(entries.size()) + 1).isEmpty());

  // One entry switches the map over entirely.
  Link("/dev/null", "COM9");
  ASSERT_EQ(PortMapEntries().size(), 1U);
  EXPECT_TRUE(PortPath(1).isEmpty());
}

TEST(PortMap, SystemOrderPutsAdaptersFirstAndNumbersNaturally) {
  std::vector<QString> names = {"ttyS10",  "ttyUSB10", "ttyS2",   "ttyACM0",
                                "ttyUSB2", "ttyS0",    "rfcomm0", "ttyUSB0"};
  std::sort(names.begin(), names.end(), SystemPortBefore);
  const std::vector<QString> expected = {"ttyACM0", "ttyUSB0", "ttyUSB2", "ttyUSB10",
                                         "rfcomm0", "ttyS0",   "ttyS2",   "ttyS10"};
  EXPECT_EQ(names, expected);
}

TEST(PortMap, ComNamesParseStrictly) {
  EXPECT_EQ(PortNumberFromName("COM1"), 1);
  EXPECT_EQ(PortNumberFromName("COM254"), 254);
  EXPECT_EQ(PortNumberFromName("COM255"), 0);
  EXPECT_EQ(PortNumberFromName("COM0"), 0);
  EXPECT_EQ(PortNumberFromName("COM007"), 0);
  EXPECT_EQ(PortNumberFromName("COM3.pin12"), 0);
  EXPECT_EQ(PortNumberFromName("com3"), 0);
}

}  // namespace
}  // namespace vantor
