// The ncursesw terminal behind the screen. The grid is drawn cell by cell from
// the cp866 table; only cells that changed since the last frame are written,
// so an arrow move in a menu costs a few dozen bytes, not a whole screen.
//
// PC attribute bytes become curses colour pairs on demand. PC colour numbers
// are not ANSI numbers: PC 1 is blue and PC 4 red, ANSI the other way round,
// so 0x1E (yellow on blue) is ANSI foreground 3 bright (11) on background 4.
#include "platform/posix/terminal_console.h"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cp866/code_page.h"
#include "platform/posix/curses_wide.h"
#include "platform/posix/terminal_glyphs.h"
#include "platform/posix/terminal_keys.h"
#include "platform/posix/terminal_signals.h"

namespace tv {

namespace {

// PC colour (low three bits) to curses colour.
constexpr short kPcToCurses[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                                  COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};

// The screen size as the terminal has it now (curses' LINES/COLS lag behind
// a resize until it is applied).
bool TerminalSize(int& rows, int& cols) {
  struct winsize ws = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_row == 0 || ws.ws_col == 0) return false;
  rows = ws.ws_row;
  cols = ws.ws_col;
  return true;
}

// Whether the terminal type can put the cursor anywhere on the screen.
bool CanAddressCursor() {
  const char* cup = tigetstr("cup");
  // tigetstr answers (char*)-1 for a name that is not a string capability.
  return cup != nullptr && cup != reinterpret_cast<char*>(-1) &&  // NOLINT(performance-no-int-to-ptr)
         tigetflag("hc") <= 0 && tigetflag("gn") <= 0;
}

// The terminal's cursor-style sequences (DECSCUSR: xterm, VTE, Konsole,
// tmux), or nullptr when its type has none.
const char* CursorStyle(const char* name) {
  const char* s = tigetstr(name);
  return s != nullptr && s != reinterpret_cast<char*>(-1) ? s : nullptr;  // NOLINT(performance-no-int-to-ptr)
}
constexpr int StyleBlock = 2, StyleUnderline = 4;  // steady

}  // namespace

TerminalConsole::~TerminalConsole() { Stop(); }

bool TerminalConsole::TooSmall() { return LINES < ScreenHeight || COLS < ScreenWidth; }

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
  DefineExtraKeySequences();
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
