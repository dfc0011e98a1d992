#!/usr/bin/env bash
# The end-to-end tests: the Windows program on Wine's HID stack, with the
# quorvex device presented by our own HID minidriver, in the shared prefix.
#   e2e.sh device              the fixture: install the driver and both collections
#   e2e.sh run ARCH TEST       one test (EndToEnd.TEST of quorvex_e2e) on the ARCH program
# Needs WINEPREFIX, QUORVEX_BUILD (the build folder of every preset) and, for
# run, QUORVEX_E2E (the test program).
set -u
. "$(dirname "$0")/../machine.sh"
use_wine_prefix
driver=$QUORVEX_BUILD/mingw-x86_64/tests/driver
installed=$WINEPREFIX/drive_c/quorvex/installed

case ${1:-} in
device)
    require_wine64
    skip_if_build_skipped "$QUORVEX_BUILD/mingw-x86_64"
    require_wine_prefix
    mkdir -p "$WINEPREFIX/drive_c/quorvex"
    rm -f "$installed"
    cp "$driver/quorvexhid.sys" "$driver/quorvexhid.inf" "$driver/quorvex_devices.exe" "$WINEPREFIX/drive_c/quorvex/" ||
        fail "the driver was not built"
    started=$(date +%s%N)
    "$WINE64" 'C:\quorvex\quorvex_devices.exe' install 'C:\quorvex\quorvexhid.inf' both </dev/null ||
        fail "the quorvex device could not be installed"
    echo "installed in $((($(date +%s%N) - started) / 1000000)) ms"
    touch "$installed"
    ;;
run)
    arch=$2 test=$3
    select_loader "$arch"
    skip_if_build_skipped "$QUORVEX_BUILD/mingw-$arch"
    skip_if_build_skipped "$QUORVEX_BUILD/mingw-x86_64"
    [ -f "$installed" ] || fail "the quorvex device is not installed: see the e2e_device check"
    out=$(mktemp)
    trap 'rm -f "$out"' EXIT
    QUORVEX_E2E_LOADER=$LOADER QUORVEX_E2E_PROGRAMS=$QUORVEX_BUILD/mingw-$arch \
        "$QUORVEX_E2E" --gtest_filter="EndToEnd.$test" | tee "$out"
    status=${PIPESTATUS[0]}
    # A filter that matches nothing would pass without running anything.
    grep -q "^\[ *\(OK\|FAILED\|SKIPPED\) *\] EndToEnd\.$test " "$out" || fail "no test EndToEnd.$test"
    exit "$status"
    ;;
*)
    echo "usage: $0 device | run ARCH TEST" >&2
    exit 2
    ;;
esac
