#!/usr/bin/env bash
# Loads the LAN slide-information server (bench_lan_http_server: a stored document with two 800 x 600
# thumbnails) and, as the yardstick, nginx serving the same bytes as a static file, in the same run with
# the same wrk settings. For each number of connections it runs rounds of both servers, one after the
# other, the first of each round alternating between them; the servers share one set of cores and wrk
# runs on the others, so that the client's scheduling does not favour either. Prints, per server,
# requests a second and p99 latency over the rounds (min, median, max), and the median over the rounds
# of the ratio of our server's figure to nginx's.
# Both listen for loopback clients only in this run, and both are stopped at the end; nginx runs on a
# configuration of its own in a temporary folder, never as the system's service.
#   bench/http-load.sh [build dir]
# Settings: CONNECTIONS ("32 256 1000"), ROUNDS (5), DURATION (10s), WARMUP (2s), THREADS (2),
#   SERVER_CPUS and CLIENT_CPUS (taskset lists; default: the first half of this process's cores for the
#   servers, the rest for wrk), NGINX_WORKERS (as many as the servers' cores), SERVER (the server binary).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=${1:-build}
server=${SERVER:-"$build/bench/bench_lan_http_server"}
threads=${THREADS:-2}
connection_counts=${CONNECTIONS:-"32 256 1000"}
duration=${DURATION:-10s}
warmup=${WARMUP:-2s}
rounds=${ROUNDS:-5}

[ -x "$server" ] || { echo "no $server: cmake --build --preset default --target bench_lan_http_server" >&2; exit 1; }
for tool in wrk nginx curl ss taskset; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/setup installs it" >&2; exit 1; }
done
[ "$rounds" -ge 1 ] || { echo "ROUNDS must be at least 1" >&2; exit 1; }

# The cores this process may run on, split in two halves unless told otherwise.
mapfile -t cores < <(taskset -pc $$ | sed 's/.*: //' | tr ',' '\n' |
    awk -F- '{ if (NF == 2) for (i = $1; i <= $2; i++) print i; else print $1 }')
