// The in-place editors of a cell's number and name texts. The operator edits
// a copy of the text on the highlighted field; Enter stores the copy into the
// image and sends the cell at once, e.g.
//   AT+CPBW=41,"0951234",129,"41"\r  ->  OK
// Esc drops the copy. Typed characters go in at the cursor (insert); Insert
// switches to typing over the characters (the cursor turns into a block) and
// back. A typed character the field cannot take changes nothing and says why
// on the form's hint row until the next key the field takes.
#include "ui/cell_fields.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "device/cell_transfer.h"
#include "screen/form_grid.h"
#include "ui/exchange_error.h"
#include "ui/tool.h"

namespace tv {

namespace {

constexpr const char* kAskShorten = "Ячейка %02d: текст будет укорочен. Записать? [Y/N]"_cp;
constexpr const char* kLongerThanCell = "На SIM-Карте текст длиннее 47 знаков"_cp;

// Why a typed character changed nothing, in ColorAlert on the hint row.
constexpr const char* kRefusedPlus = "номер набирается без +"_cp;
constexpr const char* kRefusedInNumber = "В номере только цифры, * и #"_cp;
constexpr const char* kRefusedInName = "В имени только A-Z, цифры и * # , ."_cp;
constexpr const char* kFieldFull = "Поле заполнено: не более %d знаков"_cp;
constexpr int HintRow = 24;  // the forms' key-hint row
constexpr int HintX = 4;

// What the two editors differ in.
struct FieldKind {
  int copyPositions;    // how much of the 48-byte text the editor works on
  int longest;          // most characters the operator may bring the text to
  const char* allowed;  // characters that can be typed
  bool number;          // a number: '+' and letters are refused with their own hint
};

constexpr int NumberCopyPositions = 42;
constexpr int NameCopyPositions = 32;
// What may be typed: NumberCharacters and NameCharacters (core/settings_model.h).

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

// The edit state of one editor call: the copy and the insertion position,
// with the cursor at field x + pos. The copy is held with its length: a zero
// byte in a text from the SIM (GSM '@') is a character like any other.
class FieldEditor {
 public:
  FieldEditor(Screen& screen, const FormGrid& grid, std::string_view text, const FieldKind& kind, int width)
      : screen_(screen), grid_(grid), kind_(kind), width_(width) {
    copy_ = std::string(text.substr(0, static_cast<std::size_t>(kind.copyPositions)));
    longest_ = kind.longest < kind.copyPositions ? kind.longest : kind.copyPositions;
  }

  // Runs the key loop; true when the operator confirmed with Enter.
  bool Run() {
    screen_.SetAttribute(ColorPanel);
    SetOvertype(false);
    const bool confirmed = Loop();
    ClearHint();
    SetOvertype(false);
    return confirmed;
  }

  const std::string& Copy() const { return copy_; }
  bool Changed() const { return changed_; }

 private:
  int Length() const { return static_cast<int>(copy_.size()); }
  void CursorToPos() { screen_.SetCursor(grid_.X() + pos_, grid_.Y()); }

  bool Loop() {
    for (;;) {
      const int k = screen_.ReadKey();
      if (k == key::Enter) return true;
      if (k == key::Esc) return false;
      if (k == key::Prefix) {
        ClearHint();
        Extended(screen_.ReadKey());
      } else if (k == key::Backspace) {
        ClearHint();
        TakeBack();
      } else if (const std::string refusal = Type(k); !refusal.empty()) {
        ShowHint(refusal);
      } else {
        ClearHint();
      }
    }
  }

  // The hint row (the row above when the field itself stands there) keeps
  // what it showed, to be put back on the next key the field takes.
  int HintY() const { return grid_.Y() == HintRow ? HintRow - 1 : HintRow; }

  void ShowHint(const std::string& text) {
    if (hintShown_)
      screen_.RestoreRect(1, HintY(), ScreenWidth, HintY(), hintSaved_);  // a longer hint goes whole
    else
      screen_.SaveRect(1, HintY(), ScreenWidth, HintY(), hintSaved_);
    hintShown_ = true;
    screen_.PutTextAttr(HintX, HintY(), (" " + text + " ").c_str(), ColorAlert);
    screen_.SetAttribute(ColorPanel);
    CursorToPos();
  }

  void ClearHint() {
    if (!hintShown_) return;
    hintShown_ = false;
    screen_.RestoreRect(1, HintY(), ScreenWidth, HintY(), hintSaved_);
    CursorToPos();
  }

  void SetOvertype(bool on) {
    overtype_ = on;
    if (Console* console = screen_.AttachedConsole()) console->SetBlockCursor(on);
  }

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
      case key::Insert: SetOvertype(!overtype_); break;
      case key::Home:
        pos_ = 0;
        CursorToPos();
        break;
      case key::End:
        pos_ = len < width_ ? len : width_;
        CursorToPos();
        break;
      case key::Left:
        if (pos_ > 0) {
          --pos_;
          screen_.WriteChar(key::Backspace);
        }
        break;
      case key::Right:
        if (pos_ < width_ && pos_ < len) {
          ++pos_;
          CursorToPos();
        }
        break;
      case key::Delete:
        if (pos_ >= len) break;  // nothing under the cursor
        changed_ = true;
        copy_.erase(static_cast<std::size_t>(pos_), 1);
        if (pos_ == len - 1) {
          if (pos_ < width_) {
            screen_.WriteChar(key::Blank);
            screen_.WriteChar(key::Backspace);
          }
        } else {
          Echo(pos_, 1);
        }
        break;
      default: break;
    }
  }

