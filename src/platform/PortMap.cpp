#include "PortMap.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>
#include <algorithm>
#include <mutex>

#include "FilePlaces.h"
#include "MessageTable.h"
#include "PlatformLog.h"

#ifndef Q_OS_WIN
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#endif

namespace vantor {
namespace {

// Orders "ttyUSB2" before "ttyUSB10": runs of digits compare as numbers.
bool NaturalLess(const QString& a, const QString& b) {
  int i = 0;
  int j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      int i2 = i;
      int j2 = j;
      while (i2 < a.size() && a[i2].isDigit()) {
        ++i2;
      }
      while (j2 < b.size() && b[j2].isDigit()) {
        ++j2;
      }
      const qulonglong x = a.mid(i, i2 - i).toULongLong();
      const qulonglong y = b.mid(j, j2 - j).toULongLong();
      if (x != y) {
        return x < y;
      }
      i = i2;
      j = j2;
    } else {
      if (a[i] != b[j]) {
        return a[i] < b[j];
      }
      ++i;
      ++j;
    }
  }
  return (a.size() - i) < (b.size() - j);
}

PortKind KindOfDevicePath(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  if (path.startsWith(QLatin1String("/dev/pts/"))) {
    return PortKind::PseudoTerminal;
  }
  if (name.startsWith(QLatin1String("ttyUSB"))) {
    return PortKind::UsbSerial;
  }
  if (name.startsWith(QLatin1String("ttyACM"))) {
    return PortKind::UsbModem;
  }
  if (name.startsWith(QLatin1String("rfcomm"))) {
    return PortKind::Bluetooth;
  }
  if (name.startsWith(QLatin1String("ttyS"))) {
    return PortKind::Serial;
  }
  return PortKind::SerialDevice;
}

bool IsAdapter(const QString& name) {
  return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

std::vector<PortEntry> EnumerateSystemPorts() {
  QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
  std::stable_sort(ports.begin(), ports.end(),
                   [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
                     return SystemPortBefore(a.portName(), b.portName());
                   });
  std::vector<PortEntry> entries;
  for (const QSerialPortInfo& info : ports) {
    if (static_cast<int>(entries.size()) == LastPortNumber) {
      break;
    }
    PortEntry entry;
    entry.Number = static_cast<int>(entries.size()) + 1;
    entry.DevicePath = info.systemLocation();
    entry.Kind = KindOfDevicePath(entry.DevicePath);
    entry.Detail = info.description().trimmed();
    entries.push_back(entry);
  }
  return entries;
}

// A port scan asks for up to 254 numbers in a row; enumerating the system's
// ports once for all of them keeps the scan quick. Two seconds is short enough
// that an adapter plugged in between two scans is seen.
std::vector<PortEntry> SystemPortsCached() {
  static std::mutex mutex;
  static std::vector<PortEntry> cache;
  static QElapsedTimer age;
  std::lock_guard<std::mutex> lock(mutex);
  if (!age.isValid() || age.elapsed() > 2000) {
    cache = EnumerateSystemPorts();
    age.start();
  }
  return cache;
}

QString EntryPath(int number) {
  return PortMapDirectory() + QStringLiteral("/COM") + QString::number(number);
}

// Where an entry points: the link target, or the entry itself when it is not
// a link (a device node or a file placed there by hand).
QString EntryTarget(const QFileInfo& info) {
  if (info.isSymLink()) {
#ifndef Q_OS_WIN
    // symLinkTarget() gives an absolute path; keep relative links relative to
    // the directory, as the system resolves them.
    const QByteArray raw = QFile::encodeName(info.absoluteFilePath());
    char buffer[4096];
    const ssize_t n = ::readlink(raw.constData(), buffer, sizeof buffer - 1);
    if (n > 0) {
      const QString target = QFile::decodeName(QByteArray(buffer, static_cast<int>(n)));
      return QDir::isAbsolutePath(target) ? target
                                          : QDir::cleanPath(info.absolutePath() + '/' + target);
    }
#endif
    return info.symLinkTarget();
  }
  return info.absoluteFilePath();
}

std::vector<PortEntry> PinnedEntries() {
  std::vector<PortEntry> entries;
  const QDir dir(PortMapDirectory());
  if (!dir.exists()) {
    return entries;
  }
  // QDir::System lists dangling links too: an unplugged adapter keeps its
  // number, it just fails to open.
  const QFileInfoList list =
      dir.entryInfoList(QStringList() << QStringLiteral("COM*"),
                        QDir::Files | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden);
  for (const QFileInfo& info : list) {
    const int number = PortNumberFromName(info.fileName());
    if (number == 0) {
      continue;
    }
    PortEntry entry;
    entry.Number = number;
    entry.DevicePath = EntryTarget(info);
    // A by-id name is what it leads to: ttyUSB0 is a USB adapter.
    const QString device = QFileInfo(entry.DevicePath).canonicalFilePath();
    entry.Kind = device.isEmpty() ? PortKind::NotConnected : KindOfDevicePath(device);
    entries.push_back(entry);
  }
  std::sort(entries.begin(), entries.end(),
            [](const PortEntry& a, const PortEntry& b) { return a.Number < b.Number; });
  return entries;
}

}  // namespace

