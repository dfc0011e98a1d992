#!/usr/bin/env bash
# memcheck over whole runs of every mode: no error, nothing definitely or
# indirectly lost, and the simulated system's own account says nothing is open.
set -u
. "$(dirname "$0")/machine.sh"
exe=$1
command -v valgrind >/dev/null || skip "valgrind is not installed (Debian: valgrind)"

failures=0
# The last run: a stalled transfer, which the watchdog thread cancels.
examples=$(cd "$(dirname "$0")/../examples" && pwd)
for mode in /multitouch /mouse /digitizer /joystick /keyboard /message /all /list /ping /flood /all:stalled \
            /play /play:rejected /send /fuzz /fuzz:stopped /all:verify /all:verify-open /watch; do
    scenario=clock=virtual
    args=("$mode")
    shown=()
    [ "$mode" = /list ] && scenario=clock=virtual,locked=1,busy=1
    [ "$mode" = /joystick ] && scenario=clock=virtual,interrupt-after=20
    [ "$mode" = /all:stalled ] && args=(/all) scenario=clock=virtual,stall=WriteFile@3
    [ "$mode" = /play ] && args=("/play:$examples/keyboard.txt" /repeat:3)
    [ "$mode" = /play:rejected ] && args=("/play:$0")
    [ "$mode" = /send ] && args=(/send message '"hi"')
    # /verify's readers, its Raw Input window and its summary, on both paths;
    # /watch's, stopped once it has said how it reads each collection.
    [ "$mode" = /all:verify ] && args=(/all /verify) scenario=clock=virtual,inputs
    [ "$mode" = /all:verify-open ] && args=(/all /verify) scenario=clock=virtual,inputs=open
    [ "$mode" = /watch ] && args=(/watch) scenario="clock=virtual,inputs,ctrl-c-at-line=# Keyboard" \
        shown=(--show-possibly-lost=no)
    [ "$mode" = /fuzz ] && args=(/fuzz /count:3000 /seed:1 "/out:$(mktemp -u)")
    # Stopped by Ctrl+C: the summary, then the end SIGINT gives, which leaves
    # the C library's cache of joined threads' stacks "possibly lost".
    [ "$mode" = /fuzz:stopped ] && args=(/fuzz /count:3000 /seed:1 "/out:$(mktemp -u)") \
        scenario=clock=virtual,ctrl-c-after=100 shown=(--show-possibly-lost=no)
    log=$(mktemp)
    QUORVEX_SIM=$scenario valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect "${shown[@]}" \
        --error-exitcode=99 --log-file="$log" "$exe" "${args[@]}" >/dev/null 2>"$log.err"
    status=$?
    if [ $status -eq 99 ] || [ -s "$log" ]; then
        echo "FAIL: memcheck on $mode:"; cat "$log"; failures=$((failures + 1))
    elif [ "$mode" != /joystick ] && ! grep -q '^sim: exit: nothing left open$' "$log.err"; then
        echo "FAIL: $mode left something open:"; tail -3 "$log.err"; failures=$((failures + 1))
    else
        echo "$mode: memcheck clean (status $status)"
    fi
    rm -f "$log" "$log.err"
done
exit $failures
