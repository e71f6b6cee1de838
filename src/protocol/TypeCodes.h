#pragma once
#include <cstdint>

namespace vantor {

// One-byte type codes of the instrument's variables. Codes without a name
// have a size but no variable of the dictionary uses them.
enum TypeCode : uint8_t {
  TypeInt8 = 1,
  TypeText = 3,
  TypeInt16 = 5,
  TypeSignedInt8 = 7,
  TypeSignedInt16 = 9,
  TypeInt32 = 11,
  TypeUnused13 = 13,
  TypeArray = 17,
  TypeFloat = 25,
  TypeRaw8 = 31,
  TypeAddr24 = 33,
  TypeUnused39 = 39,
  TypeStruct = 125,
};

}  // namespace vantor
