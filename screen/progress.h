// The per-cell progress line of the transfers that run over all SIM cells:
// a percentage at column 31 and a bar of 33 shades from column 40 that fills
// one block per step.
#pragma once

namespace tv {

class Screen;

void StartProgress(Screen& screen, int row);
// After the transfer of cell 1..99.
void AdvanceProgress(Screen& screen, int row, int cell);

}  // namespace tv
