#pragma once
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "SettingsOperations.h"
#include "ValueStorage.h"

namespace vantor {

class DeviceLink;

// Every user setting (variable 4) and service parameter (variable 3) as
// text, member by member, for a copy kept outside the instrument and put
// back later.

// One member as text. Integers are decimal (the 32-bit ones signed, as the
// service grid shows them); floats the shortest decimal text with a dot that
// reads back to the same bits ("-0" for negative zero), and a float that is
// no number or infinite its bits in hex ("0x7FC00000").
struct MemberText {
  uint8_t Variable = 0;  // 3 or 4
  int Member = 0;        // position in the variable
  QString Name;          // the dictionary's first name; "#9" for a member without one
  QString Value;

  bool operator==(const MemberText&) const = default;
};

// Every member of variable 3, then of variable 4, in member order.
std::vector<MemberText> SettingsMemberTexts(const ValueStorage& values);

// Puts `members` into variables 3 and 4 of `values`. Every member of both
// must come exactly once, under its position and name, with a value of its
// type that fits; otherwise `error` (when given) names the first that does
// not and `values` stays as it was.
bool ApplyMemberTexts(const std::vector<MemberText>& members, ValueStorage& values,
                      QString* error = nullptr);

// A member whose value differs between two copies, in member order.
struct MemberDifference {
  uint8_t Variable = 0;
  int Member = 0;
  QString Name;
  QString Instrument;  // as the instrument has it
  QString Wanted;      // as it is to become
};
std::vector<MemberDifference> SettingsDifferences(const ValueStorage& instrument,
                                                  const ValueStorage& wanted);

// What putting settings back came to.
struct SettingsRestore {
  enum class Outcome : uint8_t {
    Restored,      // written and read back equal
    AlreadyEqual,  // nothing differed, nothing written
    DryRun,        // differences found, nothing written as asked
    OtherDevice,   // the copy is of another device type: nothing written
    LineFailure,   // a read or write failed on the line
    NotVerified,   // written, but the read-back differs (Unverified)
  };
  Outcome Result = Outcome::LineFailure;
  uint8_t InstrumentType = 0;                 // member 13 of variable 3 on the instrument
  std::vector<MemberDifference> Differences;  // before any write
  // The writes made, with the values before and after.
  std::optional<ServiceWrite> Service;
  std::optional<UserSettingsWrite> User;
  std::vector<MemberDifference> Unverified;  // what still differs after the write
};

// Reads variables 3 and 4, compares them with `wanted` and writes only the
// variables that differ (a variable is written whole), then reads them back
// and checks every member. Refuses, writing nothing, when `wanted` is of
// another device type than the instrument. With `dryRun` only compares.
SettingsRestore RestoreSettings(DeviceLink& link, const ValueStorage& wanted, bool dryRun);

}  // namespace vantor
