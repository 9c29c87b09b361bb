#include "trace/HopGrid.h"

namespace quillon {

void THopGrid::SetColCount(int count) {
  colCount_ = count < 0 ? 0 : count;
  for (auto& row : cells_) row.resize(static_cast<std::size_t>(colCount_));
}

void THopGrid::SetRowCount(int count) {
  rowCount_ = count < 0 ? 0 : count;
  cells_.resize(static_cast<std::size_t>(rowCount_),
                std::vector<std::string>(static_cast<std::size_t>(colCount_)));
}

const std::string& THopGrid::Cell(int col, int row) const {
  static const std::string empty;
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return empty;
  return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void THopGrid::SetCell(int col, int row, std::string text) {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return;
  cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = std::move(text);
}

}  // namespace quillon
