#!/bin/sh
# Every report the host suite's /report cases make, checked against the JUnit
# schema CI servers read. Skipped (77) on a machine without xmllint.
# Usage: validate_reports.sh QUORVEX_TESTS SCHEMA
set -u
tests=$1
schema=$2
if ! command -v xmllint >/dev/null 2>&1; then
    echo "skipped: xmllint is missing (Debian's libxml2-utils; tools/install-deps installs it)"
    exit 77
fi
folder=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-reports-XXXXXX") || exit 1
trap 'rm -rf "$folder"' EXIT
# The reports are checked even when a case failed: the schema's word counts too.
QUORVEX_REPORTS_DIR=$folder "$tests" --gtest_filter='Report.*' >"$folder/run.log" 2>&1
cases=$?
[ $cases -eq 0 ] || cat "$folder/run.log"
set -- "$folder"/*.xml
if [ ! -e "$1" ]; then
    echo "no report was made"
    exit 1
fi
echo "$# reports"
xmllint --noout --schema "$schema" "$@" || exit 1
exit $cases
