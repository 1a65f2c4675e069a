#!/usr/bin/env bash
# Loads the LAN slide-information server (bench_lan_http_server: a stored document with two 800 x 600
# thumbnails) and, as the yardstick, nginx serving the same bytes as a static file, one after the other
# in the same run with the same wrk settings; prints requests a second and latency percentiles of both.
# Both listen for loopback clients only in this run, and both are stopped at the end; nginx runs on a
# configuration of its own in a temporary folder, never as the system's service.
#   bench/http-load.sh [build dir]
# Settings: THREADS (2), CONNECTIONS (32), DURATION (10s), WARMUP (2s), ROUNDS (1), NGINX_WORKERS (auto).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server="$build/bench/bench_lan_http_server"
threads=${THREADS:-2}
connections=${CONNECTIONS:-32}
duration=${DURATION:-10s}
warmup=${WARMUP:-2s}
rounds=${ROUNDS:-1}
workers=${NGINX_WORKERS:-auto}

[ -x "$server" ] || { echo "no $server: cmake --build --preset default --target bench_lan_http_server" >&2; exit 1; }
for tool in wrk nginx curl ss; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/setup installs it" >&2; exit 1; }
done

work=$(mktemp -d)
ours_pid=""
nginx_pid=""
cleanup() {
    [ -n "$ours_pid" ] && kill "$ours_pid" 2>/dev/null && wait "$ours_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A TCP port nothing listens on.
free_port() {
    local port
    for _ in $(seq 1 100); do
        port=$((20000 + RANDOM % 40000))
        if [ -z "$(ss -Hltn "sport = :$port")" ]; then
            echo "$port"
            return
        fi
    done
    echo "no free port" >&2
    exit 1
}

# Waits (at most 30 s) until the URL answers.
wait_for() {
    for _ in $(seq 1 300); do
        curl -s -o /dev/null "$1" && return 0
        sleep 0.1
    done
    echo "nothing answers at $1" >&2
    exit 1
}

ours_port=$(free_port)
nginx_port=$(free_port)
while [ "$nginx_port" = "$ours_port" ]; do nginx_port=$(free_port); done
mkdir -p "$work/www" "$work/tmp"
# nginx's workers run as an unprivileged user: they must reach the file.
chmod 755 "$work" "$work/www"

"$server" --port "$ours_port" --document-out "$work/www/slide-info.json" --max-seconds 900 >"$work/ours.log" 2>&1 &
ours_pid=$!
wait_for "http://127.0.0.1:$ours_port/"

cat >"$work/nginx.conf" <<CONF
worker_processes $workers;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/tmp/body;
    proxy_temp_path $work/tmp/proxy;
    fastcgi_temp_path $work/tmp/fastcgi;
    uwsgi_temp_path $work/tmp/uwsgi;
    scgi_temp_path $work/tmp/scgi;
    types { }
    default_type text/json;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
        location / { try_files /slide-info.json =404; }
    }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" &
nginx_pid=$!
wait_for "http://127.0.0.1:$nginx_port/"

# Both must serve exactly the same bytes.
curl -s -o "$work/ours.body" "http://127.0.0.1:$ours_port/"
curl -s -o "$work/nginx.body" "http://127.0.0.1:$nginx_port/"
cmp -s "$work/ours.body" "$work/www/slide-info.json" || { echo "our server's body differs from the file" >&2; exit 1; }
cmp -s "$work/nginx.body" "$work/www/slide-info.json" || { echo "nginx's body differs from the file" >&2; exit 1; }
size=$(stat -c %s "$work/www/slide-info.json")

# Runs wrk on the URL and prints one row: requests/s, p50, p90, p99, transfer, errors.
measure() {
    local name=$1 url=$2 out
    wrk -t"$threads" -c"$connections" -d"$warmup" "$url" >/dev/null
    out=$(wrk -t"$threads" -c"$connections" -d"$duration" --latency "$url")
    echo "$out" >>"$work/wrk.txt"
    awk -v name="$name" '
        /Requests\/sec:/ { rps = $2 }
        /Transfer\/sec:/ { transfer = $2 }
        /^ +50%/ { p50 = $2 } /^ +90%/ { p90 = $2 } /^ +99%/ { p99 = $2 }
        /Socket errors:/ { errors = $0; sub(/^ +Socket errors: +/, "", errors) }
        /Non-2xx or 3xx responses:/ { non2xx = $NF }
        END {
            note = ""
            if (errors != "") note = note "socket errors: " errors " "
            if (non2xx != "") note = note "non-2xx: " non2xx
            printf "%-22s %12s %10s %10s %10s %12s  %s\n", name, rps, p50, p90, p99, transfer, note
        }' <<<"$out"
}

echo "HTTP load: wrk -t$threads -c$connections -d$duration --latency (after a $warmup warm-up), loopback"
echo "document $size bytes, two 800 x 600 JPEG thumbnails in base64; nginx $(nginx -v 2>&1 | sed 's/.*\///'), worker_processes $workers"
echo "cores $(nproc), load average before $(cut -d' ' -f1-3 /proc/loadavg)"
echo
printf "%-22s %12s %10s %10s %10s %12s\n" "server" "requests/s" "p50" "p90" "p99" "transfer/s"
for ((round = 1; round <= rounds; round++)); do
    measure "LanInfoServer" "http://127.0.0.1:$ours_port/"
    measure "nginx (static file)" "http://127.0.0.1:$nginx_port/"
done
echo
echo "load average after $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "${WRK_OUTPUT:-}" ]; then
    cp "$work/wrk.txt" "$WRK_OUTPUT"
fi
