#!/usr/bin/env bash
# Floods the LAN endpoint's command sockets with command datagrams while its key presses go to a real X
# server, and prints, for one socket and for all three, the key commands a second that reach the server
# beside a plain XTest loop on the same display and plain sockets receiving the same flood, each with its
# spread over the rounds; then the time from a datagram to its key-down at the server, one at a time and
# at a steady rate, and how many key-downs never arrive at that rate (bench_udp_load).
# The X server is an Xvfb started here; the senders run in a network namespace made here (needs root;
# loopback otherwise). Both are removed whenever the script ends, Ctrl-C included.
#   bench/udp-load.sh [build dir] [bench_udp_load options: --seconds S --rounds N --samples N --rate R
#                                  --rate-seconds S --senders N]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$1
    shift
fi
bench="$build/bench/bench_udp_load"
[ -x "$bench" ] || { echo "no $bench: cmake --build --preset default --target bench_udp_load" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "no Xvfb (scripts/setup installs it)" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
bench_pid=""
netns="pcudp$$"
host_link="pbh$$"
phone_link="pbp$$"
netns_made=""
# A subnet of the run's own on the veth pair, its only link: nothing leaves the machine.
subnet="10.213.$((100 + $$ % 150))"

cleanup() {
    if [ -n "$bench_pid" ]; then
        kill -TERM "$bench_pid" 2>/dev/null || true
        wait "$bench_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if [ -n "$netns_made" ]; then
        ip link del "$host_link" 2>/dev/null || true
        ip netns del "$netns" 2>/dev/null || true
    fi
    rm -rf "$work"
}
interrupted=""
trap cleanup EXIT
trap 'interrupted=130' INT
trap 'interrupted=143' TERM

# The X server.
start_xvfb

# The senders' namespace, joined by a veth pair.
senders=()
if [ "$(id -u)" -eq 0 ] && ip netns add "$netns" 2>"$work/ip.log"; then
    netns_made=1
    if ip link add "$host_link" type veth peer name "$phone_link" &&
        ip link set "$phone_link" netns "$netns" &&
        ip addr add "$subnet.1/24" dev "$host_link" &&
        ip link set "$host_link" up &&
        ip netns exec "$netns" ip addr add "$subnet.2/24" dev "$phone_link" &&
        ip netns exec "$netns" ip link set "$phone_link" up &&
        ip netns exec "$netns" ip link set lo up 2>>"$work/ip.log"; then
        senders=(--netns "$netns" --to "$subnet.1")
    else
        echo "no network namespace ($(cat "$work/ip.log")): senders on loopback" >&2
    fi
else
    echo "no network namespace (needs root): senders on loopback" >&2
fi

[ -z "$interrupted" ] || exit "$interrupted"
# Each run is bounded by the bench itself; the time-out only ends a run that hangs. The bench runs in the
# background so that a signal reaches this script (and its clean-up) at once.
timeout 900 "$bench" "${senders[@]}" --x-pid "$xvfb_pid" "$@" 2>"$work/bench.log" &
bench_pid=$!
status=0
wait "$bench_pid" || status=$?
# Interrupted: the clean-up ends the bench and the X server.
[ -z "$interrupted" ] || exit "$interrupted"
bench_pid=""
if [ "$status" -ne 0 ]; then
    echo "bench_udp_load failed ($status); its log:" >&2
    tail -n 50 "$work/bench.log" >&2
    exit 1
fi
