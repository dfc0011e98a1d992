#!/usr/bin/env bash
# The one 64-bit Wine prefix every Wine check shares: "create" makes it and
# keeps its wineserver running for the whole CTest run (so the Windows
# services, and any driver they load, stay up between checks); "destroy" stops
# it and removes the prefix.
set -u
. "$(dirname "$0")/../machine.sh"
use_wine_prefix

case ${1:-} in
create)
    require_wine64
    "$WINESERVER" -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # Nothing Wine starts may hold CTest's output pipe open.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    started=$(date +%s)
    # The first program run in a new prefix sets it up (wineboot --init) and
    # waits for that; running wineboot itself would set it up twice over, with
    # two service managers, and drivers would not install.
    "$WINE64" cmd /c exit </dev/null >"$WINEPREFIX.log" 2>&1 ||
        fail "Wine could not set up a new 64-bit prefix; its output: $(tail -5 "$WINEPREFIX.log")"
    echo "64-bit prefix $WINEPREFIX ready in $(($(date +%s) - started)) s"
    ;;
destroy)
    [ -x "$WINESERVER" ] && "$WINESERVER" -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX" "$WINEPREFIX.log"
    echo "prefix removed"
    ;;
*)
    echo "usage: $0 create|destroy" >&2
    exit 2
    ;;
esac
