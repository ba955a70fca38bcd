#!/usr/bin/env bash
# Makes a loopback address silent: every packet to it is dropped, so a connection to it neither
# opens nor is refused, as with a machine that is off. Only inside a private network namespace.
#   silent_address.sh add|remove ADDRESS
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 add|remove ADDRESS" >&2; exit 2; }
case "$1" in
    add)
        nft add table ip zeltor_silent
        nft add chain ip zeltor_silent out '{ type filter hook output priority 0; }'
        nft add rule ip zeltor_silent out ip daddr "$2" drop
        ;;
    remove) nft delete table ip zeltor_silent 2>/dev/null || true ;;
    *) exit 2 ;;
esac
