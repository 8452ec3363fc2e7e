// The phonebook editor (contact numbers, cells 1..39, on one screen) and the
// whole-book view (number and name of every cell 1..99, 25 cells a page).
#include <string_view>

#include "core/settings_model.h"
#include "screen/form_grid.h"
#include "ui/cell_fields.h"
#include "ui/commands.h"
#include "ui/exchange_error.h"
#include "ui/status_area.h"
#include "ui/tool.h"

namespace tv {

namespace {

constexpr int NumberWidth = ContactNumberWidth;

bool HasImage(Tool& tool) {
  if (tool.state.deviceConnected || tool.state.fileLoaded) return true;
  ShowExchangeError(tool.screen, xerr::NoPort);
  return false;
}

// --- phonebook editor -------------------------------------------------------
//
//  row 2:   title at column 27
//  row 3:   80 double lines
//  rows 4..23: "Конт. 01" at 1, number at 10..39 | "Конт. 21" at 41, number at 50..79
//  row 24:  80 double lines
struct PhonebookLayout {
  int titleX = 27, titleY = 2;
  const char* title = "Записная книжка устройства"_cp;
  int lineRows[2] = {3, 24};
  const char* label = "Конт. %02d"_cp;
  int labelOffset = -9;  // the label stands 9 columns left of its field
  int helpTopic = 1;
};
constexpr PhonebookLayout kPhonebook;

FormGrid PhonebookGrid() {
  FormGrid grid{1, 1, {10, 50}, {}};
  for (int y = 4; y <= 23; ++y) grid.ys.push_back(y);
  return grid;
}

int PhonebookCell(const FormGrid& grid) { return (grid.column - 1) * grid.RowCount() + grid.row; }
// Column 2, row 20 would be cell 40, the first forbidden-dialling entry.
bool IsContactField(const FormGrid& grid) { return PhonebookCell(grid) <= ContactLast; }

void DrawPhonebook(Tool& tool, FormGrid& grid) {
  Screen& screen = tool.screen;
  screen.ClearScreen();
  DrawStatusArea(tool, ColorPanel);
  screen.PutText(kPhonebook.titleX, kPhonebook.titleY, kPhonebook.title);
  for (int y : kPhonebook.lineRows) {
    screen.SetCursor(1, y);
    for (int x = 1; x <= ScreenWidth; ++x) screen.WriteChar(line::DoubleHorizontal);
  }
  for (grid.column = 1; grid.column <= grid.ColumnCount(); ++grid.column)
    for (grid.row = 1; grid.row <= grid.RowCount(); ++grid.row) {
      if (!IsContactField(grid)) continue;
      PlaceGridCursor(screen, grid, kPhonebook.labelOffset);
      screen.WriteFormatted(kPhonebook.label, PhonebookCell(grid));
      ShowNumberField(tool, grid, PhonebookCell(grid), NumberWidth, ColorNormal);
    }
  grid.column = 1;
  grid.row = 1;
}

// --- whole-book view --------------------------------------------------------
//
//  every row 1..25: "Контакт 01" at 1, number at 12..41, "Имя" at 44, name at 48..79
struct BookLayout {
  int labelX = 1;
  const char* label = "Контакт %02d"_cp;
  int nameLabelX = 44;
  const char* nameLabel = "Имя"_cp;
  int numberHelpTopic = 2, nameHelpTopic = 3;
};
constexpr BookLayout kBook;

// The pages start at these cells; the last one starts at 75 so that it has
// 25 rows as well (cell 75 is on the third and the fourth page).
constexpr int PageStarts[] = {1, 26, 51, 75};
constexpr int PageCount = 4;

FormGrid BookGrid() {
  FormGrid grid{1, 1, {12, 48}, {}};
  for (int y = 1; y <= 25; ++y) grid.ys.push_back(y);
  return grid;
}

// Rewrites every label and field of the page over the previous one.
void DrawBookPage(Tool& tool, FormGrid& grid, int pageStart) {
  Screen& screen = tool.screen;
  for (grid.row = 1; grid.row <= grid.RowCount(); ++grid.row) {
    const int cell = pageStart + grid.row - 1;
    screen.SetCursor(kBook.labelX, grid.Y());
    screen.WriteFormatted(kBook.label, cell);
    screen.PutText(kBook.nameLabelX, grid.Y(), kBook.nameLabel);
    grid.column = 1;
    ShowNumberField(tool, grid, cell, NumberWidth, ColorNormal);
    grid.column = 2;
    ShowNameField(tool, grid, cell, ColorNormal);
  }
}

}  // namespace

void PhonebookEditor(Tool& tool) {
  if (!HasImage(tool)) return;
  FormGrid grid = PhonebookGrid();
  DrawPhonebook(tool, grid);
  for (;;) {
    const int k = NavigateGrid(tool.screen, grid);
    if (k == key::Esc) return;
    if (k == key::Enter && IsContactField(grid)) {
      EditNumberField(tool, grid, PhonebookCell(grid), NumberWidth);
    } else if (key::IsHelp(k)) {
      ShowHelpTopic(tool.screen, tool.help, kPhonebook.helpTopic);
    }
    // Tab, PgUp, PgDn and Delete are ignored.
  }
}

void WholeBookView(Tool& tool) {
  if (!HasImage(tool)) return;
  FormGrid grid = BookGrid();
  int page = 0;
  tool.screen.ClearScreen();
  DrawBookPage(tool, grid, PageStarts[page]);
  grid.column = 1;
  grid.row = 1;
  for (;;) {
    const int k = NavigateGrid(tool.screen, grid);
    if (k == key::Esc) return;
    const int cell = PageStarts[page] + grid.row - 1;
    switch (k) {
      case key::Enter:
        if (grid.column == 1)
          EditNumberField(tool, grid, cell, NumberWidth);
        else
          EditNameField(tool, grid, cell);
        break;
      case key::PgDn:
        if (page < PageCount - 1) DrawBookPage(tool, grid, PageStarts[++page]);
        grid.column = 1;
        grid.row = grid.RowCount();
        break;
      case key::PgUp:
        if (page > 0) DrawBookPage(tool, grid, PageStarts[--page]);
        grid.column = 1;
        grid.row = 1;
        break;
      case key::F1:
      case key::F10:
        ShowHelpTopic(tool.screen, tool.help, grid.column == 1 ? kBook.numberHelpTopic : kBook.nameHelpTopic);
        break;
      default: break;  // Tab, Delete and other keys are ignored
    }
  }
}

}  // namespace tv
