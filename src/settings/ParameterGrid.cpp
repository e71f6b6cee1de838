#include "ParameterGrid.h"

#include <cstring>

#include "SettingsText.h"
#include "TypeCodes.h"

namespace vantor {
namespace {

const VariableDescriptor* StructById(uint8_t id) {
  for (const VariableDescriptor& entry : VariableDictionary) {
    if (entry.Id == id && entry.Type == TypeStruct && entry.Members != nullptr) {
      return &entry;
    }
  }
  return nullptr;
}

// Column 1 of every row.
QStringList ValueTexts(const FixedColumnGrid& grid) {
  QStringList texts;
  for (int row = 0; row < grid.rowCount(); ++row) {
    texts.append(grid.Cell(1, row));
  }
  return texts;
}

}  // namespace

std::vector<const MemberDescriptor*> GridMembers(uint8_t id) {
  std::vector<const MemberDescriptor*> rows;
  if (const VariableDescriptor* entry = StructById(id)) {
    for (int m = 0; m < entry->MemberCount; ++m) {
      if (entry->Members[m].EnglishName != nullptr) {
        rows.push_back(&entry->Members[m]);
      }
    }
  }
  return rows;
}

void ParseParameterTexts(uint8_t id, const QStringList& texts, ValueStorage& storage,
                         const ShownParameters* shown) {
  ValueStorage scratch = storage;
  const std::vector<const MemberDescriptor*> rows = GridMembers(id);
  const auto sizeOf = [](const ValueStorage& values, const MemberDescriptor& member) {
    return TypeSize(member.Type, FieldOf(values, member.Offset),
                    sizeof(ValueStorage) - member.Offset);
  };
  for (size_t row = 0; row < rows.size(); ++row) {
    const MemberDescriptor& member = *rows[row];
    const auto index = static_cast<qsizetype>(row);
    const QString text = index < texts.size() ? texts[index] : QString();
    if (shown != nullptr && index < shown->Texts.size() && text == shown->Texts[index]) {
      std::memcpy(FieldOf(scratch, member.Offset), FieldOf(shown->Values, member.Offset),
                  sizeOf(shown->Values, member));
    } else {
      StoreParameter(member.Type, text, FieldOf(scratch, member.Offset));
    }
  }
  // Only the members of this variable come back from the scratch copy.
  for (const MemberDescriptor* member : rows) {
    std::memcpy(FieldOf(storage, member->Offset), FieldOf(scratch, member->Offset),
                sizeOf(scratch, *member));
  }
}

ShownParameters FillParameterGrid(FixedColumnGrid& grid, uint8_t id, const ValueStorage& storage) {
  const std::vector<const MemberDescriptor*> rows = GridMembers(id);
  grid.SetRowCount(static_cast<int>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    const MemberDescriptor& member = *rows[i];
    const int row = static_cast<int>(i);
    grid.SetCell(0, row,
                 QString::fromUtf8(member.RussianName != nullptr ? member.RussianName : ""));
    if (auto text = ParameterText(member.Type, FieldOf(storage, member.Offset),
                                  sizeof(ValueStorage) - member.Offset)) {
      grid.SetCell(1, row, *text);
    }
  }
  grid.resize(grid.width(), grid.rowCount() * (grid.DefaultRowHeight() + 1) + 3);
  grid.setVisible(true);
  return {ValueTexts(grid), storage};
}

void ParseParameterGrid(const FixedColumnGrid& grid, uint8_t id, ValueStorage& storage,
                        const ShownParameters* shown) {
  ParseParameterTexts(id, ValueTexts(grid), storage, shown);
}

}  // namespace vantor
