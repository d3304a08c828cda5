#!/bin/sh
# Builds the extension and says what it produced.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh
cmake --preset linux
cmake --build --preset linux
echo "Built: $PWD/build/linux/TessalineIntegration.so"
