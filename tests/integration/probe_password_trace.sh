#!/usr/bin/env bash
# The real zeltor-probe connecting to the domain controller (127.0.0.1) with the password from a
# file only its owner can read, and from standard input, each under password_trace.sh: the
# password appears in no program start and no write.
# Usage: probe_password_trace.sh STATE_FILE PROBE
set -euo pipefail
state=$1
probe=$2
here=$(cd "$(dirname "$0")" && pwd)
user=$(sed -n 's/^domain=//p' "$state")\\$(sed -n 's/^user=//p' "$state")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# Written here, before the trace starts.
(umask 077 && sed -n 's/^password=//p' "$state" >"$dir/password")
"$here/password_trace.sh" "$state" "$probe" -u "$user" --password-file "$dir/password" -f csv 127.0.0.1 >"$dir/file.csv"
"$here/password_trace.sh" "$state" "$probe" -u "$user" --password-stdin -f json 127.0.0.1 <"$dir/password" >"$dir/stdin.json"
# Each run connected (a refused logon would have ended it with 4) and wrote its sample.
[ "$(grep -c '^"' "$dir/file.csv")" -eq 2 ] && [ "$(grep -c '^{' "$dir/stdin.json")" -eq 1 ] || {
    echo "probe_password_trace: no sample" >&2
    cat "$dir/file.csv" "$dir/stdin.json" >&2
    exit 1
}
echo "the probe's two runs kept the password"
