// Moving the current field of a form with the arrow keys.
#include "screen/form_grid.h"

#include "screen/keys.h"
#include "screen/screen.h"

namespace tv {

void PlaceGridCursor(Screen& screen, const FormGrid& grid, int offset) {
  screen.SetCursor(grid.X() + offset, grid.Y());
}

int NavigateGrid(Screen& screen, FormGrid& grid) {
  for (;;) {
    PlaceGridCursor(screen, grid, 0);
    const int k = screen.ReadKey();
    if (k == key::Esc || k == key::Enter || k == key::Tab) return k;
    if (k != key::Prefix) continue;  // plain characters do not move anything
    switch (const int scan = screen.ReadKey()) {
      case key::Left:
        if (grid.column > 1) --grid.column;
        break;
      case key::Right:
        if (grid.column < grid.ColumnCount()) ++grid.column;
        break;
      case key::Up:
        if (grid.row > 1) --grid.row;
        break;
      case key::Down:
        if (grid.row < grid.RowCount()) ++grid.row;
        break;
      default: return scan;
    }
  }
}

}  // namespace tv
