#!/bin/sh
# Lays out the sample mail server for a development host or a test.
#
#   devkit/sample/lay-out.sh DEST_DIR LIBRARY_DIR
#
# DEST_DIR     where the sample's files go; created when missing, the
#              sample's files in it overwritten. Settings.ini is the one
#              file the extension writes to.
# LIBRARY_DIR  the directory holding VLUser.so (the registry's AppPath).
#
# Writes DEST_DIR/Velmora.ini, whose [Directories] name DEST_DIR's
# Accounts.txt, Aliases.txt and Settings.ini by absolute paths, and
# DEST_DIR/registry.reg, whose AppPath is LIBRARY_DIR and IniPath that
# Velmora.ini. Prints the absolute path of registry.reg, and nothing else,
# on standard output: point VELMORA_REGISTRY_FILE at it.
#
# Sign in as admin@example.com with password admin-pass (web-config
# permission 4); devkit/sample/Accounts.txt lists every account.
set -eu

if [ "$#" -ne 2 ]; then
    echo "usage: $0 DEST_DIR LIBRARY_DIR" >&2
    exit 2
fi
sample=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
dest=$(cd "$1" && pwd)
library=$(cd "$2" && pwd)

# Paths go into sed replacements and into quoted registry strings.
sed_escaped() { printf '%s' "$1" | sed 's/[\\&|]/\\&/g'; }
reg_escaped() { printf '%s' "$1" | sed 's/[\\"]/\\&/g'; }

cp "$sample/Accounts.txt" "$sample/Aliases.txt" "$sample/Settings.ini" "$dest/"
sed "s|@DATA_DIR@|$(sed_escaped "$dest")|g" "$sample/Velmora.ini" >"$dest/Velmora.ini"
sed -e "s|@LIBRARY_DIR@|$(sed_escaped "$(reg_escaped "$library")")|g" \
    -e "s|@DATA_DIR@|$(sed_escaped "$(reg_escaped "$dest")")|g" \
    "$sample/registry.reg.in" >"$dest/registry.reg"
echo "$dest/registry.reg"
