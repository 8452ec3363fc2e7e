// What curses and the process's signals share: a fault, a hang-up or a kill
// puts the terminal back before the process dies, and a window resize is
// noted for the next frame.
#pragma once

#include <csignal>

namespace tv {

// Whether curses has the terminal (the exit hook calls endwin() only then).
extern volatile std::sig_atomic_t gCursesActive;
// Set by SIGWINCH and by curses' KEY_RESIZE; the next frame applies the
// terminal's new size and repaints completely.
extern volatile std::sig_atomic_t gResizePending;

// The exit hook that ends curses, and the handlers of the ending signals.
// Called before newterm, so curses leaves SIGINT/SIGTERM to them.
void InstallSignalHandlers();
// Puts the resize flag in front of the SIGWINCH handler curses installed.
// Called after newterm.
void ChainResizeHandler();

}  // namespace tv
