#!/usr/bin/env bash
# The Windows program's sources compiled as Visual Studio compiles them, with
# the msvc presets' flags (/W4 /permissive- /WX), by clang in its cl mode, for
# the 32-bit target: Visual Studio itself is not to be had here. Its own headers
# are not either, so the Windows and C library headers are MinGW-w64's and the
# C++ library is its libstdc++; those expect GCC's predefined macros, which are
# given (the program's own code tests _MSC_VER before __GNUC__). Syntax and
# warnings only (/Zs): nothing is linked.
#   msvc_mode.sh SOURCE_DIR GENERATED_DIR
set -u
. "$(dirname "$0")/../machine.sh"
src=$1 generated=$2
command -v clang >/dev/null || skip "clang is not installed (Debian: clang)"
mingw=/usr/share/mingw-w64/include
[ -f "$mingw/windows.h" ] || skip "MinGW-w64's Windows headers are not installed (Debian: mingw-w64-i686-dev)"
cxx=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*/include/c++ 2>/dev/null | head -1)
[ -n "$cxx" ] || skip "MinGW-w64's 32-bit C++ library is not installed (Debian: g++-mingw-w64-i686)"

gcc_macros=(-D_X86_=1 -D__GNUC__=4 -D__GNUC_MINOR__=8 -D__GCC_ATOMIC_TEST_AND_SET_TRUEVAL=1)
for t in BOOL CHAR CHAR16_T CHAR32_T WCHAR_T SHORT INT LONG LLONG POINTER; do
    gcc_macros+=("-D__GCC_ATOMIC_${t}_LOCK_FREE=2")
done

failed=0 checked=0
cd "$src"
for file in layout/*.cpp client/*.cpp reports/*.cpp script/*.cpp app/*.cpp platform/windows/*.cpp; do
    checked=$((checked + 1))
    clang --driver-mode=cl --target=i686-pc-windows-msvc /std:c++17 /W4 /WX /permissive- /D_CRT_SECURE_NO_WARNINGS \
        /MT /EHsc /arch:SSE2 /Zs "${gcc_macros[@]}" \
        -imsvc "$cxx" -imsvc "$cxx/i686-w64-mingw32" -imsvc "$mingw" -I. -I"$generated" "$file" ||
        { echo "FAIL: $file"; failed=$((failed + 1)); }
done
echo "$checked files compiled in Visual Studio's mode, $failed failed"
[ "$failed" = 0 ]
