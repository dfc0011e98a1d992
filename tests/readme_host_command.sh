#!/usr/bin/env bash
# Runs the README's host command as written, in a copy of the sources in a
# folder of its own, so that the developer's own build/host is left alone:
# status 0, and the output of /mouse as the test build's program prints it.
# Usage: readme_host_command.sh SOURCE_DIR PROGRAM
set -u
. "$(dirname "$0")/machine.sh"
src=$1 program=$2
command=$(sed -n 's/^    \(cmake --workflow --preset host && .*\)$/\1/p' "$src/README.md")
[ -n "$command" ] || fail "README.md shows no indented 'cmake --workflow --preset host && ...' line"
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-readme-XXXXXX") || fail "no folder of its own"
trap 'rm -rf "$work"' EXIT
copy=$work/src log=$work/build.log
mkdir "$copy"
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf - || fail "could not copy the sources"

# Each command of the line in turn, so that the program's own output stands apart from the build's.
status=0
IFS=$'\n' read -r -d '' -a parts < <(printf '%s' "$command" | sed 's/ && /\n/g'; printf '\0')
last=$((${#parts[@]} - 1))
for i in "${!parts[@]}"; do
    if [ "$i" -lt "$last" ]; then
        (cd "$copy" && env -u QUORVEX_SIM bash -c "${parts[$i]}") > "$log" 2>&1 ||
            { cat "$log"; fail "'${parts[$i]}' failed"; }
    else
        got=$(cd "$copy" && env -u QUORVEX_SIM bash -c "${parts[$i]}" 2>/dev/null)
        status=$?
    fi
done
want=$(env -u QUORVEX_SIM "$program" /mouse 2>/dev/null)
echo "$command"
echo "$got"
[ "$status" -eq 0 ] || fail "'${parts[$last]}' ended with status $status"
[ "$got" = "$want" ] || fail "it printed otherwise than $program /mouse:"$'\n'"$want"
grep -q 'Sending mouse report' <<<"$got" || fail "no mouse report was sent"
echo "README's host command: status 0, the /mouse output"
