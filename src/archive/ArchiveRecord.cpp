#include "ArchiveRecord.h"

#include <cmath>
#include <cstring>

#include "CalendarClock.h"
#include "NumberText.h"
#include "Scaling.h"

namespace vantor {
namespace {

// Byte sizes of one record's items: date-time, value, flags.
constexpr std::array<uint16_t, 3> RecordLayout = {4, 4, 1};
constexpr uint32_t ArchiveMemoryStart = 0x08080082;
constexpr uint32_t ArchiveMemoryEnd = 0x08083000;

QString TwoDigits(int value) {
  return value >= 0 && value < 10 ? QStringLiteral("0") + QString::number(value)
                                  : QString::number(value);
}

}  // namespace

ArchiveLayout ComputeArchiveLayoutSizes() {
  ArchiveLayout layout;
  for (uint16_t size : RecordLayout) {
    layout.RecordSize = static_cast<uint16_t>(layout.RecordSize + size);
  }
  if (layout.RecordSize > 0) {
    layout.Capacity =
        static_cast<uint16_t>((ArchiveMemoryEnd - ArchiveMemoryStart) / layout.RecordSize);
  }
  return layout;
}

ArchiveRecord ArchiveRecord::From(const ArchiveRecordValue& value) {
  return Make(value.Value, value.Flags, value.Date[0], value.Date[1], value.Date[2], value.Date[3]);
}

ArchiveRecord ArchiveRecord::Make(float value, uint8_t flags, uint8_t d1, uint8_t d2, uint8_t d3,
                                  uint8_t d4) {
  ArchiveRecord record;
  std::memcpy(record.Bytes.data(), &value, sizeof value);
  record.Bytes[4] = flags;
  record.Bytes[5] = d1;
  record.Bytes[6] = d2;
  record.Bytes[7] = d3;
  record.Bytes[8] = d4;
  return record;
}

float ArchiveRecord::Value() const {
  float value = 0;
  std::memcpy(&value, Bytes.data(), sizeof value);
  return value;
}

bool ArchiveRecord::IsSeparator() const {
  for (int i = 0; i < ArchiveRecordBytes; ++i) {
    if (Bytes[static_cast<size_t>(i)] != 0) {
      return false;
    }
  }
  return true;
}

ArchiveTime DecodeArchiveTime(const ArchiveRecord& record) {
  const uint8_t d1 = record.DateByte(0);
  const uint8_t d2 = record.DateByte(1);
  const uint8_t d3 = record.DateByte(2);
  const uint8_t d4 = record.DateByte(3);
  ArchiveTime time;
  time.YearOffset = static_cast<int16_t>(d1 & 0x3F);
  time.Month = static_cast<int8_t>(((d3 & 0xC0) >> 4) | (d4 >> 6));
  time.Day = static_cast<int8_t>(((d1 & 0xC0) >> 3) | (d2 >> 5));
  time.Hour = static_cast<int8_t>(d2 & 0x1F);
  time.Minute = static_cast<int8_t>(d3 & 0x3F);
  time.Second = static_cast<int8_t>(d4 & 0x3F);
  return time;
}

QString ArchiveIndexText(int index) {
  return FormatPrintf("%i", static_cast<long long>(index));
}

QString ArchiveValueText(float value, int language) {
  const ScaledValue scaled = ScaleReading(value);
  // Not a number, infinities and readings far beyond any real dose rate get
  // a placeholder, so the cell never grows to dozens of digits.
  if (!scaled.Finite || std::fabs(scaled.Value) >= 10000.0f) {
    const int prefix = std::isnan(value) ? 0 : scaled.PrefixIndex;
    return QStringLiteral("- - - ") + QString::fromUtf8(DoseRateUnit(0, prefix, language));
  }
  const QByteArray format = "%5." + QByteArray::number(scaled.Decimals) + "f";
  return FormatPrintf(format.constData(), static_cast<double>(scaled.Value)) + QStringLiteral(" ") +
         QString::fromUtf8(DoseRateUnit(0, scaled.PrefixIndex, language));
}

QString ArchiveTimeText(const ArchiveTime& t) {
  return TwoDigits(t.Hour) + ':' + TwoDigits(t.Minute) + ':' + TwoDigits(t.Second) + ' ' +
         TwoDigits(t.Day) + '/' + TwoDigits(t.Month) + '/' + TwoDigits(t.YearOffset);
}

QString ArchiveEventText(uint8_t flags) {
  if (flags == 0) {
    return QStringLiteral("Норма");
  }
  if (flags & 0x04) {
    return QStringLiteral("Превышен порог МАЭД");
  }
  return QString();
}

std::optional<double> ArchivePointDate(const ArchiveTime& t) {
  if (t.IsZero()) {
    return std::nullopt;
  }
  // Month 0 is December of the year before, month 13 January of the next;
  // day 0 is the last day of the month before, and so on for the clock.
  const int64_t days = DaysFromCivil(2000 + int64_t{t.YearOffset}, t.Month, t.Day);
  const int64_t seconds = int64_t{t.Hour} * 3600 + int64_t{t.Minute} * 60 + t.Second;
  return static_cast<double>(days) + 25569.0 + static_cast<double>(seconds) / 86400.0;
}

std::optional<QDateTime> ArchiveDateTime(const ArchiveTime& time) {
  const std::optional<double> days = ArchivePointDate(time);
  if (!days) {
    return std::nullopt;
  }
  const double whole = std::floor(*days);
  int seconds = static_cast<int>(std::lround((*days - whole) * 86400.0));
  QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(whole));
  if (seconds >= 86400) {
    seconds -= 86400;
    date = date.addDays(1);
  }
  return QDateTime(date, QTime::fromMSecsSinceStartOfDay(seconds * 1000));
}

QString ArchivePaging::Text() const {
  return QString::number(current_ + 1) + QStringLiteral(" из ") + QString::number(pageCount_ + 1);
}

int CountSeparators(const ArchiveBuffer& buffer, int count) {
  int separators = 0;
  for (int i = 0; i < count; ++i) {
    separators += buffer[i].IsSeparator() ? 1 : 0;
  }
  return separators;
}

std::vector<int> PageSlots(const ArchiveBuffer& buffer, int count, int page) {
  std::vector<int> found;
  int separators = 0;
  for (int i = 0; i < count && separators <= page; ++i) {
    if (buffer[i].IsSeparator()) {
      ++separators;
    } else if (separators == page) {
      found.push_back(i);
    }
  }
  return found;
}

}  // namespace vantor
