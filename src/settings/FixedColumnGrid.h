#pragma once
#include <QTableWidget>

namespace vantor {

// A text grid without headers whose first column is fixed: shaded, neither
// editable nor selectable, as the names beside the values. Cells are
// addressed column first, as the page's code reads them.
class FixedColumnGrid : public QTableWidget {
  Q_OBJECT

 public:
  FixedColumnGrid(int columns, int rows, int defaultRowHeight, QWidget* parent = nullptr);

  QString Cell(int column, int row) const;
  void SetCell(int column, int row, const QString& text);
  // Changes the row count; new rows get cells of their column's kind.
  void SetRowCount(int rows);
  int DefaultRowHeight() const { return defaultRowHeight_; }

 private:
  void PrepareRows(int first);

  int defaultRowHeight_;
};

}  // namespace vantor
