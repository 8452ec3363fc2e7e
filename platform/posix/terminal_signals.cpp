// The terminal's signals. A fault, a hang-up or a kill must not leave the
// operator's terminal in raw mode with the cursor off: the ending-signal
// handlers run the exit hooks, and the terminal's hook calls endwin().
// endwin() is not async-signal-safe; for a process that is about to die that
// is the usual pragmatic trade (the worst case is a terminal left as it would
// be without the hook). A resize only sets a flag and passes the signal on to
// the handler curses installed, so get_wch still reports KEY_RESIZE.
#include "platform/posix/terminal_signals.h"

#include "platform/posix/curses_wide.h"

#include "platform/posix/emergency_exit.h"

namespace tv {

volatile std::sig_atomic_t gCursesActive = 0;
volatile std::sig_atomic_t gResizePending = 0;

namespace {

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

}  // namespace

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

}  // namespace tv
