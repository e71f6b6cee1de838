#include "FixedColumnGrid.h"

#include <QHeaderView>

namespace vantor {

FixedColumnGrid::FixedColumnGrid(int columns, int rows, int defaultRowHeight, QWidget* parent)
    : QTableWidget(rows, columns, parent), defaultRowHeight_(defaultRowHeight) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(defaultRowHeight);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  PrepareRows(0);
}

QString FixedColumnGrid::Cell(int column, int row) const {
  const QTableWidgetItem* cell = item(row, column);
  return cell != nullptr ? cell->text() : QString();
}

void FixedColumnGrid::SetCell(int column, int row, const QString& text) {
  if (QTableWidgetItem* cell = item(row, column)) {
    cell->setText(text);
  }
}

void FixedColumnGrid::SetRowCount(int rows) {
  const int old = rowCount();
  setRowCount(rows);
  PrepareRows(old);
}

void FixedColumnGrid::PrepareRows(int first) {
  const QBrush fixedShade = palette().button();
  for (int row = first; row < rowCount(); ++row) {
    setRowHeight(row, defaultRowHeight_);
    for (int column = 0; column < columnCount(); ++column) {
      auto* cell = new QTableWidgetItem;
      if (column == 0) {
        cell->setFlags(Qt::ItemIsEnabled);
        cell->setBackground(fixedShade);
      }
      setItem(row, column, cell);
    }
  }
}

}  // namespace vantor
