#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "Dictionary.h"
#include "FixedColumnGrid.h"

namespace vantor {

// The service parameter grid is built from the dictionary: every member of a
// structured variable that has a second name takes one row (name, value), in
// member order; a member without one takes no row, so the rows stay
// contiguous. Nothing else selects or hides rows.

// The members that take rows, for the variable with wire id `id`; empty when
// the id names no structured variable.
std::vector<const MemberDescriptor*> GridMembers(uint8_t id);

// What a fill put in the value column, row by row, and the values it shows.
struct ShownParameters {
  QStringList Texts;
  ValueStorage Values;
};

// Reads one text per row back into the variable. A row whose text is still
// what `shown` says the fill put there gets the value that fill showed, bit
// for bit (a value format need not show a value exactly: 0.05123456 reads
// "0,0512"); any other row is converted. Every row is converted before
// anything is stored, so a text that does not convert (ConversionError,
// thrown for the first such row) leaves `storage` as it was.
void ParseParameterTexts(uint8_t id, const QStringList& texts, ValueStorage& storage,
                         const ShownParameters* shown = nullptr);

// Fills `grid` from the variable's value in `storage`: the first name in
// column 0 (whatever the program's language), the value in column 1. A value
// of a type without a format leaves its cell as it was. The row count becomes
// the number of rows and the height rows x (row height + 1) + 3. Returns
// what the grid now shows.
ShownParameters FillParameterGrid(FixedColumnGrid& grid, uint8_t id, const ValueStorage& storage);

// Column 1 of `grid` back into the variable, as ParseParameterTexts.
void ParseParameterGrid(const FixedColumnGrid& grid, uint8_t id, ValueStorage& storage,
                        const ShownParameters* shown = nullptr);

}  // namespace vantor
