#!/bin/sh
# make run: the logger in RUNDIR, on six simulated instruments unless
# RUNDIR/comports.map is one a user wrote.
#
#   tools/make-run.sh BUILD RUNDIR
#
# The simulator is started only when RUNDIR/comports.map is missing or was
# written by the simulator (its first line says so); it writes a new one
# naming its instruments and every other port none, so the logger touches no
# real serial device. A comports.map of the user's own is never replaced:
# then the logger runs alone, on the devices it names.
#
# Without a display the logger runs offscreen until Ctrl-C. Quitting the
# logger, or Ctrl-C, stops the simulator too; it then prints what each
# instrument sent (see tools/instrument-sim/main.cpp).
set -eu

build=$(cd "$1" && pwd)
mkdir -p "$2"
rundir=$(cd "$2" && pwd)
map="$rundir/comports.map"
marker='# written by instrument-sim'

# Whether Qt has a display to show the window on: a Wayland display, or an X
# display whose local socket is there (a remote one is taken on trust).
have_display() {
    [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
    case "${DISPLAY:-}" in
        '') return 1 ;;
        :*|unix:*) number=${DISPLAY#*:}; [ -S "/tmp/.X11-unix/X${number%%.*}" ] ;;
        *) return 0 ;;
    esac
}

simulated=no
if [ ! -e "$map" ] || [ "$(head -c ${#marker} "$map")" = "$marker" ]; then
    simulated=yes
fi

sim_pid=
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" || true
        sim_pid=
    fi
}
# Ctrl-C reaches the logger and the simulator as well; this shell only waits
# for them to end.
trap 'stop_sim' EXIT
trap ':' INT TERM

if [ "$simulated" = yes ]; then
    rm -f "$map"
    "$build/instrument-sim" -d "$rundir" -c \
        COM1=nmea COM2=weather COM3=binary COM4=chatty COM5=pattern COM6=nmea:9600 &
    sim_pid=$!
    # The map appears once every instrument is ready.
    tries=0
    while [ ! -e "$map" ]; do
        kill -0 "$sim_pid" 2>/dev/null || { echo "make run: the simulator did not start" >&2; exit 1; }
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || { echo "make run: the simulator did not start in 10 s" >&2; exit 1; }
        sleep 0.1
    done
else
    echo "make run: $map is your own: logging the devices it names (no simulator)"
fi

if [ -z "${QT_QPA_PLATFORM:-}" ] && ! have_display; then
    export QT_QPA_PLATFORM=offscreen
    echo "make run: no display, so the logger runs headless (offscreen); data go to $rundir/D$(date +%j)/; Ctrl-C stops it"
fi

status=0
(cd "$rundir" && exec "$build/vornacq4") || status=$?
stop_sim
exit "$status"
