#!/usr/bin/env bash
# Builds the fidelity suite and prints its table: every mode at 50, 100, 150, 300 and 600 dpi
# on the glass and 24/48-bit colour on the adapter, against the virtual scanner's ground
# truth (black, paper and its truth, worst wedge step bias, mean absolute error, column-mean
# spread and largest column step of a band of bare paper and the rows it spans, colour
# registration in pixels, marks where the offsets table puts them, share of the shading strip
# at full scale in percent).
#
#   scripts/fidelity.sh [preset]      (default: default)
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:-default}"
export CCACHE_BASEDIR="$PWD"
cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" -j "${B58_JOBS:-2}" --target fidelity_tests
B58_FIDELITY_REPORT=1 "build/$preset/tests/fidelity/fidelity_tests"
