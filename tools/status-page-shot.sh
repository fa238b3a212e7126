#!/bin/sh
# The README's picture of the status page: the real logger on simulated
# instruments, its page served on 127.0.0.1 and drawn by headless Chromium.
#
#   tools/status-page-shot.sh BUILD OUT.png [SECONDS]
#
# Four instruments talk for SECONDS (default 480) so that each graph has a
# few minutes behind it; COM3's adapter is pulled out halfway and
# stays out, and a client (curl) reads COM4's live feed. PORT (default 18080)
# and PORT+1 must be free on 127.0.0.1. Everything runs in a temporary
# start-up directory, which goes at the end.
set -eu

build=$(cd "$1" && pwd)
case $2 in /*) out=$2 ;; *) out=$(pwd)/$2 ;; esac
seconds=${3:-480}
port=${PORT:-18080}
feed=$((port + 1))
dir=$(mktemp -d)
sim_pid= logger_pid= client_pid=

stop() {
    for pid in $client_pid $logger_pid $sim_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$dir"
}
trap stop EXIT
trap 'exit 1' INT TERM

"$build/instrument-sim" -d "$dir" -c -u COM3:$((seconds / 2)):100000 \
    COM1=nmea COM2=weather COM3=binary COM4=chatty >/dev/null &
sim_pid=$!
tries=0
until [ -e "$dir/comports.map" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || { echo "status-page-shot: the simulator did not start" >&2; exit 1; }
    sleep 0.1
done

printf 'http 127.0.0.1:%s\nCOM4 tcp 127.0.0.1:%s\n' "$port" "$feed" >"$dir/network.map"
(cd "$dir" && QT_QPA_PLATFORM=offscreen exec "$build/vornacq4") 2>"$dir/stderr.txt" &
logger_pid=$!
# The countdown takes 12 s.
sleep 15
curl -s "telnet://127.0.0.1:$feed" >/dev/null </dev/null &
client_pid=$!
echo "status-page-shot: the instruments talk for $seconds s"
sleep "$seconds"
kill -0 "$logger_pid" 2>/dev/null || { echo "status-page-shot: the logger ended" >&2; cat "$dir/stderr.txt" >&2; exit 1; }

chromium --headless=new --no-sandbox --disable-gpu --no-first-run --hide-scrollbars \
    --user-data-dir="$dir/profile" --window-size=1000,700 --virtual-time-budget=3000 \
    --screenshot="$out" "http://127.0.0.1:$port/" 2>"$dir/chromium.log" ||
    { cat "$dir/chromium.log" "$dir/stderr.txt" >&2; exit 1; }
[ -s "$out" ] || { echo "status-page-shot: no page at http://127.0.0.1:$port/" >&2; cat "$dir/stderr.txt" >&2; exit 1; }
echo "status-page-shot: wrote $out"
