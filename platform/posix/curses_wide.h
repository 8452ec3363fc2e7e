// ncursesw with the wide-character functions (setcchar, get_wch, unget_wch):
// the files of this folder that draw or read keys take curses from here, so
// each sees the same declarations whatever feature macros its build sets.
#pragma once

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
