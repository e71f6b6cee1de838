#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <utility>

#include "StringGrid.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

// First and last pixel row of dark ink in `area` of `image`; {-1, -1} when
// there is none.
std::pair<int, int> InkRows(const QImage& image, const QRect& area) {
  std::pair<int, int> rows{-1, -1};
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (qGray(image.pixel(x, y)) < 100) {
        rows.first = rows.first < 0 ? y : rows.first;
        rows.second = y;
        break;
      }
    }
  }
  return rows;
}

TEST(StringGrid, RecordNumbersStandLevelWithTheTextsOfTheirRow) {
  test::EnsureApplication();
  StringGrid grid;
  grid.resize(384, 120);
  const int widths[StringGrid::ColumnCount] = {35, 74, 114, 137};
  for (int c = 0; c < StringGrid::ColumnCount; ++c) {
    grid.SetColumnWidth(c, widths[c]);
  }
  grid.SetDefaultRowHeight(16);
  grid.SetRowCount(4);
  for (int row = 1; row < 4; ++row) {
    grid.SetCell(0, row, "8");
    grid.SetCell(1, row, "8");
  }
  grid.show();
  QApplication::processEvents();
  const QImage image = grid.grab().toImage();

  const QRect header = grid.verticalHeader()->geometry();
  const QRect cells = grid.viewport()->geometry();
  for (int row = 1; row < 4; ++row) {
    SCOPED_TRACE(row);
    const int top = cells.top() + grid.rowViewportPosition(row - 1);
    const auto number = InkRows(image, QRect(header.left() + 2, top, header.width() - 4, 15));
    const auto text = InkRows(image, QRect(cells.left() + 2, top, widths[1] - 4, 15));
    ASSERT_GE(text.first, top);
    EXPECT_EQ(number, text);
  }
}

}  // namespace
}  // namespace vantor
