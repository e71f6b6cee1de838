#include "SettingsBackup.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "Csv.h"
#include "DeviceLink.h"
#include "Dictionary.h"
#include "MemberChanges.h"

namespace vantor {
namespace {

constexpr VariableIndex BackedUp[] = {IndexService, IndexSettings};

struct Member {
  uint8_t Variable;
  int Position;
  const MemberDescriptor* Descriptor;
};

std::vector<Member> Members() {
  std::vector<Member> members;
  for (const VariableIndex index : BackedUp) {
    const VariableDescriptor& variable = VariableDictionary[index];
    for (int i = 0; i < variable.MemberCount; ++i) {
      members.push_back({variable.Id, i, &variable.Members[i]});
    }
  }
  return members;
}

QString NameOf(const Member& member) {
  return MemberName(*member.Descriptor, member.Position);
}

QString ValueOf(const Member& member, const ValueStorage& values) {
  const uint16_t offset = member.Descriptor->Offset;
  return MemberValueText(member.Descriptor->Type, FieldOf(values, offset),
                         sizeof(ValueStorage) - offset);
}

template <class T>
void StoreAs(uint8_t* field, T value) {
  std::memcpy(field, &value, sizeof value);
}

// Integer types by width and sign.
struct IntegerType {
  int Bytes;
  int64_t Lowest;
  int64_t Highest;
};

std::optional<IntegerType> IntegerTypeOf(uint8_t type) {
  switch (type) {
    case TypeInt8:
      return IntegerType{1, 0, 255};
    case TypeSignedInt8:
      return IntegerType{1, -128, 127};
    case TypeInt16:
      return IntegerType{2, 0, 65535};
    case TypeSignedInt16:
      return IntegerType{2, -32768, 32767};
    case TypeInt32:
      return IntegerType{4, std::numeric_limits<int32_t>::min(),
                         std::numeric_limits<int32_t>::max()};
    default:
      return std::nullopt;
  }
}

// The whole text as a number, nothing before or after it.
template <class T>
bool ParseWhole(const QByteArray& text, T& value, int base = 10) {
  const char* end = text.constData() + text.size();
  std::from_chars_result result{};
  if constexpr (std::is_floating_point_v<T>) {
    result = std::from_chars(text.constData(), end, value, std::chars_format::general);
  } else {
    result = std::from_chars(text.constData(), end, value, base);
  }
  return !text.isEmpty() && result.ec == std::errc() && result.ptr == end;
}

bool StoreMemberText(uint8_t type, const QString& text, uint8_t* field) {
  const QByteArray latin = text.toLatin1();
  if (type == TypeFloat) {
    if (latin.startsWith("0x")) {
      uint32_t bits = 0;
      if (latin.size() != 10 || !ParseWhole(latin.mid(2), bits, 16)) {
        return false;
      }
      StoreAs(field, bits);
      return true;
    }
    float value = 0;
    if (!ParseWhole(latin, value) || !std::isfinite(value)) {
      return false;
    }
    StoreAs(field, value);
    return true;
  }
  const std::optional<IntegerType> integer = IntegerTypeOf(type);
  int64_t value = 0;
  if (!integer || !ParseWhole(latin, value) || value < integer->Lowest ||
      value > integer->Highest) {
    return false;
  }
  switch (integer->Bytes) {
    case 1:
      StoreAs(field, static_cast<uint8_t>(value));
      break;
    case 2:
      StoreAs(field, static_cast<uint16_t>(value));
      break;
    default:
      StoreAs(field, static_cast<uint32_t>(value));
      break;
  }
  return true;
}

QString VariableName(uint8_t variable) {
  return variable == IdService ? QStringLiteral("service parameter")
                               : QStringLiteral("user setting");
}

}  // namespace

std::vector<MemberText> SettingsMemberTexts(const ValueStorage& values) {
  std::vector<MemberText> texts;
  for (const Member& member : Members()) {
    texts.push_back({member.Variable, member.Position, NameOf(member), ValueOf(member, values)});
  }
  return texts;
}

bool ApplyMemberTexts(const std::vector<MemberText>& members, ValueStorage& values,
                      QString* error) {
  const auto fail = [error](const QString& why) {
    if (error != nullptr) {
      *error = why;
    }
    return false;
  };
  const std::vector<Member> known = Members();
  ValueStorage scratch = values;
  std::set<std::pair<uint8_t, int>> seen;
  for (const MemberText& text : members) {
    const auto found = std::find_if(known.begin(), known.end(), [&text](const Member& m) {
      return m.Variable == text.Variable && m.Position == text.Member;
    });
    if (found == known.end() || NameOf(*found) != text.Name) {
      return fail(QStringLiteral("unknown member %1 \"%2\" of variable %3")
                      .arg(text.Member)
                      .arg(text.Name)
                      .arg(text.Variable));
    }
    if (!seen.insert({text.Variable, text.Member}).second) {
      return fail(QStringLiteral("%1 %2 \"%3\" given twice")
                      .arg(VariableName(text.Variable))
                      .arg(text.Member)
                      .arg(text.Name));
    }
    if (!StoreMemberText(found->Descriptor->Type, text.Value,
                         FieldOf(scratch, found->Descriptor->Offset))) {
      return fail(QStringLiteral("%1 %2 \"%3\": \"%4\" is not a value it can hold")
                      .arg(VariableName(text.Variable))
                      .arg(text.Member)
                      .arg(text.Name)
                      .arg(text.Value));
    }
  }
  for (const Member& member : known) {
    if (seen.count({member.Variable, member.Position}) == 0) {
      return fail(QStringLiteral("%1 %2 \"%3\" is missing")
                      .arg(VariableName(member.Variable))
                      .arg(member.Position)
                      .arg(NameOf(member)));
    }
  }
  values.Service = scratch.Service;
  values.Settings = scratch.Settings;
  return true;
}

std::vector<MemberDifference> SettingsDifferences(const ValueStorage& instrument,
                                                  const ValueStorage& wanted) {
  std::vector<MemberDifference> differences;
  for (const VariableIndex index : BackedUp) {
    const uint8_t variable = VariableDictionary[index].Id;
    for (MemberChange& change : ChangedMembers(variable, instrument, wanted)) {
      differences.push_back({variable, change.Member, std::move(change.Name), std::move(change.Old),
                             std::move(change.New)});
    }
  }
  return differences;
}

SettingsRestore RestoreSettings(DeviceLink& link, const ValueStorage& wanted, bool dryRun) {
  using Outcome = SettingsRestore::Outcome;
  SettingsRestore restore;
  if (link.ReadVariable(IdService) == 0 || link.ReadVariable(IdSettings) == 0) {
    return restore;
  }
  const ValueStorage instrument = link.Values();
  restore.InstrumentType = instrument.Service.DeviceType;
  if (wanted.Service.DeviceType != instrument.Service.DeviceType) {
    restore.Result = Outcome::OtherDevice;
    return restore;
  }
  restore.Differences = SettingsDifferences(instrument, wanted);
  if (restore.Differences.empty()) {
    restore.Result = Outcome::AlreadyEqual;
    return restore;
  }
  if (dryRun) {
    restore.Result = Outcome::DryRun;
    return restore;
  }
  const auto differs = [&restore](uint8_t variable) {
    return std::any_of(restore.Differences.begin(), restore.Differences.end(),
                       [variable](const MemberDifference& d) { return d.Variable == variable; });
  };
  if (differs(IdService)) {
    restore.Service = WriteServiceParameters(link, wanted.Service);
    if (!restore.Service->Written || link.ReadVariable(IdService) == 0) {
      return restore;
    }
  }
  if (differs(IdSettings)) {
    restore.User = WriteUserSettings(link, wanted.Settings);
    if (!restore.User->Written || link.ReadVariable(IdSettings) == 0) {
      return restore;
    }
  }
  restore.Unverified = SettingsDifferences(link.Values(), wanted);
  restore.Result = restore.Unverified.empty() ? Outcome::Restored : Outcome::NotVerified;
  return restore;
}

}  // namespace vantor
