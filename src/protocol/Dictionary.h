#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "TypeCodes.h"
#include "ValueStorage.h"

namespace vantor {

enum AccessFlags : uint8_t { AccessRead = 1, AccessWrite = 2 };

// One member of a structured variable. Names are UTF-8; nullptr is "none".
struct MemberDescriptor {
  const char* RussianName;
  const char* EnglishName;
  uint8_t Type;     // always a plain code
  uint16_t Offset;  // field in ValueStorage
};

struct ArrayDescriptor {
  uint8_t ElementType;  // always a plain code
  uint16_t Offset;      // first element in ValueStorage
  uint16_t Count;
};

struct VariableDescriptor {
  uint8_t Access;
  uint8_t Id;
  uint8_t Type;
  uint16_t Offset;                  // plain variables: the field in ValueStorage
  const MemberDescriptor* Members;  // TypeStruct
  const ArrayDescriptor* Array;     // TypeArray
  uint8_t MemberCount;              // TypeStruct: members; arrays carry 1
};

inline constexpr uint8_t VariableCount = 12;

// Indexes of the dictionary entries, in table order.
enum VariableIndex : uint8_t {
  IndexCommand = 0,
  IndexStationAddress = 1,
  IndexService = 2,
  IndexSettings = 3,
  IndexFirmware = 4,
  IndexClock = 5,
  IndexMeasurement = 6,
  IndexDiagnostics = 7,
  IndexFloats = 8,
  IndexArchive = 9,
  IndexScreen = 10,
  IndexDeviceData = 11,
};

// Wire ids of the variables.
enum VariableId : uint8_t {
  IdMeasurement = 0,
  IdDiagnostics = 1,
  IdFloats = 2,
  IdService = 3,
  IdSettings = 4,
  IdArchive = 5,
  IdClock = 6,
  IdCommandAlias = 7,  // callers that send a command pass 7, which names variable 8
  IdCommand = 8,
  IdStationAddress = 9,
  IdFirmware = 10,
  IdDeviceData = 12,
  IdScreen = 231,
};

// Command byte values written to variable 8.
enum Command : uint8_t {
  CommandResetDose = 0,
  CommandEraseArchive = 1,
  CommandStartArchiveTransfer = 2,
  CommandFactorySettings = 3,
};

extern const std::array<VariableDescriptor, VariableCount> VariableDictionary;

// Size of one value of a plain type; for TypeText the length of the text at
// `value` plus its NUL, at most `available` bytes (the text ends there when no
// NUL comes first). 0 for unknown codes and for 17 and 125.
uint16_t TypeSize(uint8_t type, const uint8_t* value, size_t available = SIZE_MAX);

// Copies one value of a plain type and returns its size. TypeAddr24 reverses
// its three bytes; TypeText copies the text and its NUL.
uint16_t CopyValue(uint8_t type, uint8_t* destination, const uint8_t* source);

inline uint8_t* FieldOf(ValueStorage& storage, uint16_t offset) {
  return reinterpret_cast<uint8_t*>(&storage) + offset;
}
inline const uint8_t* FieldOf(const ValueStorage& storage, uint16_t offset) {
  return reinterpret_cast<const uint8_t*>(&storage) + offset;
}

}  // namespace vantor
