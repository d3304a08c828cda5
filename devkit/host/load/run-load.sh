#!/bin/sh
# Measures requests per second of the auth and list commands through
# isapi-devhost over HTTPS, each request on a new connection, with 10,000
# accounts. Builds the linux preset first; prints wrk's reports.
#
#   devkit/host/load/run-load.sh [SECONDS] [CONNECTIONS]
set -eu
cd "$(dirname "$0")/../../.."
seconds=${1:-10}
connections=${2:-16}
here=devkit/host/load
build="$PWD/build/linux"

cmake --preset linux >/dev/null
cmake --build --preset linux --target TessalineIntegration VLUser isapi-devhost >/dev/null

work=$(mktemp -d)
host_pid=""
trap '[ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null; rm -rf "$work"' EXIT
registry=$(devkit/sample/lay-out.sh "$work/sample" "$build/devkit/userlib")
python3 "$here/make_accounts.py" 10000 "$work/sample/Accounts.txt" "$work/sample/Aliases.txt"

: >"$work/host.err"
VELMORA_REGISTRY_FILE="$registry" "$build/devkit/host/isapi-devhost" \
    --extension "$build/TessalineIntegration.so" --listen 127.0.0.1:0 --state-dir "$work" \
    --client-connections "$connections" >/dev/null 2>"$work/host.err" &
host_pid=$!
while ! grep -q "listening on" "$work/host.err"; do
    kill -0 "$host_pid" 2>/dev/null || { cat "$work/host.err"; exit 1; }
    sleep 0.1
done
url=$(grep -o 'https://[^ ]*' "$work/host.err")/TessalineIntegration.dll

# What is measured must be the right answer: auth true, list of every account.
curl -sk -u admin@example.com:admin-pass -d 'cmd=auth&user=user04711%40example.com&pass=pass04711' "$url"
curl -sk -u admin@example.com:admin-pass -d cmd=list "$url" | grep -c '"userName"' | sed 's/$/ accounts listed/'

for command in auth list; do
    echo "== $command, 10,000 accounts, a new connection per request"
    wrk --threads 2 --connections "$connections" --duration "${seconds}s" --latency \
        -H "Connection: close" --script "$here/post.lua" "$url" -- "$command"
done
