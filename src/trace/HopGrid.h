// The hop grid's cell texts: the only state the grid holds apart from the two
// time figures kept by the main window.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// What the grid shows: the route as one round found it (six columns), or each
// hop's statistics over every round so far, in the same total width.
enum class TGridView { gvRoute, gvStatistics };

class THopGrid {
 public:
  int ColCount() const { return colCount_; }
  int RowCount() const { return rowCount_; }
  void SetColCount(int count);
  // Rows beyond the new count vanish; new rows start empty.
  void SetRowCount(int count);
  // Empty text for a cell outside the grid.
  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string text);

  static constexpr int DefaultRowHeight = 15;
  static constexpr int ColWidths[6] = {26, 90, 191, 40, 32, 96};
  // The statistics view's nine columns, as wide in all as the route view's six.
  static constexpr int StatisticsColWidths[9] = {26, 181, 44, 34, 38, 38, 38, 38, 38};
  // Pixels between a cell's left edge and its text.
  static constexpr int TextInset = 2;

 private:
  int colCount_ = 0;
  int rowCount_ = 0;
  std::vector<std::vector<std::string>> cells_;  // [row][col]
};

}  // namespace quillon
