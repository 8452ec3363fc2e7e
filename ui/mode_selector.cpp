// The mode-string chooser of the settings forms.
#include "ui/mode_selector.h"

#include <cstring>

#include "screen/form_grid.h"
#include "ui/cell_fields.h"
#include "ui/tool.h"

namespace tv {

namespace {
// Each kind's cycle, in order; the last value steps back to the first.
const char* Cycle(SelectorKind kind) {
  switch (kind) {
    case SelectorKind::Barring: return "01";
    case SelectorKind::OutgoingControlKind: return "012";
    case SelectorKind::IncomingControlKind: return "012456";
    case SelectorKind::MessageKind: return "012";
  }
  return "0";
}
}  // namespace

std::string ModeValueText(SelectorKind kind, char c) {
  switch (kind) {
    case SelectorKind::Barring: return BarringText(c);
    case SelectorKind::OutgoingControlKind: return OutgoingControlText(c);
    case SelectorKind::IncomingControlKind: return IncomingControlText(c);
    case SelectorKind::MessageKind: return MessageModeText(c);
  }
  return {};
}

char NextModeValue(SelectorKind kind, char c) {
  const char* cycle = Cycle(kind);
  const char* at = c != 0 ? std::strchr(cycle, c) : nullptr;
  if (at == nullptr || at[1] == 0) return cycle[0];
  return at[1];
}

void ShowModeValue(Tool& tool, const FormGrid& grid, int position, SelectorKind kind, uint8_t attr) {
  Screen& screen = tool.screen;
  PlaceGridCursor(screen, grid, 0);
  screen.SetAttribute(attr);
  screen.WriteString(ModeValueText(kind, tool.image.ModeChar(position)).c_str());
  PlaceGridCursor(screen, grid, 0);
  screen.SetAttribute(ColorNormal);
}

void ModeSelector(Tool& tool, FormGrid& grid, int position, SelectorKind kind) {
  ShowModeValue(tool, grid, position, kind, ColorPanel);
  const SimImage::CellState before = tool.image.Cell(ModeCell);
  for (;;) {
    const int k = tool.screen.ReadKeyCode();
    if (k == key::Esc) {
      // The whole text comes back, a zero byte inside it included.
      tool.image.Restore(ModeCell, before);
      break;
    }
    if (k == key::Up || k == key::Down) {
      tool.image.SetModeChar(position, NextModeValue(kind, tool.image.ModeChar(position)));
      ShowModeValue(tool, grid, position, kind, ColorPanel);
    } else if (k == key::Enter) {
      CommitCell(tool, ModeCell, before);  // on failure the cell shows what the SIM holds
      break;
    }
  }
  ShowModeValue(tool, grid, position, kind, ColorNormal);
}

}  // namespace tv
