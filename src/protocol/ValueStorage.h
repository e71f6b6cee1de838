#pragma once
#include <array>
#include <cstdint>

namespace vantor {

// Variable 0: the live measurement record.
struct MeasurementRecord {
  float DoseRate = 0;       // uSv/h
  float DoseRateError = 0;  // percent
  float Dose = 0;           // uSv
  uint32_t AccumulationTime = 0;
  uint32_t Unused4 = 0;
  uint32_t ArchiveRecordCount = 0;
  uint16_t StatusFlags = 0;  // bit 0 archive full, bit 4 new measurement
  uint16_t MeasurementMode = 0;
  // Year-2000, month, day, hour, minute, second. The same eight bytes are
  // variable 6 (clock setting); its last two bytes are never written.
  std::array<uint8_t, 8> DeviceClock{};
};

enum ClockField : uint8_t { ClockYear, ClockMonth, ClockDay, ClockHour, ClockMinute, ClockSecond };

// Variable 1: counting diagnostics (never exchanged by the program).
struct CountingDiagnostics {
  uint8_t ResetsUp = 0;
  uint8_t ResetsDown = 0;
  uint8_t ResetsSlope = 0;
  uint8_t ExpectedResetTime = 0;
  uint32_t PulseCount = 0;
  uint16_t PulseIntervalCounter = 0;
  uint16_t MaxPulseWait = 0;
  float TrendSlope = 0;
  uint16_t MeasurementTime = 0;
  uint16_t MeasurementNumber = 0;
  float CountRate = 0;
  uint8_t Unused11 = 0;
  float MeanCountRate = 0;
  float Uncertainty = 0;
};

// Variable 3: service (calibration) parameters.
struct ServiceParameters {
  std::array<float, 10> Floats{};  // members 0..9
  int32_t OperatingTime = 0;
  int32_t AccumulatedOperatingTime = 0;
  uint16_t HvDac = 0;
  uint8_t DeviceType = 0;
};

// Variable 4: user settings.
struct UserSettings {
  uint8_t DoseRateAlarmNumber = 0;
  std::array<float, 3> DoseRateAlarm{};
  uint8_t DoseAlarmNumber = 0;
  std::array<float, 3> DoseAlarm{};
  uint16_t ArchivePeriod = 0;   // seconds
  uint8_t Unused9 = 0;          // carried back unchanged on write
  uint8_t DisplayLanguage = 0;  // 0 English, 1 Russian
  uint8_t Brightness = 0;       // 0..250 in steps of 25
  uint32_t Flags = 0;           // bit 0 sound on
};

// Variable 5: one archive record as it travels (9 value bytes).
struct ArchiveRecordValue {
  float Value = 0;
  uint8_t Flags = 0;
  std::array<uint8_t, 4> Date{};
};

inline constexpr int FirmwareTextCapacity = 21;  // 20 characters and a NUL
inline constexpr int ScreenBytes = 1024;

// The local copy of every variable. A value type: the program owns one and
// every virtual instrument owns another.
struct ValueStorage {
  uint8_t Command = 0;                                // variable 8
  std::array<uint8_t, 3> StationAddress{};            // variable 9, low byte first
  ServiceParameters Service;                          // variable 3
  UserSettings Settings;                              // variable 4
  std::array<char, FirmwareTextCapacity> Firmware{};  // variable 10
  MeasurementRecord Measurement;                      // variable 0 (and 6)
  CountingDiagnostics Diagnostics;                    // variable 1
  std::array<float, 20> Floats{};                     // variable 2
  ArchiveRecordValue Archive;                         // variable 5
  std::array<uint8_t, ScreenBytes> Screen{};          // variable 231
  std::array<uint8_t, 20> DeviceData{};               // variable 12
};

}  // namespace vantor
