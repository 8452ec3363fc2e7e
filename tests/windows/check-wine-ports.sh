#!/bin/sh
# Refuses (exit 1) when a COM or LPT name of the Wine prefix leads to a system
# serial device: on these machines the first of them is the machine's own
# console.
# Wine links the serial devices it finds to the COM names that the prefix's
# HKLM\Software\Wine\Ports leaves free, every time it starts the prefix.
# Usage: check-wine-ports.sh [--remove]   (--remove: drop such links first)
set -eu
dosdevices="${WINEPREFIX:?WINEPREFIX must be set}/dosdevices"
bad=0
for link in "$dosdevices"/com* "$dosdevices"/lpt*; do
  [ -L "$link" ] || continue
  target=$(readlink -f "$link" || true)
  case "$target" in
    /dev/ttyS*)
      if [ "${1:-}" = --remove ]; then
        rm -f "$link"
      else
        echo "check-wine-ports: $link leads to $target, a system serial device: refusing to run" >&2
        bad=1
      fi
      ;;
  esac
done
exit $bad
