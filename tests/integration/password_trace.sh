#!/usr/bin/env bash
# Traces the connection tests against the domain controller (every program start with its
# arguments and environment, and every write to a file, a pipe or the network, in the process and
# its children) and fails if the password appears in any of them, in UTF-8 or UTF-16.
# Usage: password_trace.sh STATE_FILE TEST_PROGRAM [ARGS...]
set -euo pipefail
state=$1
shift
password=$(sed -n 's/^password=//p' "$state")
[ -n "$password" ] || { echo "no password in $state" >&2; exit 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT

ZELTOR_SAMBA_DC_STATE=$state strace -f -qq -v -s 1048576 -x \
    -e trace=execve,execveat,write,writev,pwrite64,pwritev,sendto,sendmsg,sendmmsg -o "$log" "$@"

# strace -x prints every non-printable byte as \xNN, so UTF-16 text shows as c\x00h\x00...
utf16=$(printf '%s' "$password" | sed 's/./&\\x00/g')
calls=$(grep -c . "$log")
if grep -qF -- "$password" "$log" || grep -qF -- "$utf16" "$log"; then
    echo "the password appears in the trace:" >&2
    grep -nF -e "$password" -e "$utf16" "$log" | cut -c1-300 >&2
    exit 1
fi
echo "password absent from $calls traced calls"
