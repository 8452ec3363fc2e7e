// The form grid: arrow keys move the current field within the grid's bounds,
// every other significant key is handed back to the form.
#include "screen/form_grid.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/screen.h"
#include "tests/support/scripted_console.h"

namespace tv {
namespace {

using namespace test;

// The phonebook's grid: 2 columns at 10 and 50, 20 rows at 4..23.
FormGrid TwoByTwenty(int column, int row) {
  FormGrid grid{column, row, {10, 50}, {}};
  for (int y = 4; y <= 23; ++y) grid.ys.push_back(y);
  return grid;
}

TEST(NavigateGrid, MovesWithinBoundsAndReturnsTheEndingKey) {
  struct Case {
    std::string name;
    int column, row;
    std::vector<KeyPress> keys;
    int returned;
    int endColumn, endRow;
  };
  const std::vector<Case> cases = {
      {"Left in column 1 stays", 1, 5, {Left, Enter}, key::Enter, 1, 5},
      {"Up in row 1 stays", 2, 1, {Up, Enter}, key::Enter, 2, 1},
      {"Down in row 20 stays", 1, 20, {Down, Enter}, key::Enter, 1, 20},
      {"Right in the last column stays", 2, 7, {Right, Enter}, key::Enter, 2, 7},
      {"arrows move one field each", 1, 1, {Right, Down, Down, Left, Down, Up}, key::Esc, 1, 3},
      {"F10 returns its scan code", 2, 20, {F10}, key::F10, 2, 20},
      {"PgDn returns its scan code", 1, 1, {Down, PgDn}, key::PgDn, 1, 2},
      {"PgUp returns its scan code", 1, 1, {PgUp}, key::PgUp, 1, 1},
      {"Delete returns its scan code", 1, 1, {Del}, key::Delete, 1, 1},
      {"a plain letter is ignored", 1, 1, {Chr('a'), Chr('M'), Chr(' '), Down, Esc}, key::Esc, 1, 2},
      {"Tab is returned", 1, 1, {Tab}, key::Tab, 1, 1},
      {"Enter is returned", 2, 3, {Enter}, key::Enter, 2, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedConsole console(c.keys);
    if (c.returned == key::Esc && c.keys.back().code != key::Esc) console.Add({Esc});
    Screen screen(&console);
    FormGrid grid = TwoByTwenty(c.column, c.row);
    EXPECT_EQ(NavigateGrid(screen, grid), c.returned);
    EXPECT_EQ(grid.column, c.endColumn);
    EXPECT_EQ(grid.row, c.endRow);
    EXPECT_EQ(console.KeysLeft(), 0u);
    // The cursor waits on the current field.
    EXPECT_EQ(screen.CursorX(), grid.X());
    EXPECT_EQ(screen.CursorY(), grid.Y());
  }
}

TEST(NavigateGrid, ExtendedKeyIsNotReadAsACharacter) {
  // Right arrow and a typed 'M' share the code 0x4D: only the arrow moves.
  ScriptedConsole console({Chr(key::Right), Right, Esc});
  Screen screen(&console);
  FormGrid grid = TwoByTwenty(1, 1);
  EXPECT_EQ(NavigateGrid(screen, grid), key::Esc);
  EXPECT_EQ(grid.column, 2);
}

TEST(PlaceGridCursor, OffsetReachesLabelsLeftOfTheField) {
  Screen screen;
  FormGrid grid = TwoByTwenty(2, 3);
  PlaceGridCursor(screen, grid, 0);
  EXPECT_EQ(screen.CursorX(), 50);
  EXPECT_EQ(screen.CursorY(), 6);
  PlaceGridCursor(screen, grid, -9);
  EXPECT_EQ(screen.CursorX(), 41);
  EXPECT_EQ(screen.CursorY(), 6);
}

}  // namespace
}  // namespace tv
