#!/bin/sh
# The probe's peak memory (maximum resident set, from GNU time) while it
# checks the list answer of ACCOUNTS generated accounts with as many
# aliases, served by the development host; the list step's own line says
# how many bytes it checked and in how long. Builds first (see
# devkit/host/load/start-host.sh for BUILD_DIR). The same against endless
# answers: tests/e2e/hostile_endpoint.py.
#
#   bench/probe-memory.sh [ACCOUNTS]
set -eu
cd "$(dirname "$0")/.."
. devkit/host/load/start-host.sh
accounts=${1:-1000000}

require_tools cmake python3 curl /usr/bin/time
build_host
cmake --build "$build" --target tessaline-doctor >/dev/null
work=$(mktemp -d)
host_pid=""
trap '[ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null; rm -rf "$work"' EXIT
start_host "$work" "$accounts" "$accounts" --answer-budget 1073741824
echo admin-pass | /usr/bin/time -f '%M' -o "$work/peak" "$build/doctor/tessaline-doctor" --probe "$url" \
    --caller admin@example.com --ca-file "$work/isapi-devhost-cert.pem" >"$work/report" || true
grep ' list:' "$work/report"
awk -v accounts="$accounts" '{ printf "peak resident memory of tessaline-doctor --probe, list of %d accounts: %.1f MiB\n", accounts, $1 / 1024 }' "$work/peak"
