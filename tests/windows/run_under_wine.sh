#!/usr/bin/env bash
# Runs a cross-built testquorvex.exe on Wine's implementation of the Windows
# HID services, in the shared 64-bit prefix before any quorvex device is
# installed, and compares whole outputs (CR LF). Usage: run_under_wine.sh ARCH EXE
set -u
. "$(dirname "$0")/../machine.sh"
arch=$1 exe=$2

skip_if_build_skipped "$(dirname "$exe")"
[ -f "$exe" ] || fail "$exe was not built"
# Nothing of the simulated system, or of the test driver, may reach the Windows program.
if grep -a -q -e QUORVEX_SIM -e 'sim: ' "$exe"; then fail "$exe contains the simulated system"; fi
if grep -a -q -i -e quorvexhid -e 'quorvex-record' "$exe"; then fail "$exe contains the test driver"; fi

select_loader "$arch"
use_wine_prefix
require_wine_prefix

usage=$'Usage: testquorvex </multitouch | /mouse | /digitizer | /joystick | /keyboard | /message>\r\n'

failures=0
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
check() {
    local want_status=$1 want_out=$2 status; shift 2
    "$LOADER" "$target" "$@" </dev/null >"$out" 2>"$err"
    status=$?
    if [ "$status" != "$want_status" ]; then
        echo "$(basename "$target") $*: status $status, expected $want_status"; failures=$((failures + 1))
    fi
    if [ "$(cat "$out"; echo .)" != "$want_out." ]; then
        echo "$(basename "$target") $*: output differs"
        diff <(printf '%s' "$want_out" | od -c) <(od -c "$out") | head -20
        failures=$((failures + 1))
    fi
    if [ -s "$err" ]; then
        echo "$(basename "$target") $*: wrote to standard error:"; head -5 "$err"; failures=$((failures + 1))
    fi
}

target=$exe
check 1 "$usage"
check 1 "$usage" /MOUSE
# No quorvex device yet: one search, its failure line, status 3.
not_found=$'\r\n....looking for our HID device (with UP=0xff00 and Usage=0x1)\r\nFailure: Could not find our HID device \r\n'
check 3 "$not_found" /mouse
check 3 "$not_found" /message extra words

# Wine's HID stack and the simulated system must agree on what the client relies on.
target=$(dirname "$exe")/quorvex_conformance.exe
check 0 $'all behaviours as expected of Wine\r\n'

[ $failures -eq 0 ] || fail "$failures check(s) failed for $exe"
echo "$exe under $LOADER: usage, /MOUSE, /mouse and /message behave as on Windows; Wine agrees with the simulated system"