  // Backspace: the character before the cursor goes, the rest closes up.
  void TakeBack() {
    if (pos_ == 0) return;
    changed_ = true;
    copy_.erase(static_cast<std::size_t>(--pos_), 1);
    CursorToPos();
    Echo(pos_, 1);
  }

  // Takes a typed character; what the field refused it for when it did not
  // (empty when taken, or when it is no character at all, as Tab).
  std::string Type(int k) {
    if (k < key::Blank || k > 0xFF) return {};
    if (std::strchr(kind_.allowed, k) == nullptr) {
      if (!kind_.number) return kRefusedInName;
      return k == '+' ? kRefusedPlus : kRefusedInNumber;
    }
    if (!changed_ && copy_ == UnusedMarker) {
      // "0" stands in a cell that holds nothing: the first character typed
      // takes its place instead of going in front of it (8903... must not
      // become 8903...0).
      changed_ = true;
      copy_.assign(1, static_cast<char>(k));
      pos_ = 1;
      screen_.SetCursor(grid_.X(), grid_.Y());
      screen_.WriteChar(static_cast<uint8_t>(k));
      return {};
    }
    const int len = Length();
    if (overtype_ && pos_ < len) {
      // Over a character: the length stays. Behind the field's last column
      // stands a hidden part of a longer text, which is not typed over blind.
      if (pos_ >= width_) return FieldFull();
      changed_ = true;
      copy_[static_cast<std::size_t>(pos_++)] = static_cast<char>(k);
      screen_.WriteChar(static_cast<uint8_t>(k));
      return {};
    }
    if (len >= longest_) return FieldFull();
    changed_ = true;
    copy_.insert(copy_.begin() + pos_, static_cast<char>(k));
    if (pos_ == len) {
      ++pos_;
      screen_.WriteChar(static_cast<uint8_t>(k));
      return {};
    }
    Echo(pos_++, 0);  // from the cursor on; the cursor then goes to the new pos
    return {};
  }

  std::string FieldFull() const {
    char text[64];
    std::snprintf(text, sizeof text, kFieldFull, longest_);
    return text;
  }

  static constexpr std::string_view UnusedMarker = "0";

  Screen& screen_;
  const FormGrid& grid_;
  const FieldKind& kind_;
  int width_;
  int longest_ = 0;
  int pos_ = 0;
  bool changed_ = false;
  bool overtype_ = false;  // every edit starts inserting
  bool hintShown_ = false;
  uint8_t hintSaved_[ScreenWidth * 2] = {};
  std::string copy_;
};

void EditField(Tool& tool, FormGrid& grid, int cell, bool name, const FieldKind& kind, int width,
               void (*show)(Tool&, const FormGrid&, int, int, uint8_t)) {
  show(tool, grid, cell, width, ColorPanel);
  SimImage& image = tool.image;
  const SimImage::CellState before = image.Cell(cell);
  const std::string& old = name ? before.name : before.number;
  FieldEditor editor(tool.screen, grid, old, kind, width);
  if (editor.Run()) {
    // The editor works on the text's first positions; what stands behind
    // them stays. An unchanged Enter keeps the text byte for byte (and its
    // mark when the SIM holds more than the cell).
    if (editor.Changed()) {
      std::string text = editor.Copy();
      if (text.size() == static_cast<std::size_t>(kind.copyPositions) && old.size() > text.size())
        text += old.substr(text.size());
      if (name)
        image.SetCellName(cell, text);
      else
        image.SetCellNumber(cell, text);
    }
    CommitCell(tool, cell, before);
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
  const FieldKind kind{NumberCopyPositions, width, NumberCharacters, true};
  EditField(tool, grid, cell, false, kind, width, ShowNumberField);
}

void EditNameField(Tool& tool, FormGrid& grid, int cell) {
  static constexpr FieldKind kName{NameCopyPositions, NameTextLongest, NameCharacters, false};
  EditField(tool, grid, cell, true, kName, NameFieldWidth, ShowNameFieldOfWidth);
}

bool CommitCell(Tool& tool, int cell, const SimImage::CellState& before) {
  if (tool.state.fileLoaded) {
    // Edits of a loaded file stay in the image until it is saved.
    if (tool.image.CellNumber(cell) != before.number || tool.image.CellName(cell) != before.name)
      tool.state.unsavedEdits = true;
    return true;
  }
  Screen& screen = tool.screen;
  SimImage& image = tool.image;
  auto revert = [&] { image.Restore(cell, before); };
  if (!tool.state.deviceConnected) {
    // The device was lost during this form: the edit goes nowhere.
    ShowExchangeErrorOver(screen, xerr::NoPort);
    revert();
    return false;
  }
  if (image.Shortened(cell)) {
    // The SIM holds a longer text than the cell can: writing would cut it.
    char question[64];
    std::snprintf(question, sizeof question, kAskShorten, cell);
    if (!AskOver(screen, question, kLongerThanCell)) {
      revert();
      return false;
    }
  }
  const CellResult result = WriteCell(tool.at, image, cell);
  if (result.Ok()) return true;
  ShowExchangeErrorOver(screen, ExchangeErrorOf(result), DescribeFailure(cell, result));
  if (result.outcome == CellOutcome::Refused) {
    // The SIM answered: show what it holds now.
    if (ReadCell(tool.at, image, cell).Ok()) return false;
  } else {
    tool.state.deviceConnected = false;  // no answer: the device is taken as gone
  }
  revert();
  return false;
}

}  // namespace tv
