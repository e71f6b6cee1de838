#pragma once
#include <QTableWidget>

namespace vantor {

// A text grid without headers whose first column is fixed: shaded, neither
// editable nor selectable, as the names beside the values. Cells are
// addressed column first, as the page's code reads them.
//
// Sizes are the design's: a row of the default height or a column of the
// given width is followed by a 1-pixel grid line (Qt counts the line inside
// the section), within a 2-pixel sunken border, so a grid sized by the design
// is filled edge to edge. A grid one pixel short of its last grid line (the
// service grid's rows x 21 + 3) drops that line rather than scroll.
class FixedColumnGrid : public QTableWidget {
  Q_OBJECT

 public:
  FixedColumnGrid(int columns, int rows, int defaultRowHeight, QWidget* parent = nullptr);

  QString Cell(int column, int row) const;
  void SetCell(int column, int row, const QString& text);
  // Changes the row count; new rows get cells of their column's kind.
  void SetRowCount(int rows);
  // Width of a column without its grid line.
  void SetColumnWidth(int column, int width);
  int DefaultRowHeight() const { return defaultRowHeight_; }

 private:
  void PrepareRows(int first);
  void FitLastRow();
  void resizeEvent(QResizeEvent* event) override;

  int defaultRowHeight_;
};

}  // namespace vantor
