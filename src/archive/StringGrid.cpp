#include "StringGrid.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QStyleOptionHeader>
#include <algorithm>

namespace vantor {

// Grid row r (r >= 1) is model row r - 1; grid column 0 is the vertical
// header, grid columns 1..3 are model columns 0..2.
class StringGridModel : public QAbstractTableModel {
 public:
  explicit StringGridModel(QObject* parent) : QAbstractTableModel(parent) { cells_.resize(1); }

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(cells_.size()) - 1;
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : StringGrid::ColumnCount - 1;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) {
      return {};
    }
    return cells_[static_cast<size_t>(index.row()) + 1][static_cast<size_t>(index.column()) + 1];
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole) {
      return {};
    }
    if (orientation == Qt::Vertical) {
      return Cell(0, section + 1);
    }
    return Cell(section + 1, 0);
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }

  int GridRows() const { return static_cast<int>(cells_.size()); }

  void SetGridRows(int rows) {
    rows = std::max(rows, 1);
    if (rows == GridRows()) {
      return;
    }
    beginResetModel();
    cells_.resize(static_cast<size_t>(rows));
    endResetModel();
    dirty_ = false;
  }

  QString Cell(int column, int row) const {
    if (row < 0 || row >= GridRows() || column < 0 || column >= StringGrid::ColumnCount) {
      return {};
    }
    return cells_[static_cast<size_t>(row)][static_cast<size_t>(column)];
  }

  void SetCell(int column, int row, const QString& text) {
    if (row < 0 || row >= GridRows() || column < 0 || column >= StringGrid::ColumnCount) {
      return;
    }
    cells_[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
    if (batch_ > 0) {
      dirty_ = true;
      return;
    }
    Announce(column, row, row);
  }

  void ClearColumns(int first, int last) {
    for (size_t r = 1; r < cells_.size(); ++r) {
      for (int c = std::max(first, 0); c <= std::min(last, StringGrid::ColumnCount - 1); ++c) {
        cells_[r][static_cast<size_t>(c)].clear();
      }
    }
    if (batch_ > 0) {
      dirty_ = true;
      return;
    }
    AnnounceAll();
  }

  void Begin() { ++batch_; }
  void End() {
    if (batch_ > 0 && --batch_ == 0 && dirty_) {
      dirty_ = false;
      AnnounceAll();
    }
  }

 private:
  void Announce(int column, int firstRow, int lastRow) {
    if (column == 0) {
      emit headerDataChanged(Qt::Vertical, firstRow - 1, lastRow - 1);
    } else if (firstRow == 0) {
      emit headerDataChanged(Qt::Horizontal, column - 1, column - 1);
    } else {
      emit dataChanged(index(firstRow - 1, column - 1), index(lastRow - 1, column - 1));
    }
  }
  void AnnounceAll() {
    if (GridRows() > 1) {
      emit headerDataChanged(Qt::Vertical, 0, GridRows() - 2);
      emit dataChanged(index(0, 0), index(GridRows() - 2, columnCount() - 1));
    }
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
  }

  std::vector<std::array<QString, StringGrid::ColumnCount>> cells_;
  int batch_ = 0;
  bool dirty_ = false;
};

namespace {

// The fixed column: the style draws each section's shade and frame, and the
// record number goes where the texts of its row go: centred in the row above
// its grid line, on whole pixels as an item view places a row's text. The
// style's own header label stood a pixel or two lower.
class FixedColumnHeader : public QHeaderView {
 public:
  explicit FixedColumnHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
    if (!rect.isValid()) {
      return;
    }
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = rect;
    option.section = logicalIndex;
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    const QRect label = style()->subElementRect(QStyle::SE_HeaderLabel, &option, this);
    const QRect row(label.left(), rect.top(), label.width(), rect.height() - GridLine);
    const QFontMetrics metrics(font());
    const QRect line = QStyle::alignedRect(layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter,
                                           QSize(row.width(), metrics.height()), row);
    painter->save();
    painter->setPen(option.palette.color(QPalette::ButtonText));
    painter->drawText(line.left(), line.top() + metrics.ascent(),
                      model()->headerData(logicalIndex, orientation()).toString());
    painter->restore();
  }

 private:
  static constexpr int GridLine = 1;
};

}  // namespace

StringGrid::StringGrid(QWidget* parent) : QTableView(parent), model_(new StringGridModel(this)) {
  setVerticalHeader(new FixedColumnHeader(this));
  setModel(model_);
  setCornerButtonEnabled(false);
  setWordWrap(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Arrows move within the grid; Tab goes on to the next control.
  setTabKeyNavigation(false);
  for (QHeaderView* header : {horizontalHeader(), verticalHeader()}) {
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setMinimumSectionSize(1);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  }
  verticalHeader()->setTextElideMode(Qt::ElideNone);
  SetDefaultRowHeight(16);
}

StringGrid::~StringGrid() = default;

int StringGrid::RowCount() const {
  return model_->GridRows();
}
void StringGrid::SetRowCount(int rows) {
  model_->SetGridRows(rows);
  // A model reset lays the header sections out anew.
  for (int c = 1; c < ColumnCount; ++c) {
    horizontalHeader()->resizeSection(c - 1, widths_[static_cast<size_t>(c)]);
  }
}
QString StringGrid::Cell(int column, int row) const {
  return model_->Cell(column, row);
}
void StringGrid::SetCell(int column, int row, const QString& text) {
  model_->SetCell(column, row, text);
}
void StringGrid::ClearColumns(int firstColumn, int lastColumn) {
  model_->ClearColumns(firstColumn, lastColumn);
}

void StringGrid::SetColumnWidth(int column, int width) {
  if (column == 0) {
    verticalHeader()->setFixedWidth(width);
  } else {
    horizontalHeader()->resizeSection(column - 1, width);
  }
  if (column >= 0 && column < ColumnCount) {
    widths_[static_cast<size_t>(column)] = width;
  }
}

void StringGrid::SetDefaultRowHeight(int height) {
  verticalHeader()->setDefaultSectionSize(height);
  horizontalHeader()->setFixedHeight(height);
}

void StringGrid::BeginUpdate() {
  model_->Begin();
}
void StringGrid::EndUpdate() {
  model_->End();
}

}  // namespace vantor
