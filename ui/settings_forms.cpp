// The outgoing-call and incoming-call settings forms: three lists of number
// cells and the mode positions of cell 98 on one framed screen, e.g. for the
// outgoing form
//   Запрещенный набор       Разрешенный набор
//   40 0951234              50 8495
//   ...
//   Связь: . . . . . . . .  Разрешена
//   Контроль:. . . . . . .  Запрещенные номера
#include "ui/settings_forms.h"

#include <vector>

#include "core/settings_model.h"
#include "screen/form_grid.h"
#include "ui/cell_fields.h"
#include "ui/exchange_error.h"
#include "ui/mode_selector.h"
#include "ui/status_area.h"
#include "ui/tool.h"

namespace tv {

namespace {

// Both forms share one grid: 3 columns; rows 1-10 are the lists, 11-13 the
// mode positions.
FormGrid SettingsGrid() {
  return FormGrid{1, 1, {12, 36, 60}, {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 20, 21, 22}};
}
constexpr int LabelOffset = -4;  // the cell index stands four columns left of its field

struct FixedText {
  int x, y;
  const char* text;
};

// A list of number cells in one grid column.
struct CellList {
  int column;
  int firstCell;  // the cell of row 1
  int rows;       // rows shown, from row 1
  int helpTopic;
};

// A mode position in column 2 of one of the rows 11-13.
struct ModeRow {
  int row;
  int position;
  SelectorKind kind;
  int helpTopic;
};

struct SettingsForm {
  std::vector<FixedText> texts;
  std::vector<CellList> lists;
  int fieldWidth;
  std::vector<ModeRow> modes;
};

const SettingsForm& OutgoingForm() {
  static const SettingsForm form{
      {
          {30, 2, " Исходящая связь "_cp},
          {4, 4, "Запрещенный набор"_cp},
          {4, 6, "Контакт Номер"_cp},
          {28, 4, "Разрешенный набор"_cp},
          {28, 6, "Контакт Номер"_cp},
          {8, 20, "Связь: . . . . . . . . . ."_cp},
          {8, 21, "Контроль:. . . . . . . . ."_cp},
      },
      {{1, ForbiddenFirst, 10, 10}, {2, AllowedFirst, 10, 11}},
      OutgoingListWidth,
      {{11, OutgoingBarring, SelectorKind::Barring, 13},
       {12, OutgoingControl, SelectorKind::OutgoingControlKind, 14}},
  };
  return form;
}

const SettingsForm& IncomingForm() {
  static const SettingsForm form{
      {
          {30, 2, " Входящая связь "_cp},
          {4, 4, "Черный список"_cp},
          {4, 6, "Контакт Номер"_cp},
          {28, 4, "Белый список"_cp},
          {28, 6, "Контакт Номер"_cp},
          {52, 4, "Обратный вызов"_cp},
          {52, 6, "Контакт Номер"_cp},
          {8, 20, "Связь: . . . . . . . . . ."_cp},
          {8, 21, "Контроль:. . . . . . . . ."_cp},
          {8, 22, "Сообщение: . . . . . . . ."_cp},
      },
      // Column 3 stops at cell 97: cells 98 and 99 are not listed here.
      {{1, BlackListFirst, 10, 30}, {2, WhiteListFirst, 10, 31}, {3, CallBackFirst, 8, 32}},
      IncomingListWidth,
      {{11, IncomingBarring, SelectorKind::Barring, 33},
       {12, IncomingControl, SelectorKind::IncomingControlKind, 34},
       {13, MessageMode, SelectorKind::MessageKind, 35}},
  };
  return form;
}

constexpr int ModeColumn = 2;

void DrawForm(Tool& tool, const SettingsForm& form, FormGrid& grid) {
  Screen& screen = tool.screen;
  screen.ClearScreen();
  DrawStatusArea(tool, ColorPanel);
  screen.DrawFrame(2, 2, 78, 24, line::DoubleHorizontal);
  for (const FixedText& t : form.texts) screen.PutText(t.x, t.y, t.text);
  for (const CellList& list : form.lists) {
    for (int r = 1; r <= list.rows; ++r) {
      grid.column = list.column;
      grid.row = r;
      const int cell = list.firstCell + r - 1;
      PlaceGridCursor(screen, grid, LabelOffset);
      screen.WriteFormatted("%2d", cell);
      ShowNumberField(tool, grid, cell, form.fieldWidth, ColorNormal);
    }
  }
  for (const ModeRow& mode : form.modes) {
    grid.column = ModeColumn;
    grid.row = mode.row;
    ShowModeValue(tool, grid, mode.position, mode.kind, ColorNormal);
  }
  grid.column = 1;
  grid.row = 1;
}

const CellList* ListAt(const SettingsForm& form, const FormGrid& grid) {
  for (const CellList& list : form.lists)
    if (grid.column == list.column && grid.row <= list.rows) return &list;
  return nullptr;
}

const ModeRow* ModeAt(const SettingsForm& form, const FormGrid& grid) {
  if (grid.column != ModeColumn) return nullptr;
  for (const ModeRow& mode : form.modes)
    if (grid.row == mode.row) return &mode;
  return nullptr;
}

bool HasField(const SettingsForm& form, const FormGrid& grid) {
  return ListAt(form, grid) != nullptr || ModeAt(form, grid) != nullptr;
}

bool HasField(const SettingsForm& form, FormGrid grid, int column, int row) {
  grid.column = column;
  grid.row = row;
  return HasField(form, grid);
}

// Draws the current field in the attribute: the focus, or normal again.
void ShowCurrentField(Tool& tool, const SettingsForm& form, const FormGrid& grid, uint8_t attr) {
  if (const CellList* list = ListAt(form, grid))
    ShowNumberField(tool, grid, list->firstCell + grid.row - 1, form.fieldWidth, attr);
  else if (const ModeRow* mode = ModeAt(form, grid))
    ShowModeValue(tool, grid, mode->position, mode->kind, attr);
}

// An arrow moves the focus to the next field in its direction; the grid's
// positions where the form shows nothing (the labels of the mode rows, the
// short third column) are passed over, so that Enter always has a field to
// act on. Up and Down keep the column where it has a field further on, else
// go to the nearest field of the next row that has one. No wrap-around.
void StepFocus(const SettingsForm& form, FormGrid& grid, int scan) {
  const int columns = grid.ColumnCount(), rows = grid.RowCount();
  if (scan == key::Left || scan == key::Right) {
    const int dir = scan == key::Left ? -1 : 1;
    for (int c = grid.column + dir; c >= 1 && c <= columns; c += dir)
      if (HasField(form, grid, c, grid.row)) {
        grid.column = c;
        return;
      }
    return;
  }
  const int dir = scan == key::Up ? -1 : 1;
  for (int r = grid.row + dir; r >= 1 && r <= rows; r += dir)
    if (HasField(form, grid, grid.column, r)) {
      grid.row = r;
      return;
    }
  for (int r = grid.row + dir; r >= 1 && r <= rows; r += dir)
    for (int d = 1; d < columns; ++d)
      for (const int c : {grid.column - d, grid.column + d})
        if (c >= 1 && c <= columns && HasField(form, grid, c, r)) {
          grid.column = c;
          grid.row = r;
          return;
        }
}

// Browsing: the field with the focus is highlighted. Returns Esc, Enter,
// Tab, or the scan code of an extended key other than the arrows.
int BrowseFields(Tool& tool, const SettingsForm& form, FormGrid& grid) {
  Screen& screen = tool.screen;
  for (;;) {
    ShowCurrentField(tool, form, grid, ColorSelected);
    PlaceGridCursor(screen, grid, 0);
    const int k = screen.ReadKey();
    if (k == key::Esc || k == key::Enter || k == key::Tab) return k;
    if (k != key::Prefix) continue;  // plain characters do not move anything
    const int scan = screen.ReadKey();
    if (scan != key::Left && scan != key::Right && scan != key::Up && scan != key::Down) return scan;
    ShowCurrentField(tool, form, grid, ColorNormal);
    StepFocus(form, grid, scan);
  }
}

void RunForm(Tool& tool, const SettingsForm& form) {
  if (!tool.state.deviceConnected && !tool.state.fileLoaded) {
    ShowExchangeError(tool.screen, xerr::NoPort);
    return;
  }
  FormGrid grid = SettingsGrid();
  DrawForm(tool, form, grid);
  for (;;) {
    tool.screen.HintsParameterChoice();
    const int k = BrowseFields(tool, form, grid);
    if (k == key::Esc) return;
    const CellList* list = ListAt(form, grid);
    const ModeRow* mode = ModeAt(form, grid);
    if (k == key::Enter) {
      if (list) {
        tool.screen.HintsFieldEdit();
        EditNumberField(tool, grid, list->firstCell + grid.row - 1, form.fieldWidth);
      } else if (mode) {
        ModeSelector(tool, grid, mode->position, mode->kind);
      }
    } else if (key::IsHelp(k)) {
      if (list)
        ShowHelpTopic(tool.screen, tool.help, list->helpTopic);
      else if (mode)
        ShowHelpTopic(tool.screen, tool.help, mode->helpTopic);
    }
    // Tab and other keys are ignored.
  }
}

}  // namespace

void OutgoingCallsEditor(Tool& tool) { RunForm(tool, OutgoingForm()); }
void IncomingCallsEditor(Tool& tool) { RunForm(tool, IncomingForm()); }

}  // namespace tv
