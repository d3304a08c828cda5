#!/bin/sh
# Serves the extension with the sample mail server on https://127.0.0.1:8443,
# in the foreground until Ctrl-C. Installs what is missing, builds the linux
# preset's extension, stand-in user library and development host, and lays
# the sample out afresh under build/linux/devhost/ (the self-signed
# certificate made on first start is kept there too; the printed curl
# lines trust it with --cacert).
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh
cmake --preset linux
cmake --build --preset linux --target TessalineIntegration VLUser isapi-devhost

build="$PWD/build/linux"
state="$build/devhost"
registry=$(devkit/sample/lay-out.sh "$state/sample" "$build/devkit/userlib")
url="https://127.0.0.1:8443/TessalineIntegration.dll"
# Made by the host on its first start in its state directory, for localhost and 127.0.0.1.
certificate="$state/isapi-devhost-cert.pem"

cat <<EOT

Sample mail server laid out in $state/sample (registry file $registry).
The host's self-signed certificate is $certificate;
curl verifies the server against it. Once the host says it is listening, try:

  curl --cacert $certificate -u admin@example.com:admin-pass -d cmd=list $url
  curl --cacert $certificate -u admin@example.com:admin-pass -d 'cmd=auth&user=ann.lee%40example.com&pass=ann-pass' $url

One line per request follows below. Ctrl-C stops the host.

EOT
VELMORA_REGISTRY_FILE="$registry" exec "$build/devkit/host/isapi-devhost" \
    --extension "$build/TessalineIntegration.so" --listen 127.0.0.1:8443 --state-dir "$state"
