#!/bin/sh
# Cross-builds the Windows half of the logger with mingw-w64 into BUILD
# (default build-windows) and runs its tests under wine, in a wine prefix made
# for the run and removed after it.
#
# Wine maps COM ports to the machine's own serial devices (/dev/ttyS*) when
# it sets a prefix up. No test may touch those, so every COM number wine
# could hand out is taken first by an empty entry, and the run stops if any
# COM port of the prefix still leads to a device; the tests link their own
# pseudo-terminals in as they go.
set -eu
BUILD=${1:-build-windows}
JOBS=${JOBS:-$(nproc)}
here=$(cd "$(dirname "$0")/.." && pwd)

cmake -S "$here" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS"

WINEPREFIX=$(mktemp -d /tmp/vorn-wine.XXXXXX)
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT INT TERM

# Every COM number wine hands out (1..255) taken by an empty entry before the
# prefix first starts.
wineboot -i >/dev/null 2>&1 || true
reg="$WINEPREFIX/ports.reg"
{
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    n=1
    while [ $n -le 255 ]; do printf '"COM%d"=""\r\n' $n; n=$((n + 1)); done
} >"$reg"
wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
# Started again, the prefix keeps one wine server for the whole run.
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1 || true
# What is left over for the machine's own devices (COM256) goes too.
for link in "$WINEPREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    case $(readlink "$link") in
    /dev/*) rm -f "$link" ;;
    esac
done
if find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' -type l | grep -q .; then
    echo "windows-test: the wine prefix still maps a COM port:" >&2
    ls -l "$WINEPREFIX/dosdevices" >&2
    exit 1
fi

cd "$BUILD"
ctest --output-on-failure -j "$JOBS"
