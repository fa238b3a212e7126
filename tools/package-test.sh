#!/bin/sh
# Installs build/vornacq4_*.deb on this machine as a station would, tries
# what it installed, purges it and checks that only the data are left.
#   tools/package-test.sh BUILD     (as root; make package-test)
# It refuses to run where vornacq4 is installed already, and puts back what
# it changed: the user vornacq4 and /var/lib/vornacq4 go again if it made them.
set -eu
build=${1:-build}
data=/var/lib/vornacq4
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }
step() { echo "package-test: $*"; }

[ "$(id -u)" = 0 ] || { echo "package-test: skipped: it installs and purges a package, which needs root"; exit 0; }
state() { dpkg-query -W -f='${db:Status-Status}' vornacq4 2>/dev/null || echo not-installed; }
[ "$(state)" = not-installed ] || fail "vornacq4 is on this machine already ($(state)); it is left alone"
set -- "$build"/vornacq4_*.deb
[ $# = 1 ] && [ -f "$1" ] || fail "expected one package in $build, found: $*"
deb=$(realpath "$1")

had_user=no; getent passwd vornacq4 >/dev/null && had_user=yes
had_data=no; [ -e "$data" ] && had_data=yes
scratch=$(mktemp -d)
cleanup() {
    dpkg --purge vornacq4 >/dev/null 2>&1 || true
    [ "$had_user" = yes ] || { deluser --quiet vornacq4 >/dev/null 2>&1 || true; delgroup --quiet vornacq4 >/dev/null 2>&1 || true; }
    [ "$had_data" = yes ] || rm -rf "$data"
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

step "installing $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" >"$scratch/apt.log" 2>&1 ||
    { cat "$scratch/apt.log" >&2; fail "apt-get install"; }
dpkg -L vornacq4 >"$scratch/files"

step "the user"
entry=$(getent passwd vornacq4) || fail "no user vornacq4"
[ "$(echo "$entry" | cut -d: -f6)" = "$data" ] || fail "vornacq4's home is not $data: $entry"
[ "$(echo "$entry" | cut -d: -f3)" -lt 1000 ] || fail "vornacq4 is not a system user: $entry"
id -nG vornacq4 | tr ' ' '\n' | grep -qx dialout || fail "vornacq4 is not in dialout: $(id -nG vornacq4)"
[ "$(stat -c %U "$data")" = vornacq4 ] || fail "$data does not belong to vornacq4"

step "the files"
for f in /usr/bin/vornacq4 /usr/bin/vornacq4-when /usr/lib/vornacq4/vornacq4 /usr/lib/vornacq4/vornacq4.uir \
         /lib/systemd/system/vornacq4.service /usr/share/man/man1/vornacq4.1.gz /usr/share/man/man1/vornacq4-when.1.gz \
         /usr/share/doc/vornacq4/examples/vornacq4-alerts.yml /usr/share/doc/vornacq4/examples/network.map; do
    grep -qx "$f" "$scratch/files" || fail "$f is not in the package"
    [ -e "$f" ] || fail "$f is not installed"
done
for page in vornacq4 vornacq4-when; do
    zcat "/usr/share/man/man1/$page.1.gz" | grep -q '^\.SH NAME' || fail "$page(1) is no manual page"
done
grep -q '^License: Expat$' /usr/share/doc/vornacq4/copyright || fail "the copyright file gives no MIT (Expat) licence"
status=0; /usr/bin/vornacq4-when >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || fail "vornacq4-when without a command: status $status, not 2 (a wrong command line)"

step "systemd-analyze verify"
systemd-analyze verify --man=no /lib/systemd/system/vornacq4.service >"$scratch/verify" 2>&1 ||
    { cat "$scratch/verify" >&2; fail "systemd-analyze verify"; }
if grep -q vornacq4.service "$scratch/verify"; then cat "$scratch/verify" >&2; fail "systemd-analyze verify"; fi

# The installed program on six simulated instruments, in a start-up directory
# of its own: every byte sent after the start is in its port's files, across
# midnight and after SIGTERM (the end-to-end test, run on /usr/bin/vornacq4).
step "the installed logger, byte for byte"
VORNACQ4_UNDER_TEST=/usr/bin/vornacq4 QT_QPA_PLATFORM=offscreen "$build/e2e_tests" \
    --gtest_filter='LoggerRun.EveryByteSentAfterTheStartIsInItsPortsFilesAcrossMidnightAndAfterSigterm' \
    >"$scratch/run.log" 2>&1 || { cat "$scratch/run.log" >&2; fail "the installed logger"; }
grep -q '\[  PASSED  \] 1 test' "$scratch/run.log" || { cat "$scratch/run.log" >&2; fail "the test did not run"; }

# A station's data, which an upgrade (here the package installed over
# itself) and a purge must leave as they are.
mkdir -p "$data/D045"
echo "a station's data" >"$data/D045/04536005.C02"
step "installed again over itself"
dpkg -i "$deb" >"$scratch/again.log" 2>&1 || { cat "$scratch/again.log" >&2; fail "dpkg -i over itself"; }
[ "$(getent passwd vornacq4)" = "$entry" ] || fail "the user changed: $(getent passwd vornacq4)"

step "purge"
dpkg --purge vornacq4 >"$scratch/purge.log" 2>&1 || { cat "$scratch/purge.log" >&2; fail "dpkg --purge"; }
[ "$(state)" = not-installed ] || fail "dpkg still knows vornacq4: $(state)"
# Of what the package held, only directories that other packages share remain.
while read -r f; do
    [ -d "$f" ] && continue
    if [ -e "$f" ] || [ -L "$f" ]; then fail "$f is left after the purge"; fi
done <"$scratch/files"
for d in /usr/lib/vornacq4 /usr/share/doc/vornacq4; do [ ! -e "$d" ] || fail "$d is left after the purge"; done
[ "$(cat "$data/D045/04536005.C02")" = "a station's data" ] || fail "the purge took the data"
step "passed"
