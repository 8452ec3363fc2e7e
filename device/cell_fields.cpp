// The in-place editors of a cell's number and name texts. The operator edits
// a copy of the text on the highlighted field; Enter stores the copy into the
// image and sends the cell at once, e.g.
//   AT+CPBW=41,"0951234",129,"41"\r  ->  OK
// Esc drops the copy. Keys that do not apply are ignored without a sound.
#include "device/cell_fields.h"

#include <cstring>
#include <string_view>

#include "device/cell_transfer.h"
#include "device/tool.h"
#include "screen/form_grid.h"

namespace tv {

namespace {

// What the two editors differ in.
struct FieldKind {
  int copyPositions;    // how much of the 48-byte text the editor works on
  int longest;          // most characters the operator may bring the text to
  const char* allowed;  // characters that can be typed
};

constexpr int NumberCopyPositions = 42;
constexpr int NameCopyPositions = 32;
constexpr const char* NumberCharacters = "0123456789*#";
constexpr const char* NameCharacters = "0123456789*#QWERTYUIOPASDFGHJKLZXCVBNM,.";

// Draws text at the current field, width columns, blank-padded.
void ShowText(Screen& screen, const FormGrid& grid, std::string_view text, int width, uint8_t attr) {
  screen.SetAttribute(attr);
  PlaceGridCursor(screen, grid, 0);
  int written = 0;
  for (; written < width && written < static_cast<int>(text.size()); ++written)
    screen.WriteGlyph(static_cast<uint8_t>(text[written]));
  for (; written < width; ++written) screen.WriteChar(key::Blank);
  PlaceGridCursor(screen, grid, 0);
  screen.SetAttribute(ColorNormal);
}

// The edit state of one editor call: the copy, zero behind its text, and the
// insertion position, with the cursor at field x + pos.
class FieldEditor {
 public:
  FieldEditor(Screen& screen, const FormGrid& grid, const char* field, const FieldKind& kind, int width)
      : screen_(screen), grid_(grid), kind_(kind), width_(width) {
    // Only the text itself: characters behind an inner zero (left there by
    // in-place mode changes) are not part of it and must not come back.
    std::memcpy(copy_, field, strnlen(field, kind.copyPositions));
    longest_ = kind.longest < kind.copyPositions ? kind.longest : kind.copyPositions;
  }

  // Runs the key loop; true when the operator confirmed with Enter.
  bool Run() {
    screen_.SetAttribute(ColorPanel);
    for (;;) {
      const int k = screen_.ReadKey();
      if (k == key::Enter) return true;
      if (k == key::Esc) return false;
      if (k == key::Prefix) {
        Extended(screen_.ReadKey());
      } else {
        Type(k);
      }
    }
  }

  // The copy's positions, to be stored over the cell's first positions.
  const char* Copy() const { return copy_; }

 private:
  int Length() const { return static_cast<int>(std::strlen(copy_)); }
  void CursorToPos() { screen_.SetCursor(grid_.X() + pos_, grid_.Y()); }

  // Rewrites the copy from position `from` to its end, then `blanks` blanks,
  // never beyond the field (a text longer than the field is shown cut).
  void Echo(int from, int blanks) {
    const int len = Length();
    for (int i = from; i < len + blanks && i < width_; ++i)
      screen_.WriteGlyph(i < len ? static_cast<uint8_t>(copy_[i]) : key::Blank);
    CursorToPos();
  }

  void Extended(int scan) {
    const int len = Length();
    switch (scan) {
      case key::Left:
        if (pos_ > 0) {
          --pos_;
          screen_.WriteChar(key::Backspace);
        }
        break;
      case key::Right:
        if (pos_ < width_ && copy_[pos_] != 0) {
          ++pos_;
          CursorToPos();
        }
        break;
      case key::Delete:
        if (pos_ >= len) break;  // nothing under the cursor
        if (copy_[pos_ + 1] == 0) {
          copy_[pos_] = 0;
          if (pos_ < width_) {
            screen_.WriteChar(key::Blank);
            screen_.WriteChar(key::Backspace);
          }
        } else {
          std::memmove(copy_ + pos_, copy_ + pos_ + 1, len - pos_);  // the zero moves too
          Echo(pos_, 1);
        }
        break;
      default: break;
    }
  }

  void Type(int k) {
    const int len = Length();
    if (k <= 0 || k > 0xFF || std::strchr(kind_.allowed, k) == nullptr || len >= longest_) return;
    if (pos_ == len) {
      copy_[pos_++] = static_cast<char>(k);
      screen_.WriteChar(static_cast<uint8_t>(k));
      return;
    }
    std::memmove(copy_ + pos_ + 1, copy_ + pos_, len - pos_);
    copy_[pos_] = static_cast<char>(k);
    Echo(pos_++, 0);  // from the cursor on; the cursor then goes to the new pos
  }

  Screen& screen_;
  const FormGrid& grid_;
  const FieldKind& kind_;
  int width_;
  int longest_ = 0;
  int pos_ = 0;
  char copy_[NumberCopyPositions + 1] = {};
};

void EditField(Tool& tool, FormGrid& grid, int cell, char* field, const FieldKind& kind, int width,
               void (*show)(Tool&, const FormGrid&, int, int, uint8_t)) {
  show(tool, grid, cell, width, ColorPanel);
  FieldEditor editor(tool.screen, grid, field, kind, width);
  if (editor.Run()) {
    // Positions behind the copy are left as they are.
    std::memcpy(field, editor.Copy(), kind.copyPositions);
    WriteCell(tool, cell);  // a failed write is not reported; the image keeps the text
  }
  show(tool, grid, cell, width, ColorNormal);
}

void ShowNameFieldOfWidth(Tool& tool, const FormGrid& grid, int cell, int, uint8_t attr) {
  ShowNameField(tool, grid, cell, attr);
}

}  // namespace

void ShowNumberField(Tool& tool, const FormGrid& grid, int cell, int width, uint8_t attr) {
  ShowText(tool.screen, grid, tool.image.CellNumber(cell), width, attr);
}

void ShowNameField(Tool& tool, const FormGrid& grid, int cell, uint8_t attr) {
  ShowText(tool.screen, grid, tool.image.CellName(cell), NameFieldWidth, attr);
}

void EditNumberField(Tool& tool, FormGrid& grid, int cell, int width) {
  // The longest number is the field's width.
  const FieldKind kind{NumberCopyPositions, width, NumberCharacters};
  EditField(tool, grid, cell, tool.image.NumberField(cell), kind, width, ShowNumberField);
}

void EditNameField(Tool& tool, FormGrid& grid, int cell) {
  static constexpr FieldKind kName{NameCopyPositions, NameTextLongest, NameCharacters};
  EditField(tool, grid, cell, tool.image.NameField(cell), kName, NameFieldWidth, ShowNameFieldOfWidth);
}

}  // namespace tv
