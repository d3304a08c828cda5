#!/bin/sh
# Times one list over HTTPS with curl, end to end (connection, TLS, request,
# the whole answer), with ACCOUNTS generated accounts and as many aliases;
# prints each round's seconds and their median. Builds first (see
# start-host.sh for BUILD_DIR).
#
#   devkit/host/load/time-large-list.sh [ACCOUNTS] [ROUNDS]
set -eu
cd "$(dirname "$0")/../../.."
. devkit/host/load/start-host.sh
accounts=${1:-100000}
rounds=${2:-5}

require_tools cmake python3 curl
build_host
work=$(mktemp -d)
host_pid=""
trap '[ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null; rm -rf "$work"' EXIT
start_host "$work" "$accounts" "$accounts"
check_answers

for round in $(seq "$rounds"); do
    curl -sk -u admin@example.com:admin-pass -d cmd=list -o "$work/list.json" \
        -w '%{time_total} %{size_download}\n' "$url" >>"$work/times"
done
awk '{ printf "  %.4f s, %d bytes\n", $1, $2 }' "$work/times"
sort -n "$work/times" | awk -v accounts="$accounts" '{ value[NR] = $1 } END {
    printf "median of %d: %.4f s for one list of %d accounts with as many aliases\n", NR, value[int((NR + 1) / 2)], accounts }'
