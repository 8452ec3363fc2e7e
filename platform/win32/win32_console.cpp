// The Win32 console; see win32_console.h.
//
// PC attribute bytes are console attributes as they are: the low nibble the
// foreground (blue 1, green 2, red 4, bright 8), the high nibble the
// background. With the output code page at 866 the grid's bytes are written
// unchanged (WriteConsoleOutputA); where that code page cannot be set they
// are turned into UTF-16 here (WriteConsoleOutputW). Only the rectangle that
// holds the cells changed since the last frame is written.
#include "platform/win32/win32_console.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "cp866/code_page.h"
#include "platform/win32/console_keys.h"

namespace tv {

namespace {

// The console as the operator had it. Read by the control handler, which
// Windows runs on a thread of its own: everything is in place before
// gSaved.valid is set.
struct SavedConsole {
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE out = INVALID_HANDLE_VALUE;   // the operator's screen buffer
  HANDLE tool = INVALID_HANDLE_VALUE;  // the tool's, or out when none could be made
  DWORD inMode = 0;
  DWORD outMode = 0;
  UINT inCp = 0;
  UINT outCp = 0;
  CONSOLE_CURSOR_INFO cursor{};
  volatile LONG taken = 0;  // the tool's buffer and modes are in place
};
SavedConsole gSaved;

void RestoreOperatorConsole() {
  if (InterlockedExchange(&gSaved.taken, 0) == 0) return;
  SetConsoleActiveScreenBuffer(gSaved.out);
  SetConsoleMode(gSaved.in, gSaved.inMode);
  SetConsoleMode(gSaved.out, gSaved.outMode);
  if (gSaved.outCp) SetConsoleOutputCP(gSaved.outCp);
  if (gSaved.inCp) SetConsoleCP(gSaved.inCp);
  SetConsoleCursorInfo(gSaved.out, &gSaved.cursor);
}

// Set while a command the tool runs has the console: Ctrl+C is then the
// command's, as system() leaves SIGINT to the child on POSIX.
volatile LONG gCommandRunning = 0;

// Ctrl+C, Ctrl+Break, the window closed, the user logging off: the console
// goes back to the operator before the process ends. The serial port is let
// go by the system with the process.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && gCommandRunning) return TRUE;
  RestoreOperatorConsole();
  return FALSE;  // the default handler ends the process
}

HANDLE OpenConsole(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// An 80x25 buffer with a window of the same size. A window larger than the
// new buffer must shrink first.
void SizeTo80x25(HANDLE buffer) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(buffer, &info)) {
    SMALL_RECT w = info.srWindow;
    const SHORT width = static_cast<SHORT>(w.Right - w.Left + 1);
    const SHORT height = static_cast<SHORT>(w.Bottom - w.Top + 1);
    if (width > ScreenWidth || height > ScreenHeight) {
      SMALL_RECT smaller{0, 0, static_cast<SHORT>((width < ScreenWidth ? width : ScreenWidth) - 1),
                         static_cast<SHORT>((height < ScreenHeight ? height : ScreenHeight) - 1)};
      SetConsoleWindowInfo(buffer, TRUE, &smaller);
    }
  }
  SetConsoleScreenBufferSize(buffer, COORD{ScreenWidth, ScreenHeight});
  SMALL_RECT full{0, 0, ScreenWidth - 1, ScreenHeight - 1};
  SetConsoleWindowInfo(buffer, TRUE, &full);
}

}  // namespace

Win32Console::~Win32Console() { Stop(); }

