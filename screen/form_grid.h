// Forms are grids of fixed fields: columns and rows of screen positions with
// one current field, moved by the arrow keys (no wrap-around).
#pragma once

#include <vector>

namespace tv {

class Screen;

struct FormGrid {
  int column = 1;       // current column, 1-based
  int row = 1;          // current row, 1-based
  std::vector<int> xs;  // screen column of each grid column
  std::vector<int> ys;  // screen row of each grid row

  int ColumnCount() const { return static_cast<int>(xs.size()); }
  int RowCount() const { return static_cast<int>(ys.size()); }
  int X() const { return xs[column - 1]; }
  int Y() const { return ys[row - 1]; }
};

// Moves the current field with the arrows until a key that the form handles:
// returns Esc, Enter, Tab, or the scan code of any other extended key
// (PgUp 0x49, PgDn 0x51, F10 0x44, Delete 0x53). Other characters are ignored.
int NavigateGrid(Screen& screen, FormGrid& grid);
// Puts the cursor on the current field, offset columns to its right (a
// negative offset reaches a label left of the field).
void PlaceGridCursor(Screen& screen, const FormGrid& grid, int offset);

}  // namespace tv
