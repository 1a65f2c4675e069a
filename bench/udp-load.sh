#!/usr/bin/env bash
# Floods the LAN endpoint's command sockets with command datagrams and prints, for one socket and for
# all three, the key commands handled a second beside the rate a plain socket receives the same flood,
# then the time from one datagram to its posted key event when nothing queues (bench_udp_load).
# The senders run in a network namespace of the run's own (needs root; loopback otherwise).
#   bench/udp-load.sh [build dir] [bench_udp_load options: --seconds S --samples N --loopback]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$1
    shift
fi
bench="$build/bench/bench_udp_load"
[ -x "$bench" ] || { echo "no $bench: cmake --build --preset default --target bench_udp_load" >&2; exit 1; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Each run is bounded by the bench itself; the time-out only ends a run that hangs.
if ! timeout 600 "$bench" "$@" 2>"$log"; then
    echo "bench_udp_load failed; its log:" >&2
    cat "$log" >&2
    exit 1
fi
