#include "FixedColumnGrid.h"

#include <QHeaderView>

namespace vantor {
namespace {

constexpr int GridLine = 1;
constexpr int BorderWidth = 2;

}  // namespace

FixedColumnGrid::FixedColumnGrid(int columns, int rows, int defaultRowHeight, QWidget* parent)
    : QTableWidget(rows, columns, parent), defaultRowHeight_(defaultRowHeight) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(BorderWidth);
  // Sized to their rows by design: nothing to scroll.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(defaultRowHeight + GridLine);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // Arrows move within the grid; Tab goes on to the next control.
  setTabKeyNavigation(false);
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

void FixedColumnGrid::SetColumnWidth(int column, int width) {
  setColumnWidth(column, width + GridLine);
}

void FixedColumnGrid::FitLastRow() {
  const int rows = rowCount();
  if (rows == 0) {
    return;
  }
  const int pitch = defaultRowHeight_ + GridLine;
  const bool tight = rows * pitch - contentsRect().height() == GridLine;
  setRowHeight(rows - 1, tight ? defaultRowHeight_ : pitch);
}

void FixedColumnGrid::resizeEvent(QResizeEvent* event) {
  QTableWidget::resizeEvent(event);
  FitLastRow();
}

void FixedColumnGrid::PrepareRows(int first) {
  const QBrush fixedShade = palette().button();
  for (int row = first; row < rowCount(); ++row) {
    setRowHeight(row, defaultRowHeight_ + GridLine);
    for (int column = 0; column < columnCount(); ++column) {
      auto* cell = new QTableWidgetItem;
      if (column == 0) {
        cell->setFlags(Qt::ItemIsEnabled);
        cell->setBackground(fixedShade);
      }
      setItem(row, column, cell);
    }
  }
  FitLastRow();
}

}  // namespace vantor
