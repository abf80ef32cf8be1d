#!/usr/bin/env bash
# Builds the driver and the b58scan host program (optimised) and scans with the virtual
# scanner: by default its built-in chart, a US letter page in colour at 150 dpi, into
# build/default/scan.png. Arguments go to b58scan instead (e.g. "info", or a scan of your
# own: scan --mode gray --resolution 300 --size a4 --output /tmp/a4.tif).
#
#   scripts/scan.sh [b58scan arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
export CCACHE_BASEDIR="$PWD"
cmake --preset default >/dev/null
cmake --build --preset default -j "${B58_JOBS:-$(nproc)}" --target b58scan

# The virtual scanner as device 0, unless the caller chose the devices.
export B58_DEVICES="${B58_DEVICES-sim@0}"
if [[ $# -gt 0 ]]; then
    exec build/default/bin/b58scan "$@"
fi
output="$PWD/build/default/scan.png"
build/default/bin/b58scan scan --resolution 150 --mode Color -o "$output"
echo "the scanned image is $output"
