#include "Dictionary.h"

#include <cstring>

namespace vantor {
namespace {

template <typename Outer, typename Inner>
constexpr uint16_t At(size_t outer, size_t inner, size_t element = 0) {
  return static_cast<uint16_t>(outer + inner + element * sizeof(Inner));
}

#define VS(field) offsetof(ValueStorage, field)
#define MR(field) At<ValueStorage, uint8_t>(VS(Measurement), offsetof(MeasurementRecord, field))
#define CD(field) At<ValueStorage, uint8_t>(VS(Diagnostics), offsetof(CountingDiagnostics, field))
#define SP(field) At<ValueStorage, uint8_t>(VS(Service), offsetof(ServiceParameters, field))
#define SPF(i) At<ValueStorage, float>(VS(Service), offsetof(ServiceParameters, Floats), i)
#define US(field) At<ValueStorage, uint8_t>(VS(Settings), offsetof(UserSettings, field))
#define USF(field, i) At<ValueStorage, float>(VS(Settings), offsetof(UserSettings, field), i)
#define AR(field) At<ValueStorage, uint8_t>(VS(Archive), offsetof(ArchiveRecordValue, field))
#define CLK(i) \
  At<ValueStorage, uint8_t>(VS(Measurement), offsetof(MeasurementRecord, DeviceClock), i)

const MemberDescriptor MeasurementMembers[14] = {
    {nullptr, nullptr, TypeFloat, MR(DoseRate)},
    {nullptr, nullptr, TypeFloat, MR(DoseRateError)},
    {nullptr, nullptr, TypeFloat, MR(Dose)},
    {nullptr, nullptr, TypeInt32, MR(AccumulationTime)},
    {nullptr, nullptr, TypeInt32, MR(Unused4)},
    {nullptr, nullptr, TypeInt32, MR(ArchiveRecordCount)},
    {nullptr, nullptr, TypeInt16, MR(StatusFlags)},
    {nullptr, nullptr, TypeInt16, MR(MeasurementMode)},
    {nullptr, nullptr, TypeInt8, CLK(0)},
    {nullptr, nullptr, TypeInt8, CLK(1)},
    {nullptr, nullptr, TypeInt8, CLK(2)},
    {nullptr, nullptr, TypeInt8, CLK(3)},
    {nullptr, nullptr, TypeInt8, CLK(4)},
    {nullptr, nullptr, TypeInt8, CLK(5)},
};

const MemberDescriptor ServiceMembers[14] = {
    {"Чувствительность ((мкЗв/ч)/(имп/c))", "Чувствительность ((Зв/ч)/(имп/c))", TypeFloat, SPF(0)},
    {"Калибровочная точка, мкЗв/ч", "Калибровочная точка, мкЗв/ч", TypeFloat, SPF(1)},
    {"Чувствительность (с/(мин*см2))", "Чувствительность (с/(мин*см2))", TypeFloat, SPF(2)},
    {"Калибровочная точка Бета, 1/(мин*см2)", "Калибровочная точка Бета, 1/(мин*см2)", TypeFloat,
     SPF(3)},
    {"Чувствительность (с/(мин*см2))", "Чувствительность (с/(мин*см2))", TypeFloat, SPF(4)},
    {"Калибровочная точка Альфа, 1/(мин*см2)", "Калибровочная точка Альфа, 1/(мин*см2)", TypeFloat,
     SPF(5)},
    {"Мертвое время, мкс", "Мертвое время, мкс", TypeFloat, SPF(6)},
    {"Фон, имс/c", "Фон, имс/c", TypeFloat, SPF(7)},
    {"Напряжение разряженного аккумулятора, В", "Напряжение разряженного аккумулятора, В",
     TypeFloat, SPF(8)},
    {"Напряжение выключения, В", "Напряжение выключения, В", TypeFloat, SPF(9)},
    {"Время работы", "Время работы", TypeInt32, SP(OperatingTime)},
    {"Наработка", "Наработка", TypeInt32, SP(AccumulatedOperatingTime)},
    {"HV DAC", "HV DAC", TypeInt16, SP(HvDac)},
    {"Тип прибора", "Тип прибора", TypeInt8, SP(DeviceType)},
};

const MemberDescriptor SettingsMembers[13] = {
    {"Номер порога по МАЭД", "Alarm EDR number", TypeInt8, US(DoseRateAlarmNumber)},
    {"Порог 1", "Alarm 1", TypeFloat, USF(DoseRateAlarm, 0)},
    {"Порог 2", "Alarm 2", TypeFloat, USF(DoseRateAlarm, 1)},
    {"Порог 3", "Alarm 3", TypeFloat, USF(DoseRateAlarm, 2)},
    {"Номер порога по АЭД", "Alarm EDR number", TypeInt8, US(DoseAlarmNumber)},
    {"Порог 1", "Alarm 1", TypeFloat, USF(DoseAlarm, 0)},
    {"Порог 2", "Alarm 2", TypeFloat, USF(DoseAlarm, 1)},
    {"Порог 3", "Alarm 3", TypeFloat, USF(DoseAlarm, 2)},
    {"Период записи в архив, с", "Archive recording period, s", TypeInt16, US(ArchivePeriod)},
    {nullptr, nullptr, TypeInt8, US(Unused9)},
    {"Язык", "Language", TypeInt8, US(DisplayLanguage)},
    {"Яркость дисплея", "Screen brightness", TypeInt8, US(Brightness)},
    {nullptr, nullptr, TypeInt32, US(Flags)},
};

const MemberDescriptor DiagnosticsMembers[14] = {
    {"Сбросов буфера вверх", "Сбросов буфера вверх", TypeInt8, CD(ResetsUp)},
    {"Сбросов буфера вниз", "Сбросов буфера вниз", TypeInt8, CD(ResetsDown)},
    {"Сбросов буфера по наклону", "Сбросов буфера по наклону", TypeInt8, CD(ResetsSlope)},
    {"Ожидаемое время сброса", "Ожидаемое время сброса", TypeInt8, CD(ExpectedResetTime)},
    {"Количество импульсов", "Количество импульсов", TypeInt32, CD(PulseCount)},
    {"Счетчик времени между импульсами", "Счетчик времени между импульсами", TypeInt16,
     CD(PulseIntervalCounter)},
    {"Максимальное время ожидание импульса", "Максимальное время ожидание импульса", TypeInt16,
     CD(MaxPulseWait)},
    {"Наклон тренда", "Наклон тренда", TypeFloat, CD(TrendSlope)},
    {"Время текущего измерения, с", "Время текущего измерения, с", TypeInt16, CD(MeasurementTime)},
    {"Номер измерения", "Номер измерения", TypeInt16, CD(MeasurementNumber)},
    {"Скорость счета, имп/с", "Скорость счета, имп/с", TypeFloat, CD(CountRate)},
    {nullptr, nullptr, TypeInt8, CD(Unused11)},
    {"Средняя скорость счета, имп/с", "Средняя скорость счета, имп/с", TypeFloat,
     CD(MeanCountRate)},
    {"Неопределенность, %", "Неопределенность, %", TypeFloat, CD(Uncertainty)},
};

const MemberDescriptor ArchiveMembers[6] = {
    {nullptr, nullptr, TypeFloat, AR(Value)},
    {nullptr, nullptr, TypeInt8, AR(Flags)},
    {nullptr, nullptr, TypeInt8,
     At<ValueStorage, uint8_t>(VS(Archive), offsetof(ArchiveRecordValue, Date), 0)},
    {nullptr, nullptr, TypeInt8,
     At<ValueStorage, uint8_t>(VS(Archive), offsetof(ArchiveRecordValue, Date), 1)},
    {nullptr, nullptr, TypeInt8,
     At<ValueStorage, uint8_t>(VS(Archive), offsetof(ArchiveRecordValue, Date), 2)},
    {nullptr, nullptr, TypeInt8,
     At<ValueStorage, uint8_t>(VS(Archive), offsetof(ArchiveRecordValue, Date), 3)},
};

const ArrayDescriptor FloatsArray{TypeFloat, static_cast<uint16_t>(VS(Floats)), 20};
const ArrayDescriptor ScreenArray{TypeInt8, static_cast<uint16_t>(VS(Screen)), ScreenBytes};
const ArrayDescriptor DeviceDataArray{TypeInt8, static_cast<uint16_t>(VS(DeviceData)), 20};

constexpr uint8_t RW = AccessRead | AccessWrite;

}  // namespace

const std::array<VariableDescriptor, VariableCount> VariableDictionary = {{
    {AccessWrite, IdCommand, TypeInt8, static_cast<uint16_t>(VS(Command)), nullptr, nullptr, 0},
    {RW, IdStationAddress, TypeAddr24, static_cast<uint16_t>(VS(StationAddress)), nullptr, nullptr,
     0},
    {RW, IdService, TypeStruct, 0, ServiceMembers, nullptr, 14},
    {RW, IdSettings, TypeStruct, 0, SettingsMembers, nullptr, 13},
    {RW, IdFirmware, TypeText, static_cast<uint16_t>(VS(Firmware)), nullptr, nullptr, 0},
    {AccessWrite, IdClock, TypeRaw8, CLK(0), nullptr, nullptr, 0},
    {RW, IdMeasurement, TypeStruct, 0, MeasurementMembers, nullptr, 14},
    {RW, IdDiagnostics, TypeStruct, 0, DiagnosticsMembers, nullptr, 14},
    {RW, IdFloats, TypeArray, 0, nullptr, &FloatsArray, 1},
    {RW, IdArchive, TypeStruct, 0, ArchiveMembers, nullptr, 6},
    {RW, IdScreen, TypeArray, 0, nullptr, &ScreenArray, 1},
    {AccessRead, IdDeviceData, TypeArray, 0, nullptr, &DeviceDataArray, 1},
}};

uint16_t TypeSize(uint8_t type, const uint8_t* value, size_t available) {
  switch (type) {
    case TypeInt8:
    case TypeSignedInt8:
      return 1;
    case TypeInt16:
    case TypeSignedInt16:
    case TypeUnused13:
      return 2;
    case TypeAddr24:
      return 3;
    case TypeInt32:
    case TypeFloat:
      return 4;
    case TypeRaw8:
    case TypeUnused39:
      return 8;
    case TypeText: {
      size_t n = 0;
      while (n < available && value[n] != 0) {
        ++n;
      }
      return static_cast<uint16_t>(n < available ? n + 1 : n);
    }
    default:
      return 0;
  }
}

uint16_t CopyValue(uint8_t type, uint8_t* destination, const uint8_t* source) {
  if (type == TypeAddr24) {
    destination[0] = source[2];
    destination[1] = source[1];
    destination[2] = source[0];
    return 3;
  }
  const uint16_t size = TypeSize(type, source);
  if (size > 0) {
    std::memmove(destination, source, size);
  }
  return size;
}

}  // namespace vantor
