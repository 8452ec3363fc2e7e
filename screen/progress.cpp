// Progress line: "%3d%%" at column 31 and a block at column 40 + cell / 3.
#include "screen/progress.h"

#include "screen/screen.h"

namespace tv {

void StartProgress(Screen& screen, int row) {
  screen.SetCursor(40, row);
  for (int i = 0; i < 33; ++i) screen.WriteChar(line::LightShade);
}

void AdvanceProgress(Screen& screen, int row, int cell) {
  screen.SetCursor(31, row);
  screen.WriteFormatted("%3d%%", cell + 1);
  screen.SetCursor(40 + cell / 3, row);
  screen.WriteChar(line::FullBlock);
}

}  // namespace tv
