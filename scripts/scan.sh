#!/usr/bin/env bash
# Builds the driver and the b58scan host program (optimised) and runs b58scan with the
# virtual scanner. For now b58scan shows what the driver offers: the file it loaded, its
# entry points and its version.
#
#   scripts/scan.sh [b58scan arguments]     (default: info)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
export CCACHE_BASEDIR="$PWD"
cmake --preset default >/dev/null
cmake --build --preset default -j "${B58_JOBS:-$(nproc)}" --target b58scan

# The virtual scanner as device 0, unless the caller chose the devices.
export B58_DEVICES="${B58_DEVICES-sim@0}"
[[ $# -gt 0 ]] || set -- info
exec build/default/bin/b58scan "$@"
