#!/bin/sh
# Measures requests per second of the auth and list commands through
# isapi-devhost over HTTPS, each request on a new connection, with 10,000
# accounts. Builds first (see start-host.sh for BUILD_DIR); prints wrk's reports.
#
#   devkit/host/load/run-load.sh [SECONDS] [CONNECTIONS]
set -eu
cd "$(dirname "$0")/../../.."
. devkit/host/load/start-host.sh
seconds=${1:-10}
connections=${2:-16}

require_tools cmake python3 curl wrk
build_host
work=$(mktemp -d)
host_pid=""
trap '[ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null; rm -rf "$work"' EXIT
# All of wrk's connections come from 127.0.0.1, and a closed one may still be
# counted for a moment as its successor arrives: the per-client limit is
# lifted to the host's whole capacity.
start_host "$work" 10000 1000 --client-connections 256
check_answers

for command in auth list; do
    echo "== $command, 10,000 accounts, a new connection per request"
    wrk --threads 2 --connections "$connections" --duration "${seconds}s" --latency \
        -H "Connection: close" --script "$load_dir/post.lua" "$url" -- "$command"
done
