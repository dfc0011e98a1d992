#!/usr/bin/env bash
# Runs a check on a preset's build, or skips it for the reason the build was
# skipped. Usage: after_build.sh BUILD_DIR COMMAND...
. "$(dirname "$0")/machine.sh"
skip_if_build_skipped "$1"
shift
exec "$@"
