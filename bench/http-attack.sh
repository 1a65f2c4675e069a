#!/usr/bin/env bash
# Attacks the LAN slide-information server (bench_lan_http_server: a stored document with two 800 x 600
# thumbnails) from a network namespace of the run's own, as a host on the same LAN would, and measures
# a real client's GET beside it, in one run:
#   1. the client alone;
#   2. the client while the attacker keeps 10,000 idle connections and 1,000 slow-header clients open;
#   3. the server's memory, and the client, while 8 connections send header fields without end;
#   4. the kernel's memory for the server's sockets while 1,000 connections fetch the document, at a
#      phone's pace and then as fast as wrk goes, beside nginx serving the same bytes.
# Needs root (ip netns), python3, nginx and wrk. Nothing leaves the machine: the namespace's only link is
# a veth pair on a private subnet. Every phase is bounded in time; the servers and the namespace go at
# the end (nginx runs on a configuration of its own in a temporary folder, never as the system's service).
#   bench/http-attack.sh [build dir]
# Settings: IDLE (10000), SLOW (1000), HOLD_SECONDS (30), ENDLESS (8), ENDLESS_SECONDS (20),
#   MANY (1000), MANY_SECONDS (15), FETCH_INTERVAL (2), FETCH_RATE (1000000 bytes/s a connection),
#   SERVER (the server binary).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=${1:-build}
server=${SERVER:-"$build/bench/bench_lan_http_server"}
clients=bench/http_attack.py
idle=${IDLE:-10000}
slow=${SLOW:-1000}
hold_seconds=${HOLD_SECONDS:-30}
endless=${ENDLESS:-8}
endless_seconds=${ENDLESS_SECONDS:-20}
many=${MANY:-1000}
many_seconds=${MANY_SECONDS:-15}
fetch_interval=${FETCH_INTERVAL:-2}
fetch_rate=${FETCH_RATE:-1000000}

[ -x "$server" ] || { echo "no $server: cmake --build --preset default --target bench_lan_http_server" >&2; exit 1; }
for tool in ip python3 curl ss nginx wrk; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

id=$(($$ % 100000))
ns=pcattack$id
host_link=pah$id
ns_link=pan$id
subnet=10.214.$(($$ % 250 + 1))
work=$(mktemp -d)
server_pid=""
nginx_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
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

# wrk needs a descriptor a connection; raise this shell's limit, which the clients inherit.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

port=$(free_port)
nginx_port=$(free_port)
while [ "$nginx_port" = "$port" ]; do nginx_port=$(free_port); done
mkdir -p "$work/www" "$work/tmp"
chmod 755 "$work" "$work/www" # nginx's workers run as an unprivileged user
"$server" --port "$port" --document-out "$work/www/slide-info.json" --max-seconds 900 >"$work/server.log" 2>&1 &
server_pid=$!
wait_for "http://127.0.0.1:$port/" "$work/server.log"

nginx_conf "$subnet.1:$nginx_port" auto 16384 8192
nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" &
nginx_pid=$!
wait_for "http://$subnet.1:$nginx_port/" "$work/nginx-error.log"

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$server_pid/status"; }

echo "HTTP attack: server on port $port; attacker in namespace $ns ($subnet.2 -> $subnet.1 over a veth pair);"
echo "the real client on loopback, a new connection for each GET, one every 20 ms"
echo "cores $(nproc), load average before $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "1. no attack"
python3 "$clients" client 127.0.0.1 "$port" --seconds 5
echo
echo "2. $idle idle connections and $slow slow-header clients (a byte every 1.5 s) held open for ${hold_seconds}s;"
echo "   aim: the client's p99 under 50 ms"
ip netns exec "$ns" python3 "$clients" hold "$subnet.1" "$port" --idle "$idle" --slow "$slow" \
    --seconds "$hold_seconds" >"$work/hold.txt" 2>&1 &
hold_pid=$!
sleep $((hold_seconds / 3))
echo "   attacker's connections established as the client starts: $(ip netns exec "$ns" ss -Htn state established | wc -l)"
python3 "$clients" client 127.0.0.1 "$port" --seconds $((hold_seconds / 2))
wait "$hold_pid" || true
sed 's/^/   /' "$work/hold.txt"
echo
echo "3. $endless connections sending header fields without end for ${endless_seconds}s, the client beside them;"
echo "   aim: the server's memory grows by less than 10 MB"
before=$(rss)
ip netns exec "$ns" python3 "$clients" endless "$subnet.1" "$port" --connections "$endless" \
    --seconds "$endless_seconds" >"$work/endless.txt" 2>&1 &
