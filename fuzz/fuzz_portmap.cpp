// Names in the port map and of the system's ports: "COM<n>" is read only in
// its one spelling, and the order of the system's ports is a strict order.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "PortMap.h"

using namespace vantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const qsizetype nul = input.indexOf('\0');
  const QString a = QString::fromUtf8(nul < 0 ? input : input.left(nul));
  const QString b = QString::fromUtf8(nul < 0 ? QByteArray() : input.mid(nul + 1));

  for (const QString& name : {a, b}) {
    const int number = PortNumberFromName(name);
    if (number != 0 && (number < FirstPortNumber || number > LastPortNumber ||
                        name != QStringLiteral("COM%1").arg(number))) {
      __builtin_trap();
    }
    // The adapter's identity comes from outside too: every text field.
    PortEntry entry;
    entry.Number = number;
    entry.DevicePath = name;
    entry.Kind = PortKind::SerialDevice;
    entry.Detail = name;
    entry.Device = b;
    entry.Maker = a;
    entry.SerialNumber = b;
    entry.ById = a;
    for (const uint8_t language : {uint8_t{0}, uint8_t{1}}) {
      PortEntryText(entry, language);
      PortDescription(entry, language);
    }
  }
  if (SystemPortBefore(a, a) || SystemPortBefore(b, b) ||
      (SystemPortBefore(a, b) && SystemPortBefore(b, a))) {
    __builtin_trap();
  }
  return 0;
}
