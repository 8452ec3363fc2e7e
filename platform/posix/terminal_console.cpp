// The ncursesw terminal behind the screen. The grid is drawn cell by cell from
// the cp866 table; only cells that changed since the last frame are written,
// so an arrow move in a menu costs a few dozen bytes, not a whole screen.
//
// PC attribute bytes become curses colour pairs on demand. PC colour numbers
// are not ANSI numbers: PC 1 is blue and PC 4 red, ANSI the other way round,
// so 0x1E (yellow on blue) is ANSI foreground 3 bright (11) on background 4.
#include "platform/posix/terminal_console.h"

// ncursesw with the wide-character functions (setcchar, get_wch).
#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "cp866/code_page.h"
#include "platform/posix/emergency_exit.h"
#include "screen/keys.h"

namespace tv {

namespace {

// --- signals -------------------------------------------------------------
//
// A fault, a hang-up or a kill must not leave the operator's terminal in raw
// mode with the cursor off: the ending-signal handlers run the exit hooks,
// and the terminal's hook calls endwin(). endwin() is not async-signal-safe;
// for a process that is about to die that is the usual pragmatic trade (the
// worst case is a terminal left as it would be without the hook). A resize
// only sets a flag and passes the signal on to the handler curses installed,
// so get_wch still reports KEY_RESIZE.

volatile std::sig_atomic_t gCursesActive = 0;
volatile std::sig_atomic_t gResizePending = 0;
struct sigaction gCursesWinch = {};

void EndCursesIfActive() {
  if (gCursesActive) {
    gCursesActive = 0;
    endwin();
  }
}

extern "C" void OnWinch(int sig) {
  gResizePending = 1;
  if (gCursesWinch.sa_handler != SIG_DFL && gCursesWinch.sa_handler != SIG_IGN &&
      gCursesWinch.sa_handler != nullptr)
    gCursesWinch.sa_handler(sig);
}

void InstallSignalHandlers() {
  AddExitHook(EndCursesIfActive);
  // Installed before curses starts, so curses leaves SIGINT/SIGTERM to us.
  InstallFatalSignalHandlers();
}

void ChainResizeHandler() {
  // curses installed its SIGWINCH handler in newterm (without SA_RESTART, so
  // a blocked get_wch wakes up); ours goes in front of it with the same flags.
  struct sigaction sa = {};
  sa.sa_handler = OnWinch;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(SIGWINCH, &sa, &gCursesWinch);
}

// --- characters ----------------------------------------------------------

// One Latin letter per Cyrillic letter, for terminals whose locale cannot
// show Cyrillic: widths stay byte for byte, and "Файл" reads "Fajl".
constexpr char kTranslitUpper[33] = "ABVGDEZZIJKLMNOPRSTUFHCCSS'Y'EUA";

// The curses character of a cp866 byte in a locale without UTF-8: ASCII as it
// is, line and block characters from the alternate character set, Cyrillic
// in the locale's own encoding when it has one, else transliterated.
chtype NarrowGlyph(uint8_t b) {
  if (b >= 0x20 && b < 0x7F) return b;
  const char32_t u = Cp866ToUnicode(b);
  switch (u) {
    case 0x2500:
    case 0x2550: return ACS_HLINE;
    case 0x2502:
    case 0x2551: return ACS_VLINE;
    case 0x250C:
    case 0x2554:
    case 0x2552:
    case 0x2553: return ACS_ULCORNER;
    case 0x2510:
    case 0x2557:
    case 0x2555:
    case 0x2556: return ACS_URCORNER;
    case 0x2514:
    case 0x255A:
    case 0x2558:
    case 0x2559: return ACS_LLCORNER;
    case 0x2518:
    case 0x255D:
    case 0x255B:
    case 0x255C: return ACS_LRCORNER;
    case 0x251C:
    case 0x2560:
    case 0x255E:
    case 0x255F: return ACS_LTEE;
    case 0x2524:
    case 0x2563:
    case 0x2561:
    case 0x2562: return ACS_RTEE;
    case 0x252C:
    case 0x2566:
    case 0x2564:
    case 0x2565: return ACS_TTEE;
    case 0x2534:
    case 0x2569:
    case 0x2567:
    case 0x2568: return ACS_BTEE;
    case 0x253C:
    case 0x256C:
    case 0x256A:
    case 0x256B: return ACS_PLUS;
    case 0x2591:
    case 0x2592:
    case 0x2593: return ACS_CKBOARD;
    case 0x2588:
    case 0x2584:
    case 0x258C:
    case 0x2590:
    case 0x2580:
    case 0x25A0: return ACS_BLOCK;
    case 0x00B0: return ACS_DEGREE;
    case 0x00B7:
    case 0x2219:
    case 0x2022: return ACS_BULLET;
    case 0x00A0:
    case 0x0020: return ' ';
    default: break;
  }
  if (u >= 0x0410 && u <= 0x044F) {
    const char c = kTranslitUpper[(u - 0x0410) % 32];
    return static_cast<unsigned char>(u >= 0x0430 && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  if (u == 0x0401) return 'E';
  if (u == 0x0451) return 'e';
  return '?';
}

// Whether the locale can encode a code point (e.g. Cyrillic in KOI8-R) in
// bytes a terminal takes as text. KOI8-R puts the degree sign, the bullets,
// the root sign and the no-break space at 0x95..0x9E, which a terminal in
// 8-bit mode reads as C1 controls (0x9E begins a privacy message, swallowed up
// to the next string terminator): those are drawn as the narrow glyphs instead.
bool LocaleHas(char32_t u) {
  char buf[MB_LEN_MAX];
  std::mbstate_t st{};
  const std::size_t n = std::wcrtomb(buf, static_cast<wchar_t>(u), &st);
  if (n == static_cast<std::size_t>(-1)) return false;
  const auto b = static_cast<unsigned char>(buf[0]);
  return !(n == 1 && (b < 0x20 || (b >= 0x80 && b < 0xA0)));
}

// --- colours -------------------------------------------------------------

// PC colour (low three bits) to curses colour.
constexpr short kPcToCurses[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                                  COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};

// --- keys ------------------------------------------------------------------

struct KeyMapEntry {
  int curses;
  uint8_t scan;
};
constexpr KeyMapEntry kExtendedKeys[] = {
    {KEY_UP, key::Up},     {KEY_DOWN, key::Down},  {KEY_LEFT, key::Left},  {KEY_RIGHT, key::Right},
    {KEY_DC, key::Delete}, {KEY_PPAGE, key::PgUp}, {KEY_NPAGE, key::PgDn}, {KEY_HOME, key::Home},
    {KEY_END, key::End},   {KEY_IC, key::Insert},  {KEY_F(1), 0x3B},       {KEY_F(2), 0x3C},
    {KEY_F(3), 0x3D},      {KEY_F(4), 0x3E},       {KEY_F(5), 0x3F},       {KEY_F(6), 0x40},
    {KEY_F(7), 0x41},      {KEY_F(8), 0x42},       {KEY_F(9), 0x43},       {KEY_F(10), key::F10},
    {KEY_F(11), 0x85},     {KEY_F(12), 0x86},      {KEY_A1, key::Home},    {KEY_C1, key::End},
    {KEY_A3, key::PgUp},   {KEY_C3, key::PgDn},    {KEY_FIND, key::Home},  {KEY_SELECT, key::End},
};

// Sequences terminals send whatever their terminfo entry says: cursor keys
// in normal and application mode, the function keys of the Linux console and
// of rxvt, Home/End in their several forms. Bound only where the entry left
// them free.
struct KeySequence {
  const char* bytes;
  int curses;
};
constexpr KeySequence kExtraSequences[] = {
    {"\033[A", KEY_UP},     {"\033[B", KEY_DOWN},    {"\033[C", KEY_RIGHT},   {"\033[D", KEY_LEFT},
    {"\033OA", KEY_UP},     {"\033OB", KEY_DOWN},    {"\033OC", KEY_RIGHT},   {"\033OD", KEY_LEFT},
    {"\033[H", KEY_HOME},   {"\033[F", KEY_END},     {"\033OH", KEY_HOME},    {"\033OF", KEY_END},
    {"\033[1~", KEY_HOME},  {"\033[4~", KEY_END},    {"\033[7~", KEY_HOME},   {"\033[8~", KEY_END},
    {"\033[2~", KEY_IC},    {"\033[3~", KEY_DC},     {"\033[5~", KEY_PPAGE},  {"\033[6~", KEY_NPAGE},
    {"\033OP", KEY_F(1)},   {"\033OQ", KEY_F(2)},    {"\033OR", KEY_F(3)},    {"\033OS", KEY_F(4)},
    {"\033[11~", KEY_F(1)}, {"\033[12~", KEY_F(2)},  {"\033[13~", KEY_F(3)},  {"\033[14~", KEY_F(4)},
    {"\033[15~", KEY_F(5)}, {"\033[17~", KEY_F(6)},  {"\033[18~", KEY_F(7)},  {"\033[19~", KEY_F(8)},
    {"\033[20~", KEY_F(9)}, {"\033[21~", KEY_F(10)}, {"\033[23~", KEY_F(11)}, {"\033[24~", KEY_F(12)},
    {"\033[[A", KEY_F(1)},  {"\033[[B", KEY_F(2)},   {"\033[[C", KEY_F(3)},   {"\033[[D", KEY_F(4)},
    {"\033[[E", KEY_F(5)},
};

// The screen size as the terminal has it now (curses' LINES/COLS lag behind
// a resize until it is applied).
bool TerminalSize(int& rows, int& cols) {
  struct winsize ws = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_row == 0 || ws.ws_col == 0) return false;
  rows = ws.ws_row;
  cols = ws.ws_col;
  return true;
}

// A resize signal that lands between the last look at the flag and the read
// would leave the old frame up until the next key; reads therefore wake up
// now and then to look again.
constexpr int kKeyWaitSliceMs = 200;

// Whether the terminal's input has hung up or reached its end, so that no
// read will ever bring a key. Input that is readable while the read just
// brought nothing is an end of file; it must be seen three times in a row,
// since a key may arrive just after a read timed out.
bool InputGone() {
  static int readableWithoutKey = 0;
  struct pollfd p = {STDIN_FILENO, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return false;
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
  readableWithoutKey = (p.revents & POLLIN) ? readableWithoutKey + 1 : 0;
  return readableWithoutKey >= 3;
}

// Whether the terminal type can put the cursor anywhere on the screen.
bool CanAddressCursor() {
  const char* cup = tigetstr("cup");
  // tigetstr answers (char*)-1 for a name that is not a string capability.
  return cup != nullptr && cup != reinterpret_cast<char*>(-1) &&  // NOLINT(performance-no-int-to-ptr)
         tigetflag("hc") <= 0 && tigetflag("gn") <= 0;
}

bool TooSmall() { return LINES < ScreenHeight || COLS < ScreenWidth; }

// The terminal's cursor-style sequences (DECSCUSR: xterm, VTE, Konsole,
// tmux), or nullptr when its type has none.
const char* CursorStyle(const char* name) {
  const char* s = tigetstr(name);
  return s != nullptr && s != reinterpret_cast<char*>(-1) ? s : nullptr;  // NOLINT(performance-no-int-to-ptr)
}
constexpr int StyleBlock = 2, StyleUnderline = 4;  // steady

// What get_wch gave, as a key of the tool; false for none (a key the tool
// has no code for, a control character, a character cp866 lacks).
bool DecodeKey(int r, wint_t wc, KeyPress& out) {
  if (r == KEY_CODE_YES) {
    if (wc == KEY_BACKSPACE) return out = KeyPress{false, key::Backspace}, true;
    if (wc == KEY_ENTER) return out = KeyPress{false, key::Enter}, true;
    for (const KeyMapEntry& e : kExtendedKeys)
      if (static_cast<int>(wc) == e.curses) return out = KeyPress{true, e.scan}, true;
    return false;  // KEY_BTAB and the keys the tool has no code for
  }
  switch (wc) {
    case L'\r':
    case L'\n': return out = KeyPress{false, key::Enter}, true;
    case 0x7F:
    case 0x08: return out = KeyPress{false, key::Backspace}, true;
    case 0x1B: return out = KeyPress{false, key::Esc}, true;
    case 0x03: return out = KeyPress{false, key::CtrlC}, true;
    case L'\t': return out = KeyPress{false, key::Tab}, true;
    default: break;
  }
  if (wc >= 0x20 && wc < 0x7F) return out = KeyPress{false, static_cast<uint8_t>(wc)}, true;
  if (wc >= 0x80) {
    const int c = UnicodeToCp866(static_cast<char32_t>(wc));
    if (c >= 0x80) return out = KeyPress{false, static_cast<uint8_t>(c)}, true;
  }
  return false;
}

// Terminals send Alt+key as ESC followed by the key's bytes, in one write;
// curses gives the ESC alone (it is no known sequence) with the rest already
// read and waiting. A lone Esc has nothing behind it (set_escdelay lets a
// sequence 25 ms to follow). Called just after get_wch gave an ESC: true when
// a character waits behind it, which is then taken with it (Alt+key is no key
// of the tool), as is the rest of a sequence curses does not know (ESC [ 1 ;
// 5 C). An Esc, a function key or a control character behind it (Enter, Tab,
// Backspace) was typed after a real Esc and is put back. The read delay is
// set to waitMs afterwards.
bool TakeAltChord(int waitMs) {
  wtimeout(stdscr, 0);
  wint_t wc = 0;
  const int r = get_wch(&wc);
  bool chord = false;
  if (r == KEY_CODE_YES) {
    ungetch(static_cast<int>(wc));
  } else if (r != ERR) {
    if (wc < 0x20 || wc == 0x7F) {
      unget_wch(static_cast<wchar_t>(wc));
    } else {
      chord = true;
      if (wc == L'[') {
        // Parameter and intermediate bytes up to the final byte.
        for (wint_t next = 0; get_wch(&next) == OK && next >= 0x20 && next < 0x40;) {
        }
      } else if (wc == L'O') {
        get_wch(&wc);  // SS3 and its one byte; Alt+O alone has nothing behind
      }
    }
  }
  wtimeout(stdscr, waitMs);
  return chord;
}

}  // namespace

TerminalConsole::~TerminalConsole() { Stop(); }

void TerminalConsole::Start(const Screen& screen) {
  if (started_) return;
  std::setlocale(LC_ALL, "");
  const char* codeset = nl_langinfo(CODESET);
  utf8_ = codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);

  InstallSignalHandlers();
  // Esc must act at once: curses waits a whole second by default to see
  // whether an escape sequence follows.
  set_escdelay(25);
  SCREEN* terminal = newterm(nullptr, stdout, stdin);
  if (!terminal) {
    const char* term = std::getenv("TERM");
    std::fprintf(stderr, "tarvelin: cannot use terminal type '%s'\n", term ? term : "");
    std::exit(1);
  }
  if (!CanAddressCursor()) {
    // TERM=dumb, a printing terminal: the forms would come out as one long
    // stream of text with the notices run together.
    endwin();
    delscreen(terminal);
    const char* term = std::getenv("TERM");
    std::fprintf(stderr, "tarvelin: terminal type '%s' cannot position the cursor\n", term ? term : "");
    std::exit(1);
  }
  gCursesActive = 1;
  started_ = true;
  ChainResizeHandler();
  set_escdelay(25);
  cbreak();
  // Ctrl+C is a key of the screen (it asks before leaving, as the Exit item
  // does) rather than the terminal's interrupt; a SIGINT sent from outside
  // still ends the tool at once. Ctrl+Z and Ctrl+\ keep their meaning.
  {
    termios tio{};
    if (tcgetattr(STDIN_FILENO, &tio) == 0) {
      tio.c_cc[VINTR] = _POSIX_VDISABLE;
      tcsetattr(STDIN_FILENO, TCSANOW, &tio);
      def_prog_mode();
    }
  }
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  keypad(stdscr, TRUE);
  wtimeout(stdscr, kKeyWaitSliceMs);
  for (const KeySequence& k : kExtraSequences)
    if (key_defined(k.bytes) == 0) define_key(k.bytes, k.curses);
  leaveok(stdscr, FALSE);
  curs_set(1);
  // As on a PC screen: an underline cursor, a block while a field types
  // over. Terminals without styles get curses' "very visible" cursor for
  // the block (a block on the Linux console).
  cursorStyles_ = CursorStyle("Ss") != nullptr && CursorStyle("Se") != nullptr;
  if (cursorStyles_) putp(tiparm(CursorStyle("Ss"), blockCursor_ ? StyleBlock : StyleUnderline));

  color_ = has_colors();
  if (color_) {
    start_color();
    colors16_ = COLORS >= 16;
  }

  // Many terminals open at 80x24. One that speaks xterm's window operations
  // may grow on request (CSI 8;rows;cols t); the answer comes as a resize.
  if (TooSmall()) {
    const char* term = std::getenv("TERM");
    if (term && std::strncmp(term, "xterm", 5) == 0 && !std::getenv("TMUX") && !std::getenv("STY")) {
      putp("\033[8;25;80t");
      std::fflush(stdout);
    }
  }
  shownValid_ = false;
  Present(screen);
}

void TerminalConsole::Stop() {
  if (!started_) return;
  // Leave an empty terminal in its own colours, cursor visible.
  attrset(A_NORMAL);
  bkgdset(' ');
  erase();
  move(0, 0);
  curs_set(1);
  if (cursorStyles_) putp(CursorStyle("Se"));
  refresh();
  gCursesActive = 0;
  endwin();
  std::fflush(stdout);
  started_ = false;
  signal(SIGWINCH, SIG_DFL);
}

short TerminalConsole::PairFor(uint8_t attr) {
  if (pairOf_[attr] != 0 || !color_) return pairOf_[attr];
  if (nextPair_ >= COLOR_PAIRS) return 0;  // out of pairs: terminal defaults
  short fg = kPcToCurses[attr & 7];
  short bg = kPcToCurses[(attr >> 4) & 7];
  if (colors16_) {
    if (attr & 0x08) fg = static_cast<short>(fg + 8);
    if (attr & 0x80) bg = static_cast<short>(bg + 8);
  }
  init_pair(nextPair_, fg, bg);
  pairOf_[attr] = nextPair_;
  return nextPair_++;
}

void TerminalConsole::DrawCell(int x, int y, const ScreenCell& cell) {
  attr_t a = A_NORMAL;
  short pair = 0;
  if (color_) {
    pair = PairFor(cell.attr);
    // Bright foregrounds (14 yellow, 15 white) where only eight colours exist.
    if (!colors16_ && (cell.attr & 0x08)) a |= A_BOLD;
  } else {
    // Monochrome: the light-grey bars (menu bar, panels) in reverse video.
    if (((cell.attr >> 4) & 7) == 7) a |= A_REVERSE;
    if (cell.attr & 0x08) a |= A_BOLD;
  }
  const char32_t u = Cp866ToUnicode(cell.ch);
  if (utf8_ || (u >= 0x80 && LocaleHas(u) && !(u >= 0x2500 && u <= 0x25FF))) {
    wchar_t wc[2] = {static_cast<wchar_t>(u), L'\0'};
    cchar_t cc;
    setcchar(&cc, wc, a, pair, nullptr);
    mvadd_wch(y - 1, x - 1, &cc);
  } else {
    mvaddch(y - 1, x - 1, NarrowGlyph(cell.ch) | a | COLOR_PAIR(pair));
  }
}

void TerminalConsole::ApplyPendingResize() {
  if (!gResizePending) return;
  gResizePending = 0;
  int rows = 0, cols = 0;
  if (TerminalSize(rows, cols) && (rows != LINES || cols != COLS)) resizeterm(rows, cols);
  shownValid_ = false;
  noticeShown_ = false;
}

void TerminalConsole::DrawNotice() {
  attrset(A_NORMAL);
  bkgdset(' ');
  erase();
  curs_set(0);
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", COLS, LINES);
  // UTF-8: the Russian line only reaches the terminal in a UTF-8 locale.
  const std::string ru = std::string("Нужен терминал 80x25, сейчас ") + size;  // UTF-8
  const std::string en = std::string("Terminal must be 80x25, now ") + size;
  const std::string hint = "Enlarge the window";
  auto centred = [](int row, const std::string& text) {
    if (row < 0 || row >= LINES) return;
    std::wstring w(text.size(), L' ');
    const std::size_t n = std::mbstowcs(w.data(), text.c_str(), w.size());
    if (n == static_cast<std::size_t>(-1)) return;
    w.resize(n);
    const int len = static_cast<int>(w.size());
    const int shown = len < COLS ? len : COLS;
    const int col = (COLS - shown) / 2;
    mvaddnwstr(row, col, w.c_str(), shown);
  };
  const int mid = LINES / 2;
  if (utf8_) {
    centred(mid - 1, ru);
    centred(mid, en);
    centred(mid + 1, hint);
  } else {
    centred(mid, en);
    centred(mid + 1, hint);
  }
  refresh();
  noticeShown_ = true;
}

void TerminalConsole::Present(const Screen& screen) {
  if (!started_) return;
  ApplyPendingResize();
  if (TooSmall()) {
    shownValid_ = false;
    if (!noticeShown_) DrawNotice();
    return;
  }
  if (shownValid_ && screen.Version() == shownVersion_) return;

  if (!shownValid_) {
    // Full repaint: everything outside the 80x25 grid (top-left) blank, and
    // the terminal redrawn from scratch, whatever it showed before.
    attrset(A_NORMAL);
    bkgdset(' ');
    erase();
    clearok(curscr, TRUE);
    noticeShown_ = false;
  }
  for (int y = 1; y <= ScreenHeight; ++y) {
    for (int x = 1; x <= ScreenWidth; ++x) {
      const ScreenCell& c = screen.At(x, y);
      if (shownValid_ && shown_[y - 1][x - 1] == c) continue;
      DrawCell(x, y, c);
      shown_[y - 1][x - 1] = c;
    }
  }
  shownValid_ = true;
  shownVersion_ = screen.Version();
  if (shownCursorX_ != screen.CursorX() || shownCursorY_ != screen.CursorY()) {
    shownCursorX_ = screen.CursorX();
    shownCursorY_ = screen.CursorY();
  }
  attrset(A_NORMAL);
  curs_set(blockCursor_ && !cursorStyles_ ? 2 : 1);
  move(screen.CursorY() - 1, screen.CursorX() - 1);
  refresh();
}

void TerminalConsole::SetBlockCursor(bool block) {
  blockCursor_ = block;
  if (!started_ || noticeShown_) return;
  if (cursorStyles_) {
    putp(tiparm(CursorStyle("Ss"), block ? StyleBlock : StyleUnderline));
    std::fflush(stdout);
  } else {
    curs_set(block ? 2 : 1);
  }
}

KeyPress TerminalConsole::NextKey(const Screen& screen) {
  for (;;) {
    Present(screen);
    if (!started_) return KeyPress{false, static_cast<uint8_t>(key::Esc)};
    wint_t wc = 0;
    errno = 0;
    const int r = get_wch(&wc);
    if (r == ERR) {
      if (errno == EINTR || gResizePending || !InputGone()) continue;
      // The terminal is gone (hang-up, closed input): nobody can answer.
      // The hooks give the serial line back before the process ends.
      Stop();
      ExitAfterHooks(1);
    }
    if (r == KEY_CODE_YES) {
      if (wc == KEY_RESIZE) {
        gResizePending = 1;  // repaint completely at the next Present
        continue;
      }
    } else if (wc == 0x1B && TakeAltChord(kKeyWaitSliceMs)) {
      continue;
    }
    // While the size notice stands the operator cannot see what a key would
    // do: keys typed blind are dropped.
    ApplyPendingResize();
    if (TooSmall()) continue;
    KeyPress k;
    if (DecodeKey(r, wc, k)) return k;
  }
}

bool TerminalConsole::PollKey(const Screen& screen, KeyPress& key) {
  (void)screen;
  if (!started_) return false;
  bool got = false;
  wtimeout(stdscr, 0);
  for (;;) {
    wint_t wc = 0;
    const int r = get_wch(&wc);
    if (r == ERR) break;
    if (r == KEY_CODE_YES && wc == KEY_RESIZE) {
      gResizePending = 1;
      continue;
    }
    if (r != KEY_CODE_YES && wc == 0x1B && TakeAltChord(0)) continue;
    if (DecodeKey(r, wc, key)) {
      got = true;
      break;
    }
  }
  wtimeout(stdscr, kKeyWaitSliceMs);
  return got;
}

bool TerminalConsole::WaitKey(const Screen& screen, KeyPress& key, std::chrono::milliseconds within) {
  if (!started_) return false;
  const auto deadline = std::chrono::steady_clock::now() + within;
  for (;;) {
    Present(screen);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    wtimeout(stdscr, static_cast<int>(std::min<long long>(left, kKeyWaitSliceMs)));
    wint_t wc = 0;
    errno = 0;
    const int r = get_wch(&wc);
    wtimeout(stdscr, kKeyWaitSliceMs);
    if (r == ERR) {
      if (errno == EINTR || gResizePending || !InputGone()) continue;
      Stop();
      ExitAfterHooks(1);
    }
    if (r == KEY_CODE_YES && wc == KEY_RESIZE) {
      gResizePending = 1;
      continue;
    }
    if (r != KEY_CODE_YES && wc == 0x1B && TakeAltChord(kKeyWaitSliceMs)) continue;
    ApplyPendingResize();
    if (DecodeKey(r, wc, key)) return true;
  }
}

void TerminalConsole::DiscardTypeahead() {
  if (started_) flushinp();
}

void TerminalConsole::RunCommand(const char* commandLine, const Screen& screen) {
  if (!started_) {
    (void)std::system(commandLine);
    return;
  }
  def_prog_mode();
  gCursesActive = 0;
  endwin();
  std::fflush(stdout);
  const int rc = std::system(commandLine);
  (void)rc;
  reset_prog_mode();
  gCursesActive = 1;
  // The window may have changed size while the command had it.
  gResizePending = 1;
  ApplyPendingResize();
  shownValid_ = false;
  Present(screen);
}

}  // namespace tv
