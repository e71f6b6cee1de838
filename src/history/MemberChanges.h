#pragma once
#include <vector>

#include "HistoryTypes.h"

namespace vantor {

// The members of a structured variable (3 service parameters, 4 user
// settings) whose value differs between two copies of the variables, in
// member order, each named as the program shows it (the dictionary's first
// name) and with its old and new value as text: floats as their shortest
// dot text, integers in decimal. Nothing for other variables.
std::vector<MemberChange> ChangedMembers(uint8_t variableId, const ValueStorage& before,
                                         const ValueStorage& after);

}  // namespace vantor
