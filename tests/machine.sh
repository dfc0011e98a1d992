# Sourced by the checks that depend on the machine rather than on the code.
# What the machine lacks is a skip (exit 77, which CTest reports as skipped,
# with the reason printed first; tools/test lists the reasons after the
# summary). Only a fault of the project is a failure.

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

# A build that was skipped leaves its reason in SKIPPED; whatever needs that
# build skips for the same reason.
skip_if_build_skipped() {
    if [ -f "$1/SKIPPED" ]; then skip "$(cat "$1/SKIPPED")"; fi
}

# Wine, always through its own loaders: Debian's wine wrapper picks the 32-bit
# loader whenever wine32 is installed, whether or not the machine can run it.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
export WINESERVER=/usr/lib/wine/wineserver64

require_wine64() {
    [ -x "$WINE64" ] || skip "the 64-bit Wine loader ($WINE64) is not installed (Debian: wine64)"
}

# Some machines of the same kind cannot execute 32-bit Linux programs at all,
# so ask the 32-bit loader itself.
require_wine32() {
    [ -x "$WINE32" ] || skip "the 32-bit Wine loader ($WINE32) is not installed (Debian: wine32:i386)"
    local said
    said=$("$WINE32" --version 2>&1) ||
        skip "this machine cannot execute 32-bit programs: '$WINE32 --version' fails with: ${said##*: }"
}

# LOADER: the loader for a program of this architecture (i686 or x86_64),
# once the machine is known to run it.
select_loader() {
    require_wine64
    LOADER=$WINE64
    if [ "$1" = i686 ]; then
        require_wine32
        LOADER=$WINE32
    fi
}

require_wine_prefix() {
    [ -d "$WINEPREFIX/drive_c/windows/system32" ] || fail "no Wine prefix at $WINEPREFIX: see the wine_prefix check"
}

# Every Wine check shares one 64-bit prefix, made by the wine_prefix fixture.
use_wine_prefix() {
    : "${WINEPREFIX:?the Wine checks run in the prefix CTest gives them}"
    export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
}
