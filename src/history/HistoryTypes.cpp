#include "HistoryTypes.h"

#include <QDateTime>
#include <cstring>
#include <iterator>

#include "CalendarClock.h"
#include "Windows1251.h"

namespace vantor {
namespace {

const char* const EventKindNames[] = {"clock_set",     "dose_reset",     "archive_erase",
                                      "factory_reset", "settings_write", "service_write",
                                      "alarm_raised",  "alarm_cleared"};
static_assert(std::size(EventKindNames) == EventKindCount);

}  // namespace

InstrumentIdentity IdentityOf(const ValueStorage& values) {
  InstrumentIdentity identity;
  identity.DeviceType = values.Service.DeviceType;
  identity.DeviceData = values.DeviceData;
  identity.Firmware = FromWindows1251(values.Firmware.data(), values.Firmware.size());
  return identity;
}

QString InstrumentKey(const InstrumentIdentity& instrument) {
  return QString::number(instrument.DeviceType) + QLatin1Char(':') + DeviceDataHex(instrument);
}

QString DeviceDataHex(const InstrumentIdentity& instrument) {
  return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(instrument.DeviceData.data()),
                                        static_cast<qsizetype>(instrument.DeviceData.size()))
                                 .toHex());
}

QString SerialText(const std::array<uint8_t, 20>& deviceData) {
  QString text;
  for (const uint8_t byte : deviceData) {
    if (byte == 0) {
      break;
    }
    const bool plain = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= 'a' && byte <= 'z') || byte == '-' || byte == '_' || byte == '.';
    if (!plain) {
      return QString();
    }
    text += QLatin1Char(static_cast<char>(byte));
  }
  return text;
}

QString InstrumentSerial(const std::array<uint8_t, 20>& deviceData) {
  QString text = SerialText(deviceData);
  if (!text.isEmpty()) {
    return text;
  }
  QByteArray bytes(reinterpret_cast<const char*>(deviceData.data()),
                   static_cast<qsizetype>(deviceData.size()));
  while (!bytes.isEmpty() && bytes.back() == '\0') {
    bytes.chop(1);
  }
  return QString::fromLatin1(bytes.toHex());
}

QString InstrumentName(const InstrumentIdentity& instrument) {
  const QString serial = SerialText(instrument.DeviceData);
  return serial.isEmpty() ? InstrumentKey(instrument) : serial;
}

ActorParts SplitActor(const QString& actor) {
  const qsizetype at = actor.lastIndexOf(QLatin1Char('@'));
  if (at < 0) {
    return {actor, QString()};
  }
  return {actor.left(at), actor.mid(at + 1)};
}

LiveReading ReadingOf(const MeasurementRecord& record, int64_t atMs) {
  LiveReading reading;
  reading.AtMs = atMs;
  reading.DoseRate = record.DoseRate;
  reading.Mode = static_cast<uint8_t>(record.MeasurementMode & 0xFF);
  reading.Uncertainty = record.DoseRateError;
  reading.Dose = record.Dose;
  reading.AccumulationSeconds = record.AccumulationTime;
  return reading;
}

ArchiveBytes BytesOf(const ArchiveRecordValue& record) {
  ArchiveBytes bytes{};
  std::memcpy(bytes.data(), &record.Value, sizeof record.Value);
  bytes[4] = record.Flags;
  std::memcpy(bytes.data() + 5, record.Date.data(), record.Date.size());
  return bytes;
}

bool IsSeparator(const ArchiveBytes& record) {
  for (const uint8_t b : record) {
    if (b != 0) {
      return false;
    }
  }
  return true;
}

float ArchiveValueOf(const ArchiveBytes& record) {
  float value = 0;
  std::memcpy(&value, record.data(), sizeof value);
  return value;
}

std::optional<int64_t> ArchiveTimeOf(const ArchiveBytes& record, const QTimeZone& zone) {
  const uint8_t d1 = record[5];
  const uint8_t d2 = record[6];
  const uint8_t d3 = record[7];
  const uint8_t d4 = record[8];
  const int year = d1 & 0x3F;
  const int month = ((d3 & 0xC0) >> 4) | (d4 >> 6);
  const int day = ((d1 & 0xC0) >> 3) | (d2 >> 5);
  const int hour = d2 & 0x1F;
  const int minute = d3 & 0x3F;
  const int second = d4 & 0x3F;
  if (year == 0 && month == 0 && day == 0 && hour == 0 && minute == 0 && second == 0) {
    return std::nullopt;
  }
  // Out-of-range fields roll over first, in naive local time; only the
  // resulting wall-clock time is placed in the zone.
  const int64_t naive =
      DaysFromCivil(2000 + year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  int y = 0;
  int m = 0;
  int d = 0;
  CivilFromDays(naive / 86400, y, m, d);
  const int64_t secondOfDay = naive % 86400;
  const QDateTime local(
      QDate(y, m, d),
      QTime(static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
            static_cast<int>(secondOfDay % 60)),
      zone);
  return local.toMSecsSinceEpoch();
}

QString EventKindName(EventKind kind) {
  return QLatin1String(EventKindNames[static_cast<int>(kind)]);
}

std::optional<EventKind> EventKindFromName(const QString& name) {
  for (size_t i = 0; i < std::size(EventKindNames); ++i) {
    if (name == QLatin1String(EventKindNames[i])) {
      return static_cast<EventKind>(i);
    }
  }
  return std::nullopt;
}

}  // namespace vantor
