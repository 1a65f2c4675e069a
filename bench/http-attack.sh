#!/usr/bin/env bash
# Attacks the LAN slide-information server (bench_lan_http_server: a stored document with two 800 x 600
# thumbnails) from a network namespace of the run's own, as a host on the same LAN would, and measures
# a real client's GET beside it, in one run:
#   1. the client alone;
#   2. the client while the attacker keeps 10,000 idle connections and 1,000 slow-header clients open;
#   3. the server's memory while 8 connections send header fields without end.
# Needs root (ip netns) and python3. Nothing leaves the machine: the namespace's only link is a veth pair
# on a private subnet. Every phase is bounded in time; the server and the namespace go at the end.
#   bench/http-attack.sh [build dir]
# Settings: IDLE (10000), SLOW (1000), HOLD_SECONDS (30), ENDLESS (8), ENDLESS_SECONDS (20).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server="$build/bench/bench_lan_http_server"
clients=bench/http_attack.py
idle=${IDLE:-10000}
slow=${SLOW:-1000}
hold_seconds=${HOLD_SECONDS:-30}
endless=${ENDLESS:-8}
endless_seconds=${ENDLESS_SECONDS:-20}

[ -x "$server" ] || { echo "no $server: cmake --build --preset default --target bench_lan_http_server" >&2; exit 1; }
for tool in ip python3 curl ss; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

id=$(($$ % 100000))
ns=pcattack$id
host_link=pah$id
ns_link=pan$id
subnet=10.214.$(($$ % 250 + 1))
work=$(mktemp -d)
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    ip link del "$host_link" 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip link add "$host_link" type veth peer name "$ns_link"
ip link set "$ns_link" netns "$ns"
ip addr add "$subnet.1/24" dev "$host_link"
ip link set "$host_link" up
ip netns exec "$ns" ip addr add "$subnet.2/24" dev "$ns_link"
ip netns exec "$ns" ip link set "$ns_link" up
ip netns exec "$ns" ip link set lo up

port=0
for _ in $(seq 1 100); do
    port=$((20000 + RANDOM % 40000))
    [ -z "$(ss -Hltn "sport = :$port")" ] && break
done
"$server" --port "$port" --max-seconds 900 >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 300); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.1
done

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$server_pid/status"; }

echo "HTTP attack: server on port $port; attacker in namespace $ns ($subnet.2 -> $subnet.1 over a veth pair);"
echo "the real client on loopback, a new connection for each GET, one every 20 ms"
echo "cores $(nproc), load average before $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "1. no attack"
python3 "$clients" client 127.0.0.1 "$port" --seconds 5
echo
echo "2. $idle idle connections and $slow slow-header clients held open for ${hold_seconds}s"
ip netns exec "$ns" python3 "$clients" hold "$subnet.1" "$port" --idle "$idle" --slow "$slow" \
    --seconds "$hold_seconds" >"$work/hold.txt" 2>&1 &
hold_pid=$!
sleep $((hold_seconds / 3))
echo "   attacker's connections established as the client starts: $(ip netns exec "$ns" ss -Htn state established | wc -l)"
python3 "$clients" client 127.0.0.1 "$port" --seconds $((hold_seconds / 2))
wait "$hold_pid" || true
sed 's/^/   /' "$work/hold.txt"
echo
echo "3. $endless connections sending header fields without end for ${endless_seconds}s"
before=$(rss)
ip netns exec "$ns" python3 "$clients" endless "$subnet.1" "$port" --connections "$endless" \
    --seconds "$endless_seconds" >"$work/endless.txt" 2>&1 &
endless_pid=$!
most=$before
while kill -0 "$endless_pid" 2>/dev/null; do
    now=$(rss)
    [ "$now" -gt "$most" ] && most=$now
    sleep 0.2
done
wait "$endless_pid" || true
sleep 1
sed 's/^/   /' "$work/endless.txt"
echo "   server resident memory: before $((before / 1024)) MB, most $((most / 1024)) MB (growth $(((most - before) / 1024)) MB), after $(($(rss) / 1024)) MB"
echo
python3 "$clients" client 127.0.0.1 "$port" --seconds 3 | sed 's/^/afterwards: /'
echo "load average after $(cut -d' ' -f1-3 /proc/loadavg)"
