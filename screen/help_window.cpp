// The context help window. help.txt holds topics, each a header line "#<n>"
// with its title (the window shows the title, not the number) followed by
// its text lines up to the next header:
//   #10
//   Запрещенный набор: номера, набор которых запрещен ...
//   #11
// A topic is looked up from the start of the file on every request and shown
// in a panel over the form until Esc; the form is then put back as it was.
#include "screen/help_window.h"

#include "screen/screen.h"

namespace tv {

namespace {

// The window: a panel with its interior at columns 7..75, rows 3..23.
struct HelpLayout {
  int panelX = 6, panelY = 2, panelW = 69, panelH = 21;
  int textX = 7, headerY = 3;
  int firstLineY = 4, lastLineY = 23;
  int shownColumns = 69;
  int cursorX = 2, cursorY = 2;  // where the cursor waits while the window is open
};
constexpr HelpLayout kLayout;

// Lines are read in pieces of at most 80 characters (a longer line gives
// several pieces), up to and including the line feed.
constexpr int PieceBytes = 81;

// One piece into buf, as a text-mode read does: a CR before LF is dropped, so
// files written with CR LF line ends read like plain ones. False at the end
// of the file with nothing read.
bool ReadPiece(std::FILE* file, char (&buf)[PieceBytes]) {
  int n = 0;
  while (n < PieceBytes - 1) {
    int c = std::getc(file);
    if (c == EOF) break;
    if (c == '\r') {
      const int next = std::getc(file);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = 0;
  return n > 0;
}

bool IsHeader(const char* piece) { return piece[0] == '#'; }

// The number of a header: up to four digits after the '#', ending at the
// first non-digit ("#0007" is 7, "#12345" is 1234, "#" and "#A" are 0).
int TopicNumber(const char* header) {
  int n = 0;
  for (int i = 1; i <= 4 && header[i] >= '0' && header[i] <= '9'; ++i) n = n * 10 + (header[i] - '0');
  return n;
}

// The title of a header: what follows the '#', its number and the blanks
// after it ("#10 Запрещенный набор" shows "Запрещенный набор").
const char* HeaderTitle(const char* header) {
  const char* p = header + 1;
  while (*p >= '0' && *p <= '9') ++p;
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// A piece at (textX, y), up to its line feed, at most shownColumns characters.
// A stray carriage return shows nothing.
void WritePiece(Screen& screen, int y, const char* piece) {
  screen.SetCursor(kLayout.textX, y);
  int shown = 0;
  for (const char* p = piece; *p && *p != '\n' && shown < kLayout.shownColumns; ++p) {
    if (*p == '\r') continue;
    screen.WriteGlyph(static_cast<uint8_t>(*p));
    ++shown;
  }
}

// Finds topic n and writes it into the panel; leaves the panel empty when
// no header names it.
void WriteTopic(Screen& screen, std::FILE* file, int topic) {
  if (file == nullptr) return;
  std::rewind(file);
  char piece[PieceBytes];
  bool found = false;
  while (!found && ReadPiece(file, piece)) found = IsHeader(piece) && TopicNumber(piece) == topic;
  if (!found) return;
  screen.SetAttribute(ColorPanel);
  WritePiece(screen, kLayout.headerY, HeaderTitle(piece));
  for (int y = kLayout.firstLineY; y <= kLayout.lastLineY; ++y) {
    if (!ReadPiece(file, piece) || IsHeader(piece)) break;
    WritePiece(screen, y, piece);
  }
  screen.SetCursor(kLayout.cursorX, kLayout.cursorY);
}

}  // namespace

void ShowHelpTopic(Screen& screen, HelpFile& help, int topic) {
  static uint8_t saved[ScreenSaveBytes];
  screen.SaveRect(1, 1, ScreenWidth, ScreenHeight, saved);
  const int cursorX = screen.CursorX(), cursorY = screen.CursorY();
  const uint8_t attr = screen.Attribute();

  screen.DrawPanel(kLayout.panelX, kLayout.panelY, kLayout.panelW, kLayout.panelH);
  WriteTopic(screen, help.file, topic);
  screen.SetAttribute(ColorNormal);

  for (;;) {
    const int k = screen.ReadKey();
    if (k == key::Esc) break;
    if (k == key::Prefix) screen.ReadKey();  // an extended key's scan code is ignored as well
  }

  screen.RestoreRect(1, 1, ScreenWidth, ScreenHeight, saved);
  screen.SetCursor(cursorX, cursorY);
  screen.SetAttribute(attr);
}

}  // namespace tv
