# shellcheck shell=bash disable=SC2154
# Helpers the load runs share; sourced, never run. They expect $work, the run's temporary folder.

# A TCP port nothing listens on, below the kernel's ephemeral ports.
free_port() {
    local port
    for _ in $(seq 1 100); do
        port=$((20000 + RANDOM % 12000))
        if [ -z "$(ss -Hltn "sport = :$port")" ]; then
            echo "$port"
            return
        fi
    done
    echo "no free port" >&2
    exit 1
}

# Waits until something answers HTTP at the URL; otherwise shows the ends of the logs named after it
# and ends the run.
wait_for() {
    local url=$1
    shift
    for _ in $(seq 1 300); do
        curl -s -o /dev/null "$url" && return 0
        sleep 0.1
    done
    echo "nothing answers at $url; the servers' logs:" >&2
    tail -n 5 "$@" >&2 2>/dev/null || true
    exit 1
}

# Writes an nginx configuration that serves $work/www/slide-info.json for any path as "text/json",
# with sendfile, everything it writes kept in $work.
#   nginx_conf ADDRESS:PORT WORKERS OPEN_FILES CONNECTIONS_PER_WORKER
nginx_conf() {
    mkdir -p "$work/tmp"
    cat >"$work/nginx.conf" <<CONF
worker_processes $2;
worker_rlimit_nofile $3;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
events { worker_connections $4; }
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
        listen $1;
        root $work/www;
        location / { try_files /slide-info.json =404; }
    }
}
CONF
}

# Starts Xvfb on the first free display, which it names when it is ready, and exports DISPLAY; sets
# xvfb_pid for the caller's clean-up. Arguments go before the command, as in "setsid".
start_xvfb() {
    "$@" Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -s "$work/display" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
}