bool SystemPortBefore(const QString& a, const QString& b) {
  const bool aa = IsAdapter(a);
  const bool ba = IsAdapter(b);
  if (aa != ba) {
    return aa;
  }
  return NaturalLess(a, b);
}

int PortNumberFromName(const QString& name) {
  if (!name.startsWith(QLatin1String("COM")) || name.size() < 4 || name.size() > 6) {
    return 0;
  }
  const QString digits = name.mid(3);
  if (digits[0] == '0') {
    return 0;
  }
  for (const QChar c : digits) {
    if (!c.isDigit()) {
      return 0;
    }
  }
  const int number = digits.toInt();
  return number >= FirstPortNumber && number <= LastPortNumber ? number : 0;
}

QString PortMapDirectory() {
  return ConfigurationHome() + QStringLiteral("/vantor/ports");
}

bool PortMapPinned() {
#ifdef Q_OS_WIN
  return false;
#else
  return !PinnedEntries().empty();
#endif
}

std::vector<PortEntry> PortMapEntries() {
#ifdef Q_OS_WIN
  std::vector<PortEntry> entries;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const int number = PortNumberFromName(info.portName());
    if (number != 0) {
      PortEntry entry;
      entry.Number = number;
      entry.DevicePath = info.portName();
      entry.Kind = PortKind::Serial;
      entry.Detail = info.description();
      entries.push_back(entry);
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const PortEntry& a, const PortEntry& b) { return a.Number < b.Number; });
  return entries;
#else
  std::vector<PortEntry> pinned = PinnedEntries();
  if (!pinned.empty()) {
    return pinned;
  }
  return SystemPortsCached();
#endif
}

QString PortPath(int number) {
  if (number < FirstPortNumber || number > LastPortNumber) {
    return {};
  }
#ifdef Q_OS_WIN
  return QStringLiteral("COM%1").arg(number);
#else
  for (const PortEntry& entry : PortMapEntries()) {
    if (entry.Number == number) {
      return entry.DevicePath;
    }
  }
  return {};
#endif
}

QString ByIdName(const QString& path, const QString& byIdDirectory) {
  const QString device = QFileInfo(path).canonicalFilePath();
  if (device.isEmpty()) {
    return {};
  }
  const QDir dir(byIdDirectory);
  const QFileInfoList names =
      dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo& name : names) {
    if (name.canonicalFilePath() == device) {
      return name.absoluteFilePath();
    }
  }
  return {};
}

void IdentifyPorts(std::vector<PortEntry>& entries, const std::vector<AdapterIdentity>& adapters,
                   const QString& byIdDirectory) {
  for (PortEntry& entry : entries) {
    const QString device = QFileInfo(entry.DevicePath).canonicalFilePath();
    if (device.isEmpty()) {
      continue;  // nothing there now
    }
    if (device != entry.DevicePath) {
      entry.Device = device;
    }
    for (const AdapterIdentity& adapter : adapters) {
      if (adapter.Location == device || QFileInfo(adapter.Location).canonicalFilePath() == device) {
        entry.Maker = adapter.Maker.trimmed();
        entry.SerialNumber = adapter.SerialNumber.trimmed();
        entry.UsbId = adapter.UsbId;
        if (!adapter.Product.trimmed().isEmpty()) {
          entry.Detail = adapter.Product.trimmed();
        }
        break;
      }
    }
    const QString byIdDir = QDir(byIdDirectory).absolutePath();
    entry.ById = QFileInfo(entry.DevicePath).absolutePath() == byIdDir
                     ? entry.DevicePath
                     : ByIdName(device, byIdDirectory);
#ifndef Q_OS_WIN
    entry.NoPermission = ::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 &&
                         (errno == EACCES || errno == EPERM);
#endif
  }
}