void Win32Console::Start(const Screen& screen) {
  if (started_) return;
  gSaved.in = OpenConsole("CONIN$");
  gSaved.out = OpenConsole("CONOUT$");
  if (gSaved.in == INVALID_HANDLE_VALUE || gSaved.out == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "tarvelin: no console to run in\n");
    std::exit(1);
  }
  GetConsoleMode(gSaved.in, &gSaved.inMode);
  GetConsoleMode(gSaved.out, &gSaved.outMode);
  gSaved.inCp = GetConsoleCP();
  gSaved.outCp = GetConsoleOutputCP();
  GetConsoleCursorInfo(gSaved.out, &gSaved.cursor);
  gSaved.tool = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (gSaved.tool == INVALID_HANDLE_VALUE) gSaved.tool = gSaved.out;  // draw over the operator's
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  started_ = true;
  Take();
  Present(screen);
}

void Win32Console::Take() {
  // The input mode: key events only, no line editing or echo; Ctrl+C is a
  // key of the screen (it asks before leaving, as the Exit item does), while
  // a Ctrl+C event from outside still ends the tool through the handler.
  // Quick edit off: a mouse click must not freeze the screen.
  SetConsoleMode(gSaved.in, ENABLE_EXTENDED_FLAGS);
  cp866_ = SetConsoleOutputCP(866) != 0;
  SetConsoleCP(866);
  if (gSaved.tool != gSaved.out) SetConsoleActiveScreenBuffer(gSaved.tool);
  SetConsoleMode(gSaved.tool, ENABLE_PROCESSED_OUTPUT);
  SizeTo80x25(gSaved.tool);
  CONSOLE_CURSOR_INFO cursor{25, TRUE};
  SetConsoleCursorInfo(gSaved.tool, &cursor);
  InterlockedExchange(&gSaved.taken, 1);
  shownValid_ = false;
  repeatsLeft_ = 0;
}

void Win32Console::GiveBack() { RestoreOperatorConsole(); }

void Win32Console::Stop() {
  if (!started_) return;
  // The tool's buffer is dropped whole: the operator's comes back with what
  // it showed. Drawing over the operator's buffer (no buffer of its own)
  // leaves it blank in its first colours.
  if (gSaved.tool == gSaved.out) {
    const DWORD cells = ScreenWidth * ScreenHeight;
    DWORD n = 0;
    FillConsoleOutputCharacterA(gSaved.out, ' ', cells, COORD{0, 0}, &n);
    FillConsoleOutputAttribute(gSaved.out, FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE, cells,
                               COORD{0, 0}, &n);
    SetConsoleCursorPosition(gSaved.out, COORD{0, 0});
  }
  GiveBack();
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  if (gSaved.tool != gSaved.out) CloseHandle(gSaved.tool);
  CloseHandle(gSaved.in);
  CloseHandle(gSaved.out);
  gSaved.in = gSaved.out = gSaved.tool = INVALID_HANDLE_VALUE;
  started_ = false;
}

// The console's cursor size is the share of the cell it fills: 25 is the
// usual underline, 100 the whole cell.
void Win32Console::SetBlockCursor(bool block) {
  if (!started_) return;
  CONSOLE_CURSOR_INFO cursor{block ? 100u : 25u, TRUE};
  SetConsoleCursorInfo(gSaved.tool, &cursor);
}

