#!/usr/bin/env bash
# Runs a cross-built testquorvex.exe on Wine's implementation of the Windows
# HID services, in a throw-away prefix, and compares whole outputs (CR LF).
set -u
exe=$1

fail() { echo "FAIL: $*"; exit 1; }

command -v wine >/dev/null || fail "wine is not installed (apt-get install wine wine32:i386 wine64)"
[ -f "$exe" ] || fail "$exe was not built"

# Nothing of the simulated system may reach the Windows program.
if grep -a -q -e QUORVEX_SIM -e 'sim: ' "$exe"; then fail "$exe contains the simulated system"; fi

prefix=$(mktemp -d)
cleanup() { WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1; rm -rf "$prefix"; }
trap cleanup EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wineboot -i >/dev/null 2>&1 || fail "Wine cannot start: wineboot failed in a new prefix (is the i386 architecture installed for wine32?)"

usage=$'Usage: testquorvex </multitouch | /mouse | /digitizer | /joystick | /keyboard | /message>\r\n'

failures=0
check() {
    local want_status=$1 want_out=$2; shift 2
    local out err status
    err=$(mktemp)
    out=$(wine "$target" "$@" 2>"$err"; echo "status=$?")
    status=${out##*status=}
    out=${out%status=*}
    if [ "$status" != "$want_status" ]; then
        echo "$(basename "$target") $*: status $status, expected $want_status"; failures=$((failures + 1))
    fi
    if [ "$out" != "$want_out" ]; then
        echo "$(basename "$target") $*: output differs"
        diff <(printf '%s' "$want_out" | od -c) <(printf '%s' "$out" | od -c) | head -20
        failures=$((failures + 1))
    fi
    if [ -s "$err" ]; then
        echo "$(basename "$target") $*: wrote to standard error:"; head -5 "$err"; failures=$((failures + 1))
    fi
    rm -f "$err"
}

target=$exe
check 1 "$usage"
check 1 "$usage" /MOUSE
# Wine presents no quorvex device: one search, its failure line, status 3.
not_found=$'\r\n....looking for our HID device (with UP=0xff00 and Usage=0x1)\r\nFailure: Could not find our HID device \r\n'
check 3 "$not_found" /mouse
check 3 "$not_found" /message extra words

# Wine's HID stack and the simulated system must agree on what the client relies on.
target=$(dirname "$exe")/quorvex_conformance.exe
check 0 $'all behaviours as expected\r\n'

[ $failures -eq 0 ] || fail "$failures check(s) failed for $exe"
echo "$exe under Wine: usage, /MOUSE, /mouse and /message behave as on Windows; Wine agrees with the simulated system"
