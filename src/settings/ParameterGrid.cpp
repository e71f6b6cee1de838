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

void ParseParameterTexts(uint8_t id, const QStringList& texts, ValueStorage& storage) {
  ValueStorage scratch = storage;
  const std::vector<const MemberDescriptor*> rows = GridMembers(id);
  for (size_t row = 0; row < rows.size(); ++row) {
    const QString text = row < static_cast<size_t>(texts.size()) ? texts[row] : QString();
    StoreParameter(rows[row]->Type, text, FieldOf(scratch, rows[row]->Offset));
  }
  // Only the members of this variable come back from the scratch copy.
  for (const MemberDescriptor* member : rows) {
    const uint16_t size = TypeSize(member->Type, FieldOf(scratch, member->Offset),
                                   sizeof(ValueStorage) - member->Offset);
    std::memcpy(FieldOf(storage, member->Offset), FieldOf(scratch, member->Offset), size);
  }
}

void FillParameterGrid(FixedColumnGrid& grid, uint8_t id, const ValueStorage& storage) {
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
}

void ParseParameterGrid(const FixedColumnGrid& grid, uint8_t id, ValueStorage& storage) {
  QStringList texts;
  for (int row = 0; row < grid.rowCount(); ++row) {
    texts.append(grid.Cell(1, row));
  }
  ParseParameterTexts(id, texts, storage);
}

}  // namespace vantor
