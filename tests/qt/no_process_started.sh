#!/usr/bin/env bash
# Runs the given test program under strace and fails if it, or anything it started, executed
# any program after its own start: the hostile texts must never reach a shell.
# Usage: no_process_started.sh TEST_PROGRAM [ARGS...]
set -euo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
strace -f -qq -e trace=execve,execveat -o "$log" "$@"
execs=$(grep -c 'execve' "$log" || true)
if [ "$execs" -ne 1 ]; then
    echo "expected only the test program's own start, saw $execs program starts:" >&2
    cat "$log" >&2
    exit 1
fi
echo "no program was started"
