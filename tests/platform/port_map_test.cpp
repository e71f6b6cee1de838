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

PortEntry Entry(int number, const QString& path, PortKind kind, const QString& detail) {
  PortEntry entry;
  entry.Number = number;
  entry.DevicePath = path;
  entry.Kind = kind;
  entry.Detail = detail;
  return entry;
}

TEST(PortMap, EntryTextNamesNumberPathKindAndAdapterInTheLanguage) {
  EXPECT_EQ(PortEntryText(Entry(3, "/dev/ttyUSB0", PortKind::UsbSerial, "FT232R USB UART"), 1),
            QString::fromUtf8("COM3 \u2014 /dev/ttyUSB0, USB serial, FT232R USB UART"));
  EXPECT_EQ(PortEntryText(Entry(3, "/dev/ttyUSB0", PortKind::UsbSerial, ""), 0),
            QString::fromUtf8("COM3 \u2014 /dev/ttyUSB0, USB-адаптер"));

  // Pinned by its by-id name: the device it leads to, maker, product, serial.
  const QString byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K4ZQ1-if00-port0";
  PortEntry pinned = Entry(3, byId, PortKind::UsbSerial, "FT232R USB UART");
  pinned.Device = "/dev/ttyUSB0";
  pinned.Maker = "FTDI";
  pinned.SerialNumber = "A10K4ZQ1";
  pinned.ById = byId;
  EXPECT_EQ(PortEntryText(pinned, 1),
            QString::fromUtf8("COM3 \u2014 ") + byId +
                " (/dev/ttyUSB0), USB serial, FTDI FT232R USB UART, serial A10K4ZQ1");
  EXPECT_EQ(PortDescription(pinned, 0),
            QString::fromUtf8("USB-адаптер, FTDI FT232R USB UART, зав. № A10K4ZQ1"));

  // A system port with a by-id name shows it last; a maker the product
  // already names is not said twice.
  PortEntry system =
      Entry(1, "/dev/ttyUSB1", PortKind::UsbSerial, "Prolific USB-Serial Controller");
  system.Maker = "Prolific";
  system.ById = "/dev/serial/by-id/usb-Prolific-if00-port0";
  EXPECT_EQ(PortEntryText(system, 1),
            QString::fromUtf8("COM1 \u2014 /dev/ttyUSB1, USB serial, Prolific USB-Serial "
                              "Controller, /dev/serial/by-id/usb-Prolific-if00-port0"));
}

// The adapter is found through a pin to its by-id name or to the device
// itself, and a by-id name is found for the device; a pin to nothing there
// learns nothing.
TEST(PortMap, IdentifyingFindsTheAdapterAndItsByIdNameWhicheverWayItIsPinned) {
  TempConfigHome home;
  const QString dev = home.Path() + "/dev";
  const QString byIdDir = home.Path() + "/by-id";
  QDir().mkpath(dev);
  QDir().mkpath(byIdDir);
  QFile device(dev + "/ttyUSB7");
  ASSERT_TRUE(device.open(QIODevice::WriteOnly));
  const QString byId = byIdDir + "/usb-FTDI_FT232R_USB_UART_A10K4ZQ1-if00-port0";
  ASSERT_EQ(::symlink("../dev/ttyUSB7", QFile::encodeName(byId).constData()), 0);
  Link(byId, "COM3");
  Link(dev + "/ttyUSB7", "COM4");
  Link(dev + "/ttyUSB8", "COM5");

  std::vector<PortEntry> entries = PortMapEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Kind, PortKind::UsbSerial);  // what the by-id name leads to
  IdentifyPorts(entries, {{dev + "/ttyUSB7", "FTDI", "FT232R USB UART", "A10K4ZQ1", "0403:6001"}},
                byIdDir);

  for (const PortEntry& entry : {entries[0], entries[1]}) {
    SCOPED_TRACE(entry.Number);
    EXPECT_EQ(entry.Maker, "FTDI");
    EXPECT_EQ(entry.Detail, "FT232R USB UART");
    EXPECT_EQ(entry.SerialNumber, "A10K4ZQ1");
    EXPECT_EQ(entry.UsbId, "0403:6001");
    EXPECT_EQ(entry.ById, byId);
    EXPECT_FALSE(entry.NoPermission);
  }
  EXPECT_EQ(entries[0].Device, dev + "/ttyUSB7");
  EXPECT_TRUE(entries[1].Device.isEmpty());  // the path is the device
  EXPECT_EQ(entries[2].Kind, PortKind::NotConnected);
  EXPECT_TRUE(entries[2].Maker.isEmpty());
  EXPECT_TRUE(entries[2].ById.isEmpty());
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