void Win32Console::Present(const Screen& screen) {
  if (!started_) return;
  if (!shownValid_ || screen.Version() != shownVersion_) {
    // The rectangle around the changed cells.
    int left = ScreenWidth, right = -1, top = ScreenHeight, bottom = -1;
    for (int y = 0; y < ScreenHeight; ++y)
      for (int x = 0; x < ScreenWidth; ++x) {
        if (shownValid_ && shown_[y][x] == screen.At(x + 1, y + 1)) continue;
        if (x < left) left = x;
        if (x > right) right = x;
        if (y < top) top = y;
        if (y > bottom) bottom = y;
      }
    if (right >= 0) {
      const int width = right - left + 1;
      const int height = bottom - top + 1;
      CHAR_INFO cells[ScreenWidth * ScreenHeight];
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const ScreenCell& c = screen.At(left + x + 1, top + y + 1);
          shown_[top + y][left + x] = c;
          CHAR_INFO& out = cells[y * width + x];
          if (cp866_)
            out.Char.AsciiChar = static_cast<CHAR>(c.ch);
          else
            out.Char.UnicodeChar = static_cast<WCHAR>(Cp866ToUnicode(c.ch));
          out.Attributes = c.attr;
        }
      SMALL_RECT region{static_cast<SHORT>(left), static_cast<SHORT>(top), static_cast<SHORT>(right),
                        static_cast<SHORT>(bottom)};
      const COORD size{static_cast<SHORT>(width), static_cast<SHORT>(height)};
      if (cp866_)
        WriteConsoleOutputA(gSaved.tool, cells, size, COORD{0, 0}, &region);
      else
        WriteConsoleOutputW(gSaved.tool, cells, size, COORD{0, 0}, &region);
    }
    shownValid_ = true;
    shownVersion_ = screen.Version();
  }
  if (shownCursorX_ != screen.CursorX() || shownCursorY_ != screen.CursorY()) {
    shownCursorX_ = screen.CursorX();
    shownCursorY_ = screen.CursorY();
    SetConsoleCursorPosition(
        gSaved.tool, COORD{static_cast<SHORT>(shownCursorX_ - 1), static_cast<SHORT>(shownCursorY_ - 1)});
  }
}

bool Win32Console::ReadKey(KeyPress& key, bool wait) {
  if (repeatsLeft_ > 0) {
    --repeatsLeft_;
    key = repeatKey_;
    return true;
  }
  for (;;) {
    if (!wait) {
      DWORD waiting = 0;
      if (!GetNumberOfConsoleInputEvents(gSaved.in, &waiting) || waiting == 0) return false;
    }
    INPUT_RECORD record{};
    DWORD n = 0;
    if (!ReadConsoleInputW(gSaved.in, &record, 1, &n)) {
      // The console is gone: nobody can answer.
      Stop();
      std::exit(1);
    }
    if (n == 0 || record.EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& k = record.Event.KeyEvent;
    const ConsoleKeyEvent event{k.bKeyDown != FALSE, k.wVirtualKeyCode, k.wVirtualScanCode,
                                static_cast<char16_t>(k.uChar.UnicodeChar), k.dwControlKeyState};
    if (!MapConsoleKey(event, key)) continue;
    if (k.wRepeatCount > 1) {
      repeatKey_ = key;
      repeatsLeft_ = k.wRepeatCount - 1;
    }
    return true;
  }
}

KeyPress Win32Console::NextKey(const Screen& screen) {
  Present(screen);
  if (!started_) return KeyPress{false, 0x1B};
  KeyPress key;
  ReadKey(key, true);
  return key;
}

bool Win32Console::PollKey(const Screen& screen, KeyPress& key) {
  (void)screen;
  return started_ && ReadKey(key, false);
}

bool Win32Console::WaitKey(const Screen& screen, KeyPress& key, std::chrono::milliseconds within) {
  if (!started_) return false;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(within.count());
  for (;;) {
    Present(screen);
    if (ReadKey(key, false)) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    // Woken by any input event; one that is no key (focus, mouse) is read
    // past by ReadKey and the wait goes on for what is left.
    WaitForSingleObject(gSaved.in, static_cast<DWORD>(deadline - now));
  }
}

void Win32Console::DiscardTypeahead() {
  repeatsLeft_ = 0;
  if (started_) FlushConsoleInputBuffer(gSaved.in);
}

void Win32Console::RunCommand(const char* commandLine, const Screen& screen) {
  if (!started_) {
    (void)std::system(commandLine);
    return;
  }
  GiveBack();
  InterlockedExchange(&gCommandRunning, 1);
  const int rc = std::system(commandLine);  // through the command interpreter
  (void)rc;
  InterlockedExchange(&gCommandRunning, 0);
  Take();
  shownCursorX_ = shownCursorY_ = 0;
  Present(screen);
}

}  // namespace tv
