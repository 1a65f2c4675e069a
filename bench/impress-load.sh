#!/usr/bin/env bash
# The application on the path a user has, with LibreOffice Impress (bench_slide_change): the real bundle
# executable in a copy of the PodiumCast bundle, an office of the run's own, the phone in a network
# namespace of its own. Prints
#   slide-change  for decks of 20 and 300 slides in their slide show: the time from the phone's
#                 next-slide command to the LAN document that shows the next slide (median, p95, max),
#                 beside the GET alone and one push's build alone from the same run;
#   idle          the processor time of the idle application with its child processes and the resident
#                 bridge, as a percent of one core, with the deck in front in the editing view and in its
#                 show, beside the office's own;
#   all           both (the default): idle first, then the presses.
# The X server is an Xvfb started here; the phone's namespace is made by the bench (needs root; loopback
# otherwise). Whenever the script ends, Ctrl-C included, the bench is stopped and whatever it started
# that is still there (the application, its session bus, the bridge, the office, the namespace, the
# office's pipes) is removed, and the X server with it. Bounded by LIMIT seconds (default 1800).
#   bench/impress-load.sh [build dir] [slide-change|idle|all] [bench_slide_change options: --decks 20,300
#                         --presses N --idle-seconds S --poll-ms MS --pause-ms MS --gets N --builds N]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=build
if [ $# -gt 0 ] && [ -d "$1" ]; then
    build=$1
    shift
fi
what=all
case "${1:-}" in
slide-change | idle | all)
    what=$1
    shift
    ;;
esac
case $what in
slide-change) set -- --idle-seconds 0 "$@" ;;
idle) set -- --presses 0 "$@" ;;
esac
limit=${LIMIT:-1800}
bench="$build/bench/bench_slide_change"
[ -x "$bench" ] || { echo "no $bench: cmake --build build --target bench_slide_change" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "no Xvfb (scripts/setup installs it)" >&2; exit 1; }
command -v soffice >/dev/null || { echo "no LibreOffice Impress (scripts/setup installs it)" >&2; exit 1; }

# Everything the bench starts keeps its files in here, and names it on its command line.
work=$(mktemp -d)
uid=$(id -u)
xvfb_pid=""
bench_pid=""
bench_ended=""
pipes_before=$(ls -d /tmp/OSL_PIPE_"${uid}"_* 2>/dev/null || true)

# The processes whose command line names the work folder.
started_here() {
    local entry pid
    for entry in /proc/[0-9]*; do
        pid=${entry#/proc/}
        [ "$pid" != $$ ] || continue
        grep -qaF -- "$work" "$entry/cmdline" 2>/dev/null && echo "$pid"
    done
    return 0
}

cleanup() {
    local pid left group pipe
    if [ -n "$bench_pid" ] && [ -z "$bench_ended" ]; then
        # The bench ends the application and the office itself when asked to.
        kill -TERM "$bench_pid" 2>/dev/null || true
        for _ in $(seq 90); do
            kill -0 "$bench_pid" 2>/dev/null || break
            sleep 1
        done
        kill -KILL "$bench_pid" 2>/dev/null || true
        wait "$bench_pid" 2>/dev/null || true
    fi
    # The bridge ends by itself within a second or two once its folder is gone.
    for _ in $(seq 50); do
        [ -n "$(started_here)" ] || break
        sleep 0.1
    done
    left=$(started_here)
    if [ -n "$left" ]; then
        echo "left behind, ended now:" >&2
        for pid in $left; do
            tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | cut -c1-160 >&2 || true
            # A session bus and an office lead process groups of their own, with what they started.
            group=$(awk '{ sub(/.*\) /, ""); print $3 }' "/proc/$pid/stat" 2>/dev/null || true)
            if [ "$group" = "$pid" ]; then
                kill -KILL -- "-$pid" 2>/dev/null || true
            else
                kill -KILL "$pid" 2>/dev/null || true
            fi
        done
    fi
    if [ -n "$bench_pid" ] && [ "$bench_ended" != normally ]; then
        # What a bench that was killed leaves: its phone's namespace, the office's pipes (those that no
        # process listens on any more and that were not there before).
        ip link del "pch$bench_pid" 2>/dev/null || true
        ip netns del "pcphone$bench_pid" 2>/dev/null || true
        for pipe in /tmp/OSL_PIPE_"${uid}"_*; do
            [ -e "$pipe" ] || continue
            grep -qxF -- "$pipe" <<<"$pipes_before" && continue
            ss -xlH 2>/dev/null | grep -qF -- "$pipe" || rm -f -- "$pipe"
        done
    fi
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
interrupted=""
trap cleanup EXIT
trap 'interrupted=130' INT
trap 'interrupted=143' TERM

# The X server, in a session of its own, so that a Ctrl-C does not end it before the office that
# draws on it.
start_xvfb setsid

options=()
if [ "$(id -u)" -ne 0 ]; then
    echo "no network namespace (needs root): the phone on loopback" >&2
    options=(--loopback)
fi

[ -z "$interrupted" ] || exit "$interrupted"
echo "LibreOffice $(dpkg-query -W -f '${Version}' libreoffice-impress 2>/dev/null || echo '?'), display $DISPLAY," \
    "cores $(nproc)"
# The bench runs in the background so that a signal reaches this script (and its clean-up) at once.
mkdir -m 700 "$work/runtime"
TMPDIR=$work XDG_RUNTIME_DIR=$work/runtime "$bench" "${options[@]}" "$@" &
bench_pid=$!
deadline=$((SECONDS + limit))
while kill -0 "$bench_pid" 2>/dev/null; do
    [ -z "$interrupted" ] || exit "$interrupted"
    if [ "$SECONDS" -ge "$deadline" ]; then
        echo "bench_slide_change did not end within $limit s: stopped" >&2
        exit 1
    fi
    sleep 1
done
status=0
wait "$bench_pid" || status=$?
# Ended by a signal (a crash), it cleaned up nothing.
if [ "$status" -lt 128 ]; then bench_ended=normally; else bench_ended=killed; fi
[ -z "$interrupted" ] || exit "$interrupted"
echo "load average after $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
