// The terminal's keys as the screens read them: waiting for one while the
// frame stays up to date, looking for one without waiting, telling Alt+key
// from Esc, and ending the tool when the terminal is gone.
#include "platform/posix/terminal_console.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/posix/curses_wide.h"
#include "platform/posix/emergency_exit.h"
#include "platform/posix/terminal_keys.h"
#include "platform/posix/terminal_signals.h"
#include "screen/keys.h"

namespace tv {

namespace {

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

}  // namespace tv
