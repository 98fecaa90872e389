#!/bin/sh
# Runs a Windows test binary under Wine with a private prefix and no debug noise.
: "${WINEPREFIX:=/tmp/avdconv-wine}"
export WINEPREFIX WINEDEBUG=-all
# A Windows program here cannot start the Linux ffprobe, so the tests that
# need it skip under Wine whatever the run requires of the native ones.
unset AVD_REQUIRE_MEDIA
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine
exec "$WINE" "$@"
