// File to SIM's list of changes: the SIM's settings against the same SIM
// with the file's lines written over it, drawn under the question.
#include "ui/file_to_sim_question.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/settings_file.h"
#include "core/settings_model.h"
#include "core/sim_image.h"
#include "cp866/literal.h"
#include "ui/transfer_panel.h"

namespace tv {

namespace {

using namespace transfer_panel;

// Under the question (row 4) and the file and gateway (row 5), a blank row,
// the heading, then one change a row; the last row says how many more
// when they do not all fit. Each row stops a column short of the frame.
constexpr int kHeadingRow = kDetailRow + 2;
constexpr int kChangeRows = 8;
constexpr int kRowWidth = kPanelX + kPanelW - kTextX;

constexpr const char* kHeading = "Изменения в SIM-Карте:"_cp;
// Nothing the forms show changes.
constexpr const char* kSameSettings = "Настройки совпадают с SIM-Картой"_cp;
// Nor does any setting, but the file writes other texts into cells (a list
// cell's name, a routing cell that routes nowhere).
constexpr const char* kOnlyCellsDiffer = "Настройки не меняются; отличных ячеек: %d"_cp;

int CellsThatDiffer(const SimImage& a, const SimImage& b) {
  int differ = 0;
  for (int cell = 1; cell <= SettingsLines; ++cell)
    if (a.CellNumber(cell) != b.CellNumber(cell) || a.CellName(cell) != b.CellName(cell)) ++differ;
  return differ;
}

// The rows under the question, the first at kHeadingRow.
std::vector<std::string> ChangeRows(const SimImage& sim, std::string_view fileBytes) {
  SimImage written = sim;
  OverlaySettingsText(fileBytes, written);
  const std::vector<SettingChange> changes = CompareSettings(sim, written);
  if (changes.empty()) {
    const int differ = CellsThatDiffer(sim, written);
    if (differ == 0) return {kSameSettings};
    char text[96];
    std::snprintf(text, sizeof text, kOnlyCellsDiffer, differ);
    return {text};
  }
  std::vector<std::string> rows = SummariseChanges(changes, kChangeRows, kRowWidth);
  rows.insert(rows.begin(), kHeading);
  return rows;
}

}  // namespace

void ShowChangesBeforeWrite(Screen& s, const SimImage& sim, std::string_view fileBytes) {
  BlankChangesBeforeWrite(s);
  const std::vector<std::string> rows = ChangeRows(sim, fileBytes);
  s.SetAttribute(ColorPanel);
  int row = kHeadingRow;
  for (const std::string& text : rows) {
    // A SIM's or a file's text may hold any byte: each shows as its glyph
    // and none moves the cursor.
    s.SetCursor(kTextX, row++);
    for (const char c : text) s.WriteGlyph(static_cast<uint8_t>(c));
  }
  s.SetAttribute(ColorNormal);
}

void BlankChangesBeforeWrite(Screen& s) {
  for (int row = kListTop; row <= kListBottom; ++row) BlankRow(s, row);
}

}  // namespace tv
