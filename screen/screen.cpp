// The in-memory 80x25 screen: console operations and drawing routines.
#include "screen/screen.h"

#include <cstdio>
#include <cstring>

namespace tv {

Screen::Screen(Console* console) : console_(console) {}

void Screen::SetCursor(int x, int y) {
  if (x < 1 || x > ScreenWidth || y < 1 || y > ScreenHeight) return;
  cx_ = x;
  cy_ = y;
  VersionBump();
}

void Screen::ScrollUp() {
  std::memmove(&cells_[0][0], &cells_[1][0], sizeof(cells_[0]) * (ScreenHeight - 1));
  for (auto& cell : cells_[ScreenHeight - 1]) cell = ScreenCell{' ', attr_};
}

void Screen::Put(uint8_t c) {
  cells_[cy_ - 1][cx_ - 1] = ScreenCell{c, attr_};
  if (++cx_ > ScreenWidth) {
    cx_ = 1;
    if (++cy_ > ScreenHeight) {
      cy_ = ScreenHeight;
      ScrollUp();
    }
  }
}

void Screen::WriteChar(uint8_t c) {
  switch (c) {
    case key::Backspace:
      if (cx_ > 1) --cx_;
      break;
    case key::Enter:  // carriage return
      cx_ = 1;
      break;
    case key::LineFeed:
      if (++cy_ > ScreenHeight) {
        cy_ = ScreenHeight;
        ScrollUp();
      }
      break;
    default: Put(c);
  }
  VersionBump();
}

void Screen::WriteGlyph(uint8_t c) {
  Put(c);
  VersionBump();
}

void Screen::WriteString(const char* text) {
  for (const char* p = text; *p; ++p) WriteChar(static_cast<uint8_t>(*p));
}

void Screen::WriteFormatted(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  // The analyser does not see va_start above.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  WriteString(buf);
}

void Screen::ClearScreen() {
  for (auto& row : cells_)
    for (auto& cell : row) cell = ScreenCell{' ', attr_};
  cx_ = cy_ = 1;
  VersionBump();
}

void Screen::Present() {
  if (console_) console_->Present(*this);
}

namespace {
// Said on the bottom row at once: a Ctrl+C during a wait is answered when
// the cell in flight is done; keys typed blind during a wait did nothing.
constexpr const char* kCtrlCNoted = "выход после записи ячейки; Ctrl+C ещё раз - прервать сразу"_cp;
constexpr const char* kKeysSkipped = "Клавиши, нажатые во время обмена, пропущены"_cp;
}  // namespace

void Screen::NoteCtrlC() {
  // A second Ctrl+C before the first was answered: the operator means it.
  if (++ctrlCPending_ > 1 || askingToLeave_) {
    TakeNoticeAway();
    throw LeaveRequested{};
  }
  // During a wait nothing else would show that the key was heard, and an
  // impatient second press would stop a write in the middle of a cell.
  if (waited_) ShowNotice(kCtrlCNoted);
}

bool Screen::DrainKeys(bool wantEsc) {
  if (!console_) return false;
  KeyPress k;
  while (console_->PollKey(*this, k)) {
    if (!k.extended && k.code == key::CtrlC) {
      NoteCtrlC();
      continue;
    }
    if (wantEsc && !k.extended && k.code == key::Esc) return true;
    if (waited_) burstSeen_ = true;
  }
  return false;
}

bool Screen::DropBlindBurst() {
  DrainKeys(false);
  escSeen_ = false;
  bool dropped = burstSeen_;
  burstSeen_ = false;
  if (console_) {
    console_->DiscardTypeahead();
    pendingScan_ = -1;
    if (dropped) {
      ShowNotice(kKeysSkipped);
      // The typing that went on after the wait belongs to the same burst.
      KeyPress k;
      while (console_->WaitKey(*this, k, TypingBurstQuiet))
        if (!k.extended && k.code == key::CtrlC) NoteCtrlC();
    }
  }
  return dropped;
}

void Screen::ShowNotice(const char* text, uint8_t attr) {
  TakeNoticeAway();
  ScreenCell* row = cells_[ScreenHeight - 1];
  std::memcpy(noticeUnder_, row, sizeof noticeUnder_);
  const int x = cx_, y = cy_;
  const uint8_t current = attr_;
  const std::string padded = std::string(" ") + text + " ";
  const int width = static_cast<int>(padded.size());
  PutTextAttr((ScreenWidth - width) / 2 + 1, ScreenHeight, padded.c_str(), attr);
  SetCursor(x, y);
  attr_ = current;
  std::memcpy(noticeRow_, row, sizeof noticeRow_);
  noticeShown_ = true;
  Present();
}

void Screen::TakeNoticeAway() {
  if (!noticeShown_) return;
  noticeShown_ = false;
  // A window closed meanwhile may have put back what stood there before.
  ScreenCell* row = cells_[ScreenHeight - 1];
  for (int x = 0; x < ScreenWidth; ++x)
    if (row[x] == noticeRow_[x]) row[x] = noticeUnder_[x];
  VersionBump();
}

bool Screen::EscPressed() {
  const bool seen = escSeen_;
  escSeen_ = false;
  return DrainKeys(true) || seen;
}

void Screen::WatchKeys() {
  if (DrainKeys(true)) escSeen_ = true;
}

void Screen::DiscardTypeahead() {
  pendingScan_ = -1;
  DrainKeys(false);
  if (console_) console_->DiscardTypeahead();
}

void Screen::NoteWait() {
  waited_ = true;
  Present();
}

void Screen::AskToLeave() {
  TakeNoticeAway();
  ctrlCPending_ = 0;
  if (!leaveQuestion_) throw LeaveRequested{};
  askingToLeave_ = true;
  // The question stands over whatever screen was reading a key; that screen
  // goes on where it was, its cursor and colour too.
  const int x = cx_, y = cy_;
  const uint8_t attr = attr_;
  bool leave = false;
  try {
    leave = leaveQuestion_();
  } catch (...) {
    askingToLeave_ = false;
    throw;
  }
  askingToLeave_ = false;
  if (leave) throw LeaveRequested{};
  SetCursor(x, y);
  attr_ = attr;
}

int Screen::ReadKey() {
  if (pendingScan_ >= 0) {
    int scan = pendingScan_;
    pendingScan_ = -1;
    return scan;
  }
  if (!console_) return key::Esc;
  for (;;) {
    if (waited_) {
      // Keys typed while the tool waited were typed blind: they must not
      // answer the question that follows the wait, nor, when the typing
      // went on after it, edit whatever field it reaches.
      DropBlindBurst();
      waited_ = false;
    }
    if (ctrlCPending_ > 0) {
      AskToLeave();
      continue;
    }
    KeyPress k = console_->NextKey(*this);
    TakeNoticeAway();
    if (k.extended) {
      pendingScan_ = k.code;
      return key::Prefix;
    }
    if (k.code == key::CtrlC) {
      NoteCtrlC();
      AskToLeave();
      continue;
    }
    return k.code;
  }
}

namespace {
bool RectInside(int left, int top, int right, int bottom) {
  return left >= 1 && top >= 1 && right <= ScreenWidth && bottom <= ScreenHeight && left <= right &&
         top <= bottom;
}
}  // namespace

int Screen::SaveRect(int left, int top, int right, int bottom, uint8_t* buf) const {
  if (!RectInside(left, top, right, bottom)) return 0;
  for (int y = top; y <= bottom; ++y) {
    const ScreenCell* row = cells_[y - 1];  // one row at a time: a whole screen is saved under every window
    for (int x = left; x <= right; ++x) {
      *buf++ = row[x - 1].ch;
      *buf++ = row[x - 1].attr;
    }
  }
  return 1;
}

int Screen::RestoreRect(int left, int top, int right, int bottom, const uint8_t* buf) {
  if (!RectInside(left, top, right, bottom)) return 0;
  for (int y = top; y <= bottom; ++y) {
    ScreenCell* row = cells_[y - 1];
    for (int x = left; x <= right; ++x) {
      row[x - 1] = ScreenCell{buf[0], buf[1]};
      buf += 2;
    }
  }
  VersionBump();
  return 1;
}

void Screen::PutText(int x, int y, const char* text) {
  SetCursor(x, y);
  WriteString(text);
}

void Screen::PutTextAttr(int x, int y, const char* text, uint8_t attr) {
  SetCursor(x, y);
  SetAttribute(attr);
  WriteString(text);
  SetAttribute(ColorNormal);
}

namespace {
// One row of a box: left character, w fillers, right character.
std::string BoxRow(uint8_t left, uint8_t fill, uint8_t right, int w) {
  std::string row;
  row += static_cast<char>(left);
  row.append(w > 0 ? w : 0, static_cast<char>(fill));
  row += static_cast<char>(right);
  return row;
}
}  // namespace

void Screen::DrawPanel(int x, int y, int w, int h) {
  using namespace line;
  SetAttribute(ColorPanel);
  PutText(x, y, BoxRow(SingleTopLeft, SingleHorizontal, SingleTopRight, w).c_str());
  const std::string middle = BoxRow(SingleVertical, ' ', SingleVertical, w);
  for (int r = y + 1; r <= y + h; ++r) PutText(x, r, middle.c_str());
  PutText(x, y + h + 1, BoxRow(SingleBottomLeft, SingleHorizontal, SingleBottomRight, w).c_str());
  SetAttribute(ColorNormal);
}

void Screen::ErasePanel(int x, int y, int w, int h) {
  SetAttribute(ColorNormal);
  const std::string blanks(w + 2 > 0 ? w + 2 : 0, ' ');
  for (int r = y; r <= y + h + 1; ++r) PutText(x, r, blanks.c_str());
  SetCursor(1, 1);
}

void Screen::DrawPanelRect(int x1, int y1, int x2, int y2) { DrawPanel(x1, y1, x2 - x1 - 1, y2 - y1 - 1); }

void Screen::DrawFrame(int x1, int y1, int x2, int y2, uint8_t c) {
  using namespace line;
  const bool dbl = (c == DoubleHorizontal || c == DoubleVertical);
  const uint8_t hor = dbl ? DoubleHorizontal : SingleHorizontal;
  const uint8_t ver = dbl ? DoubleVertical : SingleVertical;
  auto at = [this](int x, int y, uint8_t ch) {
    SetCursor(x, y);
    WriteChar(ch);
  };
  if (x1 == x2 && y2 > y1) {
    for (int y = y1; y <= y2; ++y) at(x1, y, c);
  } else if (y1 == y2 && x2 > x1) {
    for (int x = x1; x <= x2; ++x) at(x, y1, c);
  } else if (y2 > y1 && x2 > x1) {
    for (int x = x1 + 1; x < x2; ++x) {
      at(x, y1, hor);
      at(x, y2, hor);
    }
    for (int y = y1 + 1; y < y2; ++y) {
      at(x1, y, ver);
      at(x2, y, ver);
    }
    at(x1, y1, dbl ? DoubleTopLeft : SingleTopLeft);
    at(x2, y1, dbl ? DoubleTopRight : SingleTopRight);
    at(x1, y2, dbl ? DoubleBottomLeft : SingleBottomLeft);
    at(x2, y2, dbl ? DoubleBottomRight : SingleBottomRight);
  }
}

int Screen::ReadKeyCode() {
  int k = ReadKey();
  if (k == key::Prefix) k = ReadKey();
  return k;
}

namespace {
// The Latin letters the questions ask for, as a Russian keyboard layout types
// them (cp866): Ш and Н lie on the keys of I and Y.
struct LayoutLetter {
  uint8_t russian;
  char latin;
};
constexpr LayoutLetter kRussianLayoutLetters[] = {{0x98, 'I'}, {0xE8, 'i'}, {0x8D, 'Y'}, {0xAD, 'y'}};
}  // namespace

int Screen::ReadCharacterKey() {
  const int k = ReadKey();
  if (k == key::Prefix) {
    ReadKey();
    return NoCharacter;
  }
  for (const LayoutLetter& l : kRussianLayoutLetters)
    if (k == l.russian) return l.latin;
  return k;
}

bool Screen::ReadYes() {
  const int k = ReadCharacterKey();
  return k == 'y' || k == 'Y';
}

namespace {
struct HintPiece {
  int x;
  const char* text;
  int width;
  bool isKey;
};

template <std::size_t N>
void DrawHints(Screen& s, const HintPiece (&pieces)[N]) {
  for (const HintPiece& p : pieces) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%-*s", p.width, p.text);
    s.PutTextAttr(p.x, 24, buf, p.isKey ? ColorHintKey : ColorPanel);
  }
}

// Row 24 of the forms; key names in the key colour, descriptions in the panel colour.
constexpr HintPiece kDigitEntry[] = {
    {4, "Цифры"_cp, 5, true},         {9, "-Ввод"_cp, 7, false}, {16, "ENTER", 5, true},
    {21, "-Изменение"_cp, 12, false}, {33, "ESC", 3, true},      {36, "-Выход"_cp, 28, false},
};
constexpr HintPiece kParameterChoice[] = {
    {4, "СТРЕЛКИ"_cp, 7, true}, {11, "-Выбор параметра"_cp, 18, false},
    {29, "ENTER", 5, true},     {34, "-Изменение"_cp, 12, false},
    {46, "ESC", 3, true},       {49, "-Выход"_cp, 28, false},
};
constexpr HintPiece kFieldEdit[] = {
    {4, "Стрелки"_cp, 7, true},  {11, "-Переход"_cp, 10, false},   {21, "Цифры"_cp, 5, true},
    {26, "-Ввод"_cp, 7, false},  {33, "DELETE", 6, true},          {39, "-Убрать"_cp, 9, false},
    {48, "ENTER", 5, true},      {53, "-Сохранить"_cp, 12, false}, {65, "ESC", 3, true},
    {68, "-Выход"_cp, 9, false},
};
}  // namespace

void Screen::HintsDigitEntry() { DrawHints(*this, kDigitEntry); }
void Screen::HintsParameterChoice() { DrawHints(*this, kParameterChoice); }
void Screen::HintsFieldEdit() { DrawHints(*this, kFieldEdit); }

std::string Screen::TextAt(int x, int y, int count) const {
  if (count < 0) count = ScreenWidth - x + 1;
  std::string s;
  for (int i = 0; i < count && x + i <= ScreenWidth; ++i) s += static_cast<char>(CharAt(x + i, y));
  return s;
}

std::string Screen::Dump() const {
  std::string s;
  for (int y = 1; y <= ScreenHeight; ++y) {
    s += TextAt(1, y);
    s += '\n';
  }
  return s;
}

}  // namespace tv
