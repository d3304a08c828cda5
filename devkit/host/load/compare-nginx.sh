#!/bin/sh
# Compares isapi-devhost with nginx on this machine: the same wrk command,
# a new connection per request, against the host's auth and list (10,000
# accounts) and against nginx serving a 22-byte file with the host's
# certificate. nginx runs privately on 127.0.0.1 from a temporary
# configuration: as many workers as cores, no access log, TLS 1.2 and 1.3,
# its default session handling. The rounds interleave the three; the
# medians of requests per second and their ratios to nginx are printed.
# Builds first (see start-host.sh for BUILD_DIR).
#
#   devkit/host/load/compare-nginx.sh [ROUNDS] [SECONDS]
set -eu
cd "$(dirname "$0")/../../.."
. devkit/host/load/start-host.sh
rounds=${1:-5}
seconds=${2:-10}
threads=2
connections=16

# scripts/install-packages.sh installs nginx for the doctor's probe tests.
command -v nginx >/dev/null 2>&1 || { echo "missing: nginx (scripts/install-packages.sh, or apt-get install nginx)" >&2; exit 1; }
require_tools cmake python3 curl wrk
build_host
work=$(mktemp -d)
host_pid=""
nginx_pid=""
trap '[ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null; [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null; rm -rf "$work"' EXIT
# wrk's connections all come from 127.0.0.1, and a closed one may still be
# counted for a moment as its successor arrives: the per-client limit is
# lifted to the host's whole capacity for the run.
start_host "$work" 10000 1000 --client-connections 256
check_answers

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start_nginx() {
    port=$(free_port)
    mkdir -p "$work/nginx/www"
    printf '{"succeeded": false}\r\n' >"$work/nginx/www/answer.json"
    cat >"$work/nginx/nginx.conf" <<EOT
user $(id -un);
worker_processes $(nproc);
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    default_type application/json;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server {
        listen 127.0.0.1:$port ssl;
        ssl_certificate $work/isapi-devhost-cert.pem;
        ssl_certificate_key $work/isapi-devhost-key.pem;
        ssl_protocols TLSv1.2 TLSv1.3;
        root $work/nginx/www;
    }
}
EOT
    nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" -g 'daemon off;' &
    nginx_pid=$!
    nginx_url="https://127.0.0.1:$port/answer.json"
    for _ in $(seq 50); do
        curl -sk -o /dev/null "$nginx_url" && return
        sleep 0.1
    done
    cat "$work/nginx/error.log" >&2
    exit 1
}

# measure NAME [WRK ARGUMENTS...]: one round; appends requests per second to $work/rates/NAME.
measure() {
    name=$1
    shift
    wrk --threads "$threads" --connections "$connections" --duration "${seconds}s" \
        -H "Connection: close" "$@" >"$work/wrk.out"
    rate=$(awk '/^Requests\/sec:/ { print $2 }' "$work/wrk.out")
    errors=$(grep -E 'Socket errors|Non-2xx' "$work/wrk.out" | tr -s ' ' | tr '\n' ';' || true)
    echo "$rate" >>"$work/rates/$name"
    printf '  %-6s %10s requests/s %s\n' "$name" "$rate" "$errors"
}

median() {
    sort -n "$work/rates/$1" | awk '{ value[NR] = $1 } END { print (NR % 2) ? value[(NR + 1) / 2] : (value[NR / 2] + value[NR / 2 + 1]) / 2 }'
}

mkdir "$work/rates"
start_nginx
echo "nginx $(nginx -v 2>&1 | sed 's|.*/||'), $(nproc) workers, $nginx_url: $(curl -sk "$nginx_url" | wc -c) bytes"
for round in $(seq "$rounds"); do
    echo "round $round of $rounds: wrk -t$threads -c$connections -d${seconds}s, Connection: close"
    measure nginx "$nginx_url"
    measure auth --script "$load_dir/post.lua" "$url" -- auth
    measure list --script "$load_dir/post.lua" "$url" -- list
done

nginx_rate=$(median nginx)
echo "medians over $rounds rounds (requests per second):"
for name in nginx auth list; do
    rate=$(median "$name")
    printf '  %-6s %10.1f  %.2f of nginx\n' "$name" "$rate" "$(echo "$rate $nginx_rate" | awk '{ print $1 / $2 }')"
done
