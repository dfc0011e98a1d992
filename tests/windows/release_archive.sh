#!/usr/bin/env bash
# Makes a preset's release archive with the README's package command, then
# reads the program back out of it. Usage: release_archive.sh ARCH VERSION
set -u
cd "$(dirname "$0")/../.."
. tests/machine.sh
arch=$1 version=$2
dir=build/mingw-$arch
skip_if_build_skipped "$dir"
case $arch in i686) bits=win32 ;; *) bits=win64 ;; esac
archive=$dir/testquorvex-$version-$bits.zip
rm -f "$archive"
cmake --build --preset "mingw-$arch" --target package >/dev/null || fail "the package command failed"
[ -f "$archive" ] || fail "no $archive"
exec /usr/bin/python3 tests/windows/check_program.py "$archive" "$arch" "$version"
