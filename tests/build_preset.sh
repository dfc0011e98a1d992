#!/usr/bin/env bash
# Configures and builds one preset for the test command. A preset whose
# toolchain the machine lacks is skipped, and so is every check that needs it.
set -u
cd "$(dirname "$0")/.."
. tests/machine.sh
preset=$1
dir=build/$preset
mkdir -p "$dir"
rm -f "$dir/SKIPPED"

lacks() { echo "$*" >"$dir/SKIPPED"; skip "$*"; }
case $preset in
fuzz)
    echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
        clang++ -x c++ -fsanitize=fuzzer -o "$dir/probe" - >/dev/null 2>&1 ||
        lacks "clang++ with its libFuzzer runtime is not installed (Debian: clang, libclang-rt-dev)"
    rm -f "$dir/probe"
    ;;
mingw-i686)
    command -v i686-w64-mingw32-g++-posix >/dev/null ||
        lacks "MinGW-w64 for 32-bit Windows is not installed (Debian: g++-mingw-w64-i686)"
    ;;
mingw-x86_64)
    command -v x86_64-w64-mingw32-g++-win32 >/dev/null ||
        lacks "MinGW-w64 for 64-bit Windows is not installed (Debian: g++-mingw-w64-x86-64)"
    ;;
esac
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2
