#!/bin/sh
# Runs a Windows test binary under Wine with a private prefix and no debug noise.
: "${WINEPREFIX:=/tmp/avdconv-wine}"
export WINEPREFIX WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine
exec "$WINE" "$@"
