#include "MemberChanges.h"

#include <cmath>
#include <cstring>

#include "Csv.h"
#include "Dictionary.h"
#include "Windows1251.h"

namespace vantor {
namespace {

template <class T>
T Load(const uint8_t* field) {
  T value{};
  std::memcpy(&value, field, sizeof value);
  return value;
}

}  // namespace

QString MemberValueText(uint8_t type, const uint8_t* field, size_t available) {
  switch (type) {
    case TypeInt8:
      return QString::number(Load<uint8_t>(field));
    case TypeSignedInt8:
      return QString::number(Load<int8_t>(field));
    case TypeInt16:
      return QString::number(Load<uint16_t>(field));
    case TypeSignedInt16:
      return QString::number(Load<int16_t>(field));
    case TypeInt32:
      return QString::number(Load<int32_t>(field));
    case TypeFloat: {
      const float value = Load<float>(field);
      if (std::isfinite(value)) {
        return DotNumber(value);
      }
      return QStringLiteral("0x") + QString::number(Load<uint32_t>(field), 16)
                                        .rightJustified(8, QLatin1Char('0'))
                                        .toUpper();
    }
    case TypeText:
      return FromWindows1251(reinterpret_cast<const char*>(field), available);
    default:
      return QString::fromLatin1(
          QByteArray(reinterpret_cast<const char*>(field),
                     static_cast<qsizetype>(TypeSize(type, field, available)))
              .toHex());
  }
}

QString MemberName(const MemberDescriptor& member, int position) {
  return member.RussianName != nullptr ? QString::fromUtf8(member.RussianName)
                                       : QStringLiteral("#%1").arg(position);
}

std::vector<MemberChange> ChangedMembers(uint8_t variableId, const ValueStorage& before,
                                         const ValueStorage& after) {
  std::vector<MemberChange> changes;
  if (variableId != IdService && variableId != IdSettings) {
    return changes;
  }
  for (const VariableDescriptor& variable : VariableDictionary) {
    if (variable.Id != variableId || variable.Type != TypeStruct) {
      continue;
    }
    for (int i = 0; i < variable.MemberCount; ++i) {
      const MemberDescriptor& member = variable.Members[i];
      const uint8_t* old = FieldOf(before, member.Offset);
      const uint8_t* now = FieldOf(after, member.Offset);
      const size_t available = sizeof(ValueStorage) - member.Offset;
      const uint16_t size = TypeSize(member.Type, old, available);
      // Compared as bytes, so a NaN that stays the same bits is no change.
      if (size == TypeSize(member.Type, now, available) && std::memcmp(old, now, size) == 0) {
        continue;
      }
      MemberChange change;
      change.Member = i;
      change.Name = MemberName(member, i);
      change.Old = MemberValueText(member.Type, old, available);
      change.New = MemberValueText(member.Type, now, available);
      changes.push_back(change);
    }
  }
  return changes;
}

}  // namespace vantor
