#!/usr/bin/env bash
# The cloud channel of the real application (the PodiumCast bundle, its heartbeat every 5 s, the command
# poll, the update check) against cloud servers whose answers' heads never end, are huge, hold one huge
# line or trickle, beside the same run against a server that answers normally: for each server, the
# application's resident memory once it has settled after its start (WARMUP seconds) and at its most
# over the run, the processor time it used as a share of one core, and how long the server saw each
# exchange last. Everything on loopback; the servers, the application and its folders go at the end.
#   bench/cloud-attack.sh [build dir]
# Settings: SECONDS_EACH (60), WARMUP (15), MODES ("ok endless block line trickle").
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${SECONDS_EACH:-60}
warmup=${WARMUP:-15}
modes=${MODES:-"ok endless block line trickle"}
bundle="$build/bundles/PodiumCast.app"
[ -x "$bundle/Contents/MacOS/PodiumCast" ] || { echo "no $bundle: scripts/build" >&2; exit 1; }

work=$(mktemp -d)
app_pid=""
server_pid=""
cleanup() {
    local pid
    for pid in $app_pid $server_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

python3 tests/support/hostile_cloud.py "$work/exchanges.log" >"$work/port" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n1 "$work/port")
ticks=$(getconf CLK_TCK)

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

echo "Cloud channel of the PodiumCast bundle against each server for ${seconds}s after ${warmup}s; cores $(nproc)"
printf '%-8s %10s %10s %10s %9s %10s %10s %10s\n' server "RSS start" "RSS most" growth "CPU" exchanges "median s" "longest s"
for mode in $modes; do
    copy="$work/$mode.app"
    cp -r "$bundle" "$copy"
    python3 - "$copy/Contents/Info.plist" "http://127.0.0.1:$port/$mode" <<'PY'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    info = plistlib.load(f)
info["ApiRoot"] = sys.argv[2]
with open(sys.argv[1], "wb") as f:
    plistlib.dump(info, f)
PY
    home="$work/home-$mode"
    mkdir -p "$home/.config" "$home/run" "$home/Documents"
    chmod 700 "$home/run"
    echo '{"IsStoppedShowingWelcome": true, "SelectedVersion": 2}' >"$home/.config/com.brisvane.PodiumCastForMac.json"
    : >"$work/exchanges.log"
    # No session bus to find, and none is started for it.
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" \
        XDG_DOCUMENTS_DIR="$home/Documents" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" \
        QT_QPA_PLATFORM=offscreen "$copy/Contents/MacOS/PodiumCast" >"$work/$mode.log" 2>&1 &
    app_pid=$!
    for _ in $(seq 300); do grep -q "_confirmSocket = " "$work/$mode.log" && break; sleep 0.1; done
    sleep "$warmup"
    : >"$work/exchanges.log"
    start_rss=$(rss_kb "$app_pid")
    start_cpu=$(cpu_ticks "$app_pid")
    most=$start_rss
    end=$((SECONDS + seconds))
    while [ $SECONDS -lt "$end" ]; do
        now=$(rss_kb "$app_pid")
        [ "$now" -gt "$most" ] && most=$now
        sleep 0.5
    done
    used=$(($(cpu_ticks "$app_pid") - start_cpu))
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    sleep 1 # the server notices the last connection's end
    read -r count median longest < <(awk '{ print $3 }' "$work/exchanges.log" | sort -n |
        awk '{ v[NR] = $1 } END { if (NR == 0) print 0, "-", "-"; else printf "%d %.2f %.2f\n", NR, v[int((NR + 1) / 2)], v[NR] }')
    printf '%-8s %7d MB %7d MB %7d MB %8.2f%% %10s %10s %10s\n' "$mode" $((start_rss / 1024)) $((most / 1024)) \
        $(((most - start_rss) / 1024)) "$(awk -v u="$used" -v t="$ticks" -v s="$seconds" 'BEGIN { print 100 * u / t / s }')" "$count" "$median" "$longest"
done
