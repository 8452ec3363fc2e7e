#!/bin/sh
# tarvelin.exe under Wine in the current directory, as the end-to-end tests
# start a program (scripts/test-windows.sh sets the variables): the prefix's
# COM1 is the fixed path TV_WINE_COM1, linked here to ./COM1 of this
# directory (gwsim's link to its pseudo-terminal). The prefix's COM links are
# checked before every start. The modem-control shim makes DTR and RTS
# drivable on the pseudo-terminal (see modem_lines_shim.c).
set -eu
ln -sfn "$PWD/COM1" "$TV_WINE_COM1"
"$TV_WINE_CHECK_PORTS"
LD_PRELOAD="$TV_MODEM_LINES_SHIM" exec "$TV_WINE" "$TV_WINE_EXE" "$@"
