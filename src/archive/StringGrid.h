#pragma once
#include <QAbstractTableModel>
#include <QTableView>
#include <array>
#include <vector>

namespace vantor {

class StringGridModel;

// A grid of texts addressed as Cell(column, row), with one fixed row (row 0)
// and one fixed column (column 0) that stay in place while the rest scrolls.
// The fixed row and column are drawn as the view's headers, so the record
// numbers of column 0 stay visible; row 0 is the empty header row.
class StringGrid : public QTableView {
  Q_OBJECT

 public:
  static constexpr int ColumnCount = 4;

  explicit StringGrid(QWidget* parent = nullptr);
  ~StringGrid() override;

  int RowCount() const;
  void SetRowCount(int rows);  // at least 1: the fixed row
  QString Cell(int column, int row) const;
  void SetCell(int column, int row, const QString& text);
  // Empties columns [firstColumn, lastColumn] of every row below the fixed row.
  void ClearColumns(int firstColumn, int lastColumn);
  void SetColumnWidth(int column, int width);
  void SetDefaultRowHeight(int height);

  // Between these, cell changes are collected and shown in one go, so a
  // page of a thousand rows repaints once rather than once per cell.
  void BeginUpdate();
  void EndUpdate();

 private:
  StringGridModel* model_;
  std::array<int, ColumnCount> widths_{64, 64, 64, 64};
};

}  // namespace vantor