void IdentifyPorts(std::vector<PortEntry>& entries) {
  std::vector<AdapterIdentity> adapters;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    AdapterIdentity adapter;
    adapter.Location = info.systemLocation();
    adapter.Maker = info.manufacturer();
    adapter.Product = info.description();
    adapter.SerialNumber = info.serialNumber();
    if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
      adapter.UsbId = QStringLiteral("%1:%2")
                          .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                          .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
    }
    adapters.push_back(adapter);
  }
  IdentifyPorts(entries, adapters, QString::fromLatin1(SerialByIdDirectory));
}

QString PortDescription(const PortEntry& entry, uint8_t languageIndex) {
  MessageRow row = RowPortSerialDevice;
  switch (entry.Kind) {
    case PortKind::PseudoTerminal:
      row = RowPortPseudoTerminal;
      break;
    case PortKind::UsbSerial:
      row = RowPortUsbSerial;
      break;
    case PortKind::UsbModem:
      row = RowPortUsbModem;
      break;
    case PortKind::Bluetooth:
      row = RowPortBluetooth;
      break;
    case PortKind::Serial:
      row = RowPortSerial;
      break;
    case PortKind::SerialDevice:
      break;
    case PortKind::NotConnected:
      row = RowPortNotConnected;
      break;
  }
  QString text = MessageText(row, languageIndex);
  // "FTDI FT232R USB UART": the maker unless the product already names it.
  QString adapter = entry.Detail;
  if (!entry.Maker.isEmpty() && !adapter.startsWith(entry.Maker, Qt::CaseInsensitive)) {
    adapter = adapter.isEmpty() ? entry.Maker : entry.Maker + QLatin1Char(' ') + adapter;
  }
  if (!adapter.isEmpty()) {
    text += QStringLiteral(", ") + adapter;
  }
  if (!entry.SerialNumber.isEmpty()) {
    text += QStringLiteral(", ") +
            MessageText(RowPortSerialNumber, languageIndex).arg(entry.SerialNumber);
  }
  return text;
}

QString PortEntryText(const PortEntry& entry, uint8_t languageIndex) {
  QString path = entry.DevicePath;
  if (!entry.Device.isEmpty()) {
    path += QStringLiteral(" (%1)").arg(entry.Device);
  }
  QString text = QStringLiteral("COM%1 \u2014 %2, %3")
                     .arg(entry.Number)
                     .arg(path, PortDescription(entry, languageIndex));
  if (!entry.ById.isEmpty() && entry.ById != entry.DevicePath) {
    text += QStringLiteral(", ") + entry.ById;
  }
  return text;
}

QString PinPort(int number, const QString& devicePath, bool* ok) {
  if (ok != nullptr) {
    *ok = false;
  }
  if (number < FirstPortNumber || number > LastPortNumber) {
    return {};
  }
  QDir().mkpath(PortMapDirectory());
  const QString path = EntryPath(number);
  const QFileInfo old(path);
  QString previous;
  if (old.exists() || old.isSymLink()) {
    previous = EntryTarget(old);
  }
#ifndef Q_OS_WIN
  // A fresh link renamed over the old entry, so a reader never finds the
  // number missing (which could switch the map to the system's ports).
  const QByteArray temp = QFile::encodeName(path + QStringLiteral(".pin%1").arg(::getpid()));
  ::unlink(temp.constData());
  if (::symlink(QFile::encodeName(devicePath).constData(), temp.constData()) != 0 ||
      ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
    qCWarning(lcPlatform).noquote() << "COM" + QString::number(number) << "cannot be pinned in"
                                    << PortMapDirectory() << ":" << ::strerror(errno);
    ::unlink(temp.constData());
    return previous;
  }
  qCInfo(lcPlatform).noquote() << "COM" + QString::number(number) << "pinned to" << devicePath;
  if (ok != nullptr) {
    *ok = true;
  }
#else
  Q_UNUSED(devicePath);
#endif
  return previous;
}

void UnpinPort(int number, const QString& expectedTarget, const QString& previousTarget) {
  if (number < FirstPortNumber || number > LastPortNumber) {
    return;
  }
  const QString path = EntryPath(number);
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) {
    return;
  }
  if (!expectedTarget.isEmpty() && EntryTarget(info) != expectedTarget) {
    return;
  }
  if (!previousTarget.isEmpty()) {
    PinPort(number, previousTarget);
    return;
  }
  QFile::remove(path);
}

}  // namespace vantor
