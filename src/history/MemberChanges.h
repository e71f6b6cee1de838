#pragma once
#include <vector>

#include "Dictionary.h"
#include "HistoryTypes.h"

namespace vantor {

// The members of a structured variable (3 service parameters, 4 user
// settings) whose value differs between two copies of the variables, in
// member order, each named as the program shows it (the dictionary's first
// name) and with its old and new value as text: floats as their shortest
// dot text, integers in decimal. Nothing for other variables.
// A member's value as text: integers in decimal, floats as their shortest
// dot text (a float that is no number as its bits, "0x7FC00000", so that it
// reads back exactly), text from Windows-1251, anything else as hex bytes.
// `available`: the bytes from `field` to the end of the storage.
QString MemberValueText(uint8_t type, const uint8_t* field, size_t available);

// The name the program shows for member `position`: the dictionary's first
// name, "#9" for a member without one.
QString MemberName(const MemberDescriptor& member, int position);

std::vector<MemberChange> ChangedMembers(uint8_t variableId, const ValueStorage& before,
                                         const ValueStorage& after);

}  // namespace vantor
