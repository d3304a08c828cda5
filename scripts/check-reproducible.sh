#!/bin/sh
# Builds the Windows release package twice, each from its own clone of the
# current commit at a different path, and checks that the two zips are the
# same bytes. Uncommitted changes are not part of it. Exits 1 when they
# differ, and then keeps both trees for a closer look.
set -eu
cd "$(dirname "$0")/.."
commit=$(git rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaline-reproducible.XXXXXX")

build_package() {
    tree=$1
    git clone --quiet --no-checkout "$PWD" "$tree"
    git -C "$tree" checkout --quiet --detach "$commit"
    if ! (cd "$tree" &&
          cmake --preset windows-x64 -DBUILD_TESTING=OFF -DTESSALINE_BENCHMARKS=OFF &&
          cmake --build --preset windows-x64 --target package) >"$tree.log" 2>&1; then
        cat "$tree.log"
        echo "check-reproducible: the package did not build in $tree" >&2
        exit 1
    fi
}

# Paths of different lengths, so that a path left in a binary also moves what follows it.
first=$work/a
second=$work/second-clone
build_package "$first"
build_package "$second"
first_zip=$(echo "$first"/build/windows-x64/TessalineIntegration-*-win64.zip)
second_zip=$(echo "$second"/build/windows-x64/TessalineIntegration-*-win64.zip)
sha256sum "$first_zip" "$second_zip"
if ! cmp "$first_zip" "$second_zip"; then
    echo "check-reproducible: two builds of $commit differ; both trees are kept in $work" >&2
    exit 1
fi
echo "check-reproducible: two builds of $commit give the same package"
rm -rf "$work"