endless_pid=$!
(sleep 1 && python3 "$clients" client 127.0.0.1 "$port" --seconds $((endless_seconds > 3 ? endless_seconds - 2 : 1)) \
    >"$work/endless-client.txt" 2>&1) &
endless_client_pid=$!
most=$before
while kill -0 "$endless_pid" 2>/dev/null; do
    now=$(rss)
    [ "$now" -gt "$most" ] && most=$now
    sleep 0.2
done
wait "$endless_pid" || true
wait "$endless_client_pid" || true
sleep 1
sed 's/^/   /' "$work/endless.txt" "$work/endless-client.txt"
echo "   server resident memory: before $((before / 1024)) MB, most $((most / 1024)) MB (growth $(((most - before) / 1024)) MB), after $(($(rss) / 1024)) MB"
echo
python3 "$clients" client 127.0.0.1 "$port" --seconds 3 | sed 's/^/afterwards: /'
echo

# The kernel's memory for the established sockets of the port (receive, send queue and reserve), KiB.
socket_kib() {
    ss -Htmn state established "sport = :$1" | awk -F'skmem:[(]' 'NF > 1 {
        n = split($2, f, /[,)]/)
        for (i = 1; i <= n; i++) {
            key = f[i]; sub(/[0-9]+$/, "", key); value = substr(f[i], length(key) + 1)
            if (key == "r" || key == "w" || key == "f") sum += value
        }
    } END { printf "%d\n", sum / 1024 }'
}
page_kib=$(($(getconf PAGESIZE) / 1024))
# Runs the load (a command line, in the attacker's namespace) against the port and prints one row: the
# median and the most of the server sockets' memory and of all TCP memory, sampled every half second
# after the connections are up, and the load's own line.
memory_row() {
    local name=$1 target_port=$2
    shift 2
    ip netns exec "$ns" "$@" >"$work/load.txt" 2>&1 &
    local load_pid=$!
    : >"$work/samples"
    sleep 3
    while kill -0 "$load_pid" 2>/dev/null; do
        echo "$(socket_kib "$target_port") $(($(awk '/^TCP:/ { print $NF }' /proc/net/sockstat) * page_kib))" >>"$work/samples"
        sleep 0.5
    done
    wait "$load_pid" || true
    local load_line
    load_line=$(grep -E '^fetch:|Requests/sec' "$work/load.txt" | sed 's/  */ /g' | head -1)
    awk -v name="$name" -v load="$load_line" '
        function median(a, n,    i, j, t) {
            for (i = 2; i <= n; i++)
                for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
        }
        { n++; s[n] = $1; t[n] = $2; if ($1 > smax) smax = $1; if ($2 > tmax) tmax = $2 }
        END {
            if (n == 0) { printf "   %-10s no samples (the load ended early)\n", name; exit }
            printf "   %-10s server sockets %6.1f MiB median, %6.1f most; all TCP %6.1f MiB median, %6.1f most   %s\n",
                   name, median(s, n) / 1024, smax / 1024, median(t, n) / 1024, tmax / 1024, load
            print median(s, n) > "/dev/stderr"
        }' "$work/samples" 2>"$work/median.$name"
}

echo "4. kernel socket memory while $many connections from the attacker's namespace fetch the document"
echo "   (server side: receive and send queues and reserves of its sockets, from ss -tm; all TCP: /proc/net/sockstat);"
echo "   aim: ours at most twice nginx's"
for load in paced wrk; do
    if [ "$load" = paced ]; then
        echo "   each connection a GET every ${fetch_interval}s, read at $fetch_rate bytes/s, the same pace for both servers, ${many_seconds}s:"
    else
        echo "   wrk -t2 -c$many as fast as it goes, ${many_seconds}s:"
    fi
    for name in ours nginx; do
        target_port=$port
        [ "$name" = nginx ] && target_port=$nginx_port
        if [ "$load" = paced ]; then
            memory_row "$name" "$target_port" python3 "$clients" fetch "$subnet.1" "$target_port" \
                --connections "$many" --seconds "$many_seconds" --interval "$fetch_interval" --read-rate "$fetch_rate"
        else
            memory_row "$name" "$target_port" wrk -t2 -c"$many" -d"${many_seconds}s" "http://$subnet.1:$target_port/"
        fi
    done
    ours_median=$(cat "$work/median.ours" 2>/dev/null || echo 0)
    nginx_median=$(cat "$work/median.nginx" 2>/dev/null || echo 0)
    awk -v o="$ours_median" -v n="$nginx_median" 'BEGIN {
        if (n > 0) printf "   ours / nginx (server sockets, medians): %.2f\n", o / n
        else print "   ours / nginx: nginx held no measurable socket memory"
    }'
done
echo
echo "load average after $(cut -d' ' -f1-3 /proc/loadavg)"
