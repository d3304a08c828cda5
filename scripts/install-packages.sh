#!/bin/sh
# Installs, with apt-get, whatever of the project's packages this machine lacks.
set -eu
packages="cmake ninja-build g++ libgtest-dev googletest libbenchmark-dev libboost-dev libssl-dev
g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix binutils-mingw-w64-i686
wine64 wine curl python3 openssl wrk python3-jsonschema python3-yaml python3-pefile unzip
mono-mcs mono-runtime libmono-system-net-http4.0-cil osslsigncode clang-tidy nginx"
# Debian's npm, unless another Node.js package already brings its own (and conflicts with it).
command -v npm >/dev/null 2>&1 || packages="$packages npm"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends $missing
