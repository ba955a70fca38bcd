#!/usr/bin/env bash
# Measures zeltor-exporter against loopback targets, in a private network namespace: a standalone
# smbd (tests/integration/run_smbd.sh, logging every logon) whose perfmon databases hold a
# Windows-sized Process object (200 instances, refreshed twice a second), reached at every
# 127.0.0.x address (nftables sends port 4450 of 127.0.0.0/8 to it), and one silent address
# (127.0.0.250, every packet dropped). tools/measure_exporter.py then scrapes the exporter as
# Prometheus would and prints the figures of docs/performance.md. Needs root.
#
#   [MEASURE_ARGS=...] [NO_NAT=1] tools/measure_exporter.sh [BUILD_DIR] [measure|page SCREENSHOT.png]
#
#   measure  CPU per scrape of one target, 100 targets every 15 s (CPU, resident memory, latency,
#            logons), one silent target among fifty (the default)
#   page     a few probes (a success, a module the peer lacks, a refused password, the silent
#            target), then the index page in headless Chromium, saved as SCREENSHOT.png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
mode=${2:-measure}
screenshot=${3:-}
exporter=$build/platform/linux/exporter/zeltor-exporter
[ -x "$exporter" ] || { echo "measure_exporter: build $exporter first" >&2; exit 2; }
[ "$mode" != page ] || [ -n "$screenshot" ] || { echo "usage: $0 BUILD_DIR page SCREENSHOT.png" >&2; exit 2; }
[ -z "$screenshot" ] || screenshot=$(realpath -m "$screenshot")

exec unshare -n bash -c '
    set -euo pipefail
    ip link set lo up
    root=$1 exporter=$2 mode=$3 screenshot=$4
    work=$(mktemp -d /tmp/zeltor-measure.XXXXXX)
    state=$work/peer
    cleanup() {
        [ ! -s "$work/exporter.log" ] || { echo "exporter log:"; tail -n 40 "$work/exporter.log"; }
        [ -z "${exporter_pid:-}" ] || kill "$exporter_pid" 2>/dev/null || true
        [ -z "${filler:-}" ] || kill "$filler" 2>/dev/null || true
        "$root/tests/integration/run_smbd.sh" stop "$state" || true
        rm -rf "$work"
    }
    trap cleanup EXIT
    ZELTOR_SMBD_AUTH_AUDIT=3 "$root/tests/integration/run_smbd.sh" start "$state"
    perfmon=$(sed -n "s/^perfmon=//p" "$state")
    peer_dir=$(sed -n "s/^dir=//p" "$state")
    user=$(sed -n "s/^user=//p" "$state")
    /usr/bin/python3 "$root/tests/integration/fill_perfmon.py" "$perfmon" --processes 200
    /usr/bin/python3 "$root/tests/integration/fill_perfmon.py" "$perfmon" --processes 200 --every 0.5 --for 3600 &
    filler=$!

    # Every loopback address reaches the peer; 127.0.0.250 reaches nothing (dropped before the
    # address is rewritten).
    # NO_NAT=1: only 127.0.0.1, with no connection tracking on the way (the CPU of one target
    # against tools/bench-remote.sh, which has none either).
    [ -n "${NO_NAT:-}" ] || {
    nft add table ip zeltor_measure
    nft add chain ip zeltor_measure silent "{ type filter hook output priority -300; }"
    nft add rule ip zeltor_measure silent ip daddr 127.0.0.250 drop
    nft add chain ip zeltor_measure peers "{ type nat hook output priority -100; }"
    nft add rule ip zeltor_measure peers ip daddr 127.0.0.0/8 tcp dport 4450 dnat to 127.0.0.1:4450
    }

    sed -n "s/^password=//p" "$state" > "$work/peer.password"
    echo "not-the-password" > "$work/stale.password"
    chmod 600 "$work/peer.password" "$work/stale.password"
    targets=$(for i in $(seq 1 101); do printf "127.0.0.%d, " "$i"; done)
    cat > "$work/exporter.yml" <<CONF
listen: 127.0.0.1:9755
smb_port: 4450
max_concurrent_collections: 128
connect_timeout_seconds: 5
auths:
  peer:
    user: $user
    password_file: $work/peer.password
    targets: [${targets}127.0.0.250]
  stale:
    user: $user
    password_file: $work/stale.password
    targets: [127.0.0.1, 127.0.0.3]
CONF
    ${EXPORTER_WRAPPER:-} "$exporter" --config "$work/exporter.yml" 2> "$work/exporter.log" &
    exporter_pid=$!
    for _ in $(seq 1 50); do
        if (exec 3<>/dev/tcp/127.0.0.1/9755) 2>/dev/null; then break; fi
        sleep 0.1
    done
    case "$mode" in
    measure)
        # shellcheck disable=SC2086 # MEASURE_ARGS: options of measure_exporter.py, e.g. --rounds 3
        /usr/bin/python3 "$root/tools/measure_exporter.py" --pid "$exporter_pid" --peer-dir "$peer_dir" ${MEASURE_ARGS:-}
        # Connections the peer had no room for yet (its listen queue full: the client sends its
        # SYN again after one second, then three).
        nstat -az TcpExtListenOverflows TcpExtListenDrops | awk "NR > 1 { printf \"%s %s  \", \$1, \$2 } END { print \"\" }"
        ;;
    page)
        /usr/bin/python3 "$root/tools/measure_exporter.py" --pid "$exporter_pid" --peer-dir "$peer_dir" --page-probes
        chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,700 \
            --screenshot="$screenshot" http://127.0.0.1:9755/ 2>/dev/null
        ;;
    esac
' measure_exporter "$root" "$exporter" "$mode" "$screenshot"
