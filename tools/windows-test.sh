#!/bin/sh
# Cross-builds the logger for Windows with mingw-w64 into BUILD (default
# build-windows) and runs its tests under wine, in a wine prefix made for the
# run and removed after it:
#
#   tools/windows-test.sh [BUILD]                 build, package, test
#   tools/windows-test.sh [BUILD] --package-only  build and package
#
# The build takes Qt for Windows from tools/windows-qt.sh (its cache, or
# VORN_QT_WINDOWS_ARCHIVE), and leaves BUILD/vornacq4/, the folder that runs
# on Windows as it stands, and BUILD/vornacq4-VERSION-setup.exe, its
# installer. The tests: BUILD's own (the half without a window, ctest), then
# the windowed program end to end (wine_tests of the Linux build
# VORN_LINUX_BUILD, default build), on an X display of the run's own (Xvfb).
#
# Wine looks for the machine's serial devices (/dev/ttyS*, ttyUSB*, ttyACM*)
# when a prefix starts and maps each one it finds to a COM port. No test may
# touch them, so the tests run in a mount namespace of their own whose /dev
# holds only what programs need (null, zero, random, tty, the pseudo-terminals,
# shared memory) and no serial device at all: the COM ports of the prefix are
# only those the tests link in, each one end of a pseudo-terminal pair. The
# run stops if a COM port of the prefix leads anywhere else.
set -eu
BUILD=${1:-build-windows}
JOBS=${JOBS:-$(nproc)}
here=$(cd "$(dirname "$0")/.." && pwd)
LINUX_BUILD=$(cd "${VORN_LINUX_BUILD:-$here/build}" && pwd)

if [ "${2:-}" != --tests-only ]; then
    qt=$("$here/tools/windows-qt.sh")
    cmake -S "$here" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DVORN_QT_WINDOWS="$qt" >/dev/null
    cmake --build "$BUILD" -j "$JOBS"
    # The folder and its installer, made afresh: nothing left from before.
    rm -rf "$BUILD/vornacq4" "$BUILD"/vornacq4-*-setup.exe
    cmake --install "$BUILD" --prefix "$BUILD/vornacq4" >/dev/null
    makensis -V2 "$BUILD/vornacq4.nsi"
    [ "${2:-}" = --package-only ] && exit 0
fi
BUILD=$(cd "$BUILD" && pwd)

if [ -z "${VORN_DEVICES_HIDDEN:-}" ]; then
    if [ "$(id -u)" = 0 ]; then
        exec env VORN_DEVICES_HIDDEN=1 VORN_LINUX_BUILD="$LINUX_BUILD" unshare --mount --propagation private \
            "$0" "$BUILD" --tests-only
    fi
    exec env VORN_DEVICES_HIDDEN=1 VORN_LINUX_BUILD="$LINUX_BUILD" unshare --user --map-root-user --mount --propagation private \
        "$0" "$BUILD" --tests-only
fi
keep=$(mktemp -d /tmp/vorn-dev.XXXXXX)
mount --rbind /dev "$keep"
mount -t tmpfs -o mode=755 tmpfs /dev
for node in null zero full random urandom tty; do
    [ -e "$keep/$node" ] || continue
    touch "/dev/$node"
    mount --bind "$keep/$node" "/dev/$node"
done
# Pseudo-terminals of the namespace's own, as containers have them.
mkdir /dev/pts /dev/shm
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts /dev/pts
ln -s pts/ptmx /dev/ptmx
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
ln -s /proc/self/fd /dev/fd
for n in 0 1 2; do ln -s "fd/$n" "/dev/$(echo stdin stdout stderr | cut -d' ' -f$((n + 1)))"; done
if ls /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1; then
    echo "windows-test: serial devices still in sight" >&2
    exit 1
fi

WINEPREFIX=$(mktemp -d /tmp/vorn-wine.XXXXXX)
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
xvfb=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$WINEPREFIX.display"
    # The machine's /dev, seen through $keep: let go of it, never delete in it.
    umount -R -l "$keep" 2>/dev/null && rmdir "$keep"
}
trap cleanup EXIT INT TERM

# An X display of the run's own for the windowed program, there before the
# prefix starts: wine takes the screen's size from it then.
Xvfb -displayfd 5 -screen 0 1400x900x24 -nolisten tcp 5>"$WINEPREFIX.display" 2>/dev/null &
xvfb=$!
i=0
while [ ! -s "$WINEPREFIX.display" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
[ -s "$WINEPREFIX.display" ] || { echo "windows-test: Xvfb did not start" >&2; exit 1; }
DISPLAY=:$(cat "$WINEPREFIX.display")
export DISPLAY

# One wine server for the whole run.
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1 || true
if find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' -type l | grep -q .; then
    echo "windows-test: the wine prefix still maps a COM port:" >&2
    ls -l "$WINEPREFIX/dosdevices" >&2
    exit 1
fi

(cd "$BUILD" && ctest --output-on-failure -j "$JOBS")

setup=$(ls "$BUILD"/vornacq4-*-setup.exe)
VORN_WINDOWS_FOLDER="$BUILD/vornacq4" VORN_WINDOWS_SETUP="$setup" "$LINUX_BUILD/wine_tests" \
    ${VORN_WINE_TESTS:+--gtest_filter="$VORN_WINE_TESTS"}
