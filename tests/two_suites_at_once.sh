#!/usr/bin/env bash
# Two copies of the host suite's file-making tests at once, as two checkouts'
# suites (or one CTest run's several) meet on one machine: both must pass, and
# neither may leave a file behind. Where this may make a mount namespace, /tmp
# is a fresh one of its own, so that anything in it afterwards is theirs;
# elsewhere both get one private TMPDIR, which must be empty afterwards.
#   two_suites_at_once.sh TEST_PROGRAM FILTER
set -u
program=$1 filter=$2

both() {
    local log1 log2 status=0
    log1=$(mktemp) log2=$(mktemp)
    "$program" --gtest_filter="$filter" >"$log1" 2>&1 &
    local first=$!
    "$program" --gtest_filter="$filter" >"$log2" 2>&1 &
    local second=$!
    wait "$first" || { status=1; echo "FAIL: the first copy:"; grep -E "Failure|FAILED|^/|Which is" "$log1" | head -40; }
    wait "$second" || { status=1; echo "FAIL: the second copy:"; grep -E "Failure|FAILED|^/|Which is" "$log2" | head -40; }
    grep -h "tests ran\|PASSED" "$log1" "$log2"
    rm -f "$log1" "$log2"
    return $status
}

left_in() {
    local left
    left=$(find "$1" -mindepth 1 -maxdepth 1 | head -20)
    [ -z "$left" ] || { echo "FAIL: left behind in $1:"; echo "$left"; return 1; }
    echo "nothing left behind in $1"
}

if [ "${1:-}" != --inside ] && unshare -m --propagation private true 2>/dev/null; then
    exec unshare -m --propagation private bash -c 'mount -t tmpfs quorvex-tests /tmp && exec "$0" --inside "$@"' \
        "$0" "$program" "$filter"
fi
if [ "${1:-}" = --inside ]; then
    shift
    program=$1 filter=$2
    unset TMPDIR
    both; status=$?
    left_in /tmp || status=1
    exit $status
fi
TMPDIR=$(mktemp -d)
export TMPDIR
both; status=$?
left_in "$TMPDIR" || status=1
rm -rf "$TMPDIR"
exit $status
