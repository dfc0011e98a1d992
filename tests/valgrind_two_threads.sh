#!/usr/bin/env bash
# memcheck over the test of two threads in one process: one reading the
# message collection, the other sending the message that wakes it.
set -u
. "$(dirname "$0")/machine.sh"
tests=$1
command -v valgrind >/dev/null || skip "valgrind is not installed (Debian: valgrind)"
exec valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
    "$tests" --gtest_filter='SimulatedSystem.AReadWaitingOnOneThreadWakesWhenAnotherSendsTheMessage'