if [ -z "${SERVER_CPUS:-}" ] || [ -z "${CLIENT_CPUS:-}" ]; then
    if [ "${#cores[@]}" -lt 2 ]; then
        echo "one core only: servers and wrk cannot run apart" >&2
        exit 1
    fi
    half=$((${#cores[@]} / 2))
    SERVER_CPUS=$(IFS=,; echo "${cores[*]:0:half}")
    CLIENT_CPUS=$(IFS=,; echo "${cores[*]:half}")
fi
server_core_count=$(echo "$SERVER_CPUS" | tr ',' '\n' | awk -F- '{ n += NF == 2 ? $2 - $1 + 1 : 1 } END { print n }')
workers=${NGINX_WORKERS:-$server_core_count}

# wrk and both servers need a descriptor a connection; raise this shell's limit, which they inherit.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

work=$(mktemp -d)
ours_pid=""
nginx_pid=""
cleanup() {
    [ -n "$ours_pid" ] && kill "$ours_pid" 2>/dev/null && wait "$ours_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

ours_port=$(free_port)
nginx_port=$(free_port)
while [ "$nginx_port" = "$ours_port" ]; do nginx_port=$(free_port); done
mkdir -p "$work/www" "$work/tmp"
# nginx's workers run as an unprivileged user: they must reach the file.
chmod 755 "$work" "$work/www"

taskset -c "$SERVER_CPUS" "$server" --port "$ours_port" --document-out "$work/www/slide-info.json" \
    --max-seconds 3600 >"$work/ours.log" 2>&1 &
ours_pid=$!
wait_for "http://127.0.0.1:$ours_port/" "$work/ours.log"

nginx_conf "127.0.0.1:$nginx_port" "$workers" 8192 4096
taskset -c "$SERVER_CPUS" nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" &
nginx_pid=$!
wait_for "http://127.0.0.1:$nginx_port/" "$work/nginx-error.log"

# Both must serve exactly the same bytes.
curl -s -o "$work/ours.body" "http://127.0.0.1:$ours_port/"
curl -s -o "$work/nginx.body" "http://127.0.0.1:$nginx_port/"
cmp -s "$work/ours.body" "$work/www/slide-info.json" || { echo "our server's body differs from the file" >&2; exit 1; }
cmp -s "$work/nginx.body" "$work/www/slide-info.json" || { echo "nginx's body differs from the file" >&2; exit 1; }
size=$(stat -c %s "$work/www/slide-info.json")

# Runs wrk (after a warm-up) and adds a row to results: connections, server, round, requests/s, p99 in
# ms, and the errors wrk counted.
measure() {
    local name=$1 url=$2 conns=$3 round=$4 out
    taskset -c "$CLIENT_CPUS" wrk -t"$threads" -c"$conns" -d"$warmup" "$url" >/dev/null
    out=$(taskset -c "$CLIENT_CPUS" wrk -t"$threads" -c"$conns" -d"$duration" --latency "$url")
    printf '== %s, %s connections, round %s\n%s\n' "$name" "$conns" "$round" "$out" >>"$work/wrk.txt"
    awk -v name="$name" -v conns="$conns" -v round="$round" '
        function ms(v) {
            if (v ~ /us$/) return v / 1000
            if (v ~ /ms$/) return v + 0
            if (v ~ /s$/) return v * 1000
            return v + 0
        }
        /Requests\/sec:/ { rps = $2 }
        /^ +99%/ { p99 = ms($2) }
        /Socket errors:/ { gsub(/[^0-9 ]/, " "); errors += $1 + $2 + $3 + $4 }
        /Non-2xx or 3xx responses:/ { errors += $NF }
        END { printf "%s %s %s %.0f %.3f %d\n", conns, name, round, rps, p99, errors }' <<<"$out" >>"$work/results"
}

echo "HTTP load: wrk -t$threads -d$duration --latency (after a $warmup warm-up), loopback, $rounds rounds"
echo "document $size bytes, two 800 x 600 JPEG thumbnails in base64; nginx $(nginx -v 2>&1 | sed 's/.*\///')," \
    "$workers workers, sendfile"
echo "servers on cores $SERVER_CPUS, wrk on cores $CLIENT_CPUS; load average before $(cut -d' ' -f1-3 /proc/loadavg)"
: >"$work/results"
first=0
for conns in $connection_counts; do
    for ((round = 1; round <= rounds; round++)); do
        if ((first++ % 2 == 0)); then
            measure ours "http://127.0.0.1:$ours_port/" "$conns" "$round"
            measure nginx "http://127.0.0.1:$nginx_port/" "$conns" "$round"
        else
            measure nginx "http://127.0.0.1:$nginx_port/" "$conns" "$round"
            measure ours "http://127.0.0.1:$ours_port/" "$conns" "$round"
        fi
    done
    echo
    printf "%5s %-26s %26s %26s %7s\n" "$conns" "connections" "requests/s: min median max" \
        "p99 ms: min median max" "errors"
    awk -v conns="$conns" '
        function median(a, n,    i, j, t) {
            for (i = 2; i <= n; i++)
                for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
        }
        function spread(a, n, format,    lo, hi, i, m) {
            lo = hi = a[1]
            for (i = 2; i <= n; i++) { if (a[i] < lo) lo = a[i]; if (a[i] > hi) hi = a[i] }
            m = median(a, n)
            return sprintf(format " " format " " format, lo, m, hi)
        }
        $1 == conns { rps[$2, $3] = $4; p99[$2, $3] = $5; errors[$2] += $6; if ($3 > rounds) rounds = $3 }
        END {
            for (r = 1; r <= 2; r++) {
                key = r == 1 ? "ours" : "nginx"
                for (i = 1; i <= rounds; i++) { x[i] = rps[key, i]; y[i] = p99[key, i] }
                printf "%5s %-26s %26s %26s %7d\n", "", r == 1 ? "LanInfoServer" : "nginx (static file)",
                       spread(x, rounds, "%8.0f"), spread(y, rounds, "%8.2f"), errors[key]
            }
            for (i = 1; i <= rounds; i++) {
                q[i] = rps["nginx", i] > 0 ? rps["ours", i] / rps["nginx", i] : 0
                l[i] = p99["nginx", i] > 0 ? p99["ours", i] / p99["nginx", i] : 0
            }
            printf "%5s median over the rounds of ours / nginx: requests/s %.2f (aim >= 0.8), p99 %.2f (aim <= 3)\n",
                   "", median(q, rounds), median(l, rounds)
        }' "$work/results"
done
echo
echo "load average after $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "${WRK_OUTPUT:-}" ]; then
    cp "$work/wrk.txt" "$WRK_OUTPUT"
fi
