#pragma once
#include <QString>
#include <cstdint>
#include <vector>

namespace vantor {

// COM port numbers 1..254 name the serial devices of the machine.
//
// On Linux a number resolves in one of two ways:
//  1. When the port map directory holds at least one entry named COM1..COM254
//     (normally a symbolic link, e.g. COM3 -> /dev/ttyUSB0), those entries are
//     the whole map: a number without an entry does not exist.
//  2. Otherwise the numbers name the system's serial ports in a stable order:
//     USB and ACM adapters first, then the rest, each group sorted by name;
//     COM1 is the first.
// On Windows "COM%d" is the device name as is.
inline constexpr int FirstPortNumber = 1;
inline constexpr int LastPortNumber = 254;

// What a device path is, as far as its name tells.
enum class PortKind {
  PseudoTerminal,  // /dev/pts/N: a program on the other end, answering or not
  UsbSerial,       // ttyUSB
  UsbModem,        // ttyACM
  Bluetooth,       // rfcomm
  Serial,          // ttyS: a built-in port
  SerialDevice,    // anything else
  NotConnected,    // a pinned entry whose device is not there
};

struct PortEntry {
  int Number = 0;
  QString DevicePath;  // what the port opens
  PortKind Kind = PortKind::SerialDevice;
  QString Detail;  // the system's own description of the device, if any
  // What IdentifyPorts adds: the device node the path leads to when it is
  // another (a by-id name leads to /dev/ttyUSB0), the adapter as the user
  // knows it, its stable name under /dev/serial/by-id/, and whether the user
  // lacks the permission to open it.
  QString Device;
  QString Maker;
  QString SerialNumber;
  QString UsbId;  // vendor:product, "0403:6001"
  QString ById;
  bool NoPermission = false;
};

// What the system tells of one serial device (QSerialPortInfo).
struct AdapterIdentity {
  QString Location;  // /dev/ttyUSB0
  QString Maker;
  QString Product;
  QString SerialNumber;
  QString UsbId;
};

// Where the system names serial devices by their adapter's identity.
inline constexpr const char* SerialByIdDirectory = "/dev/serial/by-id";

// $XDG_CONFIG_HOME/vantor/ports, or ~/.config/vantor/ports when the variable
// is unset or empty.
QString PortMapDirectory();

// True when the directory holds at least one COMn entry, so the map is pinned.
bool PortMapPinned();

// Every port the map knows, by ascending number.
std::vector<PortEntry> PortMapEntries();

// Adds to each entry what the system knows of its device (Device, Maker,
// Detail as the product, SerialNumber, UsbId, ById, NoPermission). Asks the
// system, so it is for lists people read, not for every open.
void IdentifyPorts(std::vector<PortEntry>& entries);
// The same from given identities and a given by-id directory.
void IdentifyPorts(std::vector<PortEntry>& entries, const std::vector<AdapterIdentity>& adapters,
                   const QString& byIdDirectory);
// The by-id name of `path`'s device in `byIdDirectory`, empty when none.
QString ByIdName(const QString& path, const QString& byIdDirectory = SerialByIdDirectory);

// Device path of COM`number`; empty when the map has no such port.
QString PortPath(int number);

// What the device is, in `languageIndex` (0 Russian, 1 English), followed by
// the adapter as far as it is known: "USB serial, FTDI FT232R USB UART,
// serial A10K4ZQ1".
QString PortDescription(const PortEntry& entry, uint8_t languageIndex);

// "COM3 — /dev/ttyUSB0, USB serial", as the connection dialog lists a port;
// a by-id name and the device it leads to when they differ from the path.
QString PortEntryText(const PortEntry& entry, uint8_t languageIndex);

// Makes COM`number` point at `devicePath` in the port map directory (created
// when missing), replacing any entry of that number atomically. Returns the
// target the entry had before (empty when none), so the caller can restore it.
// Returns false in `ok` when the entry could not be written.
QString PinPort(int number, const QString& devicePath, bool* ok = nullptr);

// Removes COM`number`, or points it back at `previousTarget` when that is not
// empty. Only acts when the entry still points at `expectedTarget` (another
// process may have re-pinned the number meanwhile); an empty expectation acts
// unconditionally.
void UnpinPort(int number, const QString& expectedTarget = {}, const QString& previousTarget = {});

// Order of the system's ports when no map is pinned: USB and ACM adapters
// before the rest, and by name within each group, digits compared as numbers
// (ttyUSB2 before ttyUSB10).
bool SystemPortBefore(const QString& a, const QString& b);

// Parses "COM<n>" with n in 1..254 and no leading zeros; 0 otherwise.
int PortNumberFromName(const QString& name);

}  // namespace vantor
