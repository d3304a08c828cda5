#!/bin/sh
# Measures the host's memory while clients that never read hold answers to
# list: ACCOUNTS generated accounts with as many aliases, CLIENTS connections
# that each post cmd=list and read nothing. Prints the host's resident memory
# after start, after one list read in full, and once the non-readers' lists
# are all collected (the host's CPU time at rest), with the peak, and what
# each non-reader was answered. HOST OPTIONS go to the host, --answer-budget
# among them. Builds first (see start-host.sh for BUILD_DIR).
#
#   devkit/host/load/hold-large-list.sh [ACCOUNTS] [CLIENTS] [HOST OPTIONS...]
set -eu
cd "$(dirname "$0")/../../.."
. devkit/host/load/start-host.sh
accounts=${1:-1000000}
clients=${2:-8}
shift $(($# < 2 ? $# : 2))

require_tools cmake python3
build_host
work=$(mktemp -d)
host_pid=""
trap '[ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null; rm -rf "$work"' EXIT
# The non-readers' answers are held until they are written: the write
# timeout is lifted so that none is let go while it is measured.
start_host "$work" "$accounts" "$accounts" --timeout 600 "$@"
python3 "$load_dir/non_readers.py" "$url" "$host_pid" "$clients"
