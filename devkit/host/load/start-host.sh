# Sourced by the load scripts, from the repository's top directory: builds
# the host, the extension and the stand-in user library, and serves generated
# accounts over HTTPS on a free port.
#
# BUILD_DIR names a configured build directory to build in and run from;
# without it the linux preset is built in build/linux.

load_dir=devkit/host/load

# Sets build to the directory the host, the extension and the library are built in.
build_host() {
    targets="TessalineIntegration VLUser isapi-devhost"
    if [ -n "${BUILD_DIR:-}" ]; then
        build=$(cd "$BUILD_DIR" && pwd)
        cmake --build "$build" --target $targets >/dev/null
    else
        cmake --preset linux >/dev/null
        cmake --build --preset linux --target $targets >/dev/null
        build="$PWD/build/linux"
    fi
}

# Stops with a list of the commands this machine lacks.
require_tools() {
    missing=""
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
    done
    if [ -n "$missing" ]; then
        echo "missing:$missing (scripts/install-packages.sh installs them)" >&2
        exit 1
    fi
}

# start_host WORK ACCOUNTS ALIASES [HOST OPTIONS...]
# Lays out the sample in WORK/sample with ACCOUNTS generated accounts and
# ALIASES aliases, starts the host with its certificate kept in WORK, and
# sets host_pid and url. The caller stops the host (kill "$host_pid").
start_host() {
    work=$1 accounts=$2 aliases=$3
    shift 3
    registry=$(devkit/sample/lay-out.sh "$work/sample" "$build/devkit/userlib")
    python3 "$load_dir/make_accounts.py" "$accounts" "$work/sample/Accounts.txt" "$work/sample/Aliases.txt" \
        "$aliases"
    : >"$work/host.err"
    VELMORA_REGISTRY_FILE="$registry" "$build/devkit/host/isapi-devhost" \
        --extension "$build/TessalineIntegration.so" --listen 127.0.0.1:0 --state-dir "$work" \
        "$@" >/dev/null 2>"$work/host.err" &
    host_pid=$!
    while ! grep -q "listening on" "$work/host.err"; do
        kill -0 "$host_pid" 2>/dev/null || { cat "$work/host.err" >&2; exit 1; }
        sleep 0.1
    done
    url=$(grep -o 'https://[^ ]*' "$work/host.err")/TessalineIntegration.dll
}

# What is measured must be the right answer: auth true, list of every account.
check_answers() {
    curl -sk -u admin@example.com:admin-pass -d 'cmd=auth&user=user04711%40example.com&pass=pass04711' "$url"
    curl -sk -u admin@example.com:admin-pass -d cmd=list "$url" | grep -o '"userName"' | wc -l |
        sed 's/$/ accounts listed/'
}
