#!/usr/bin/env bash
# A US letter page at 300 dpi in colour from the virtual scanner at its default rate,
# through scanimage (the SANE backend of this build tree) and through b58scan, both into
# PNM files. Prints each run's wall time, the means and the backend's overhead.
#   bench/sane_vs_b58scan.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=$(cd "${1:-build/default}" && pwd)
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'b58\n' > "$work/dll.conf"
printf 'driver %s\nfirmware-dir %s\nsim@0\n' "$build/bin/libb58spi.so" "$build/windows" > "$work/b58.conf"
export B58_IPC_NAMESPACE="bench-$$"

seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

sane_total=0 b58_total=0
for run in $(seq "$runs"); do
    s=$(seconds env LD_LIBRARY_PATH="$build/sane/lib" SANE_CONFIG_DIR="$work" \
        scanimage -d b58:sim0 --mode Color --resolution 300 -l 0 -t 0 -x 215.9 -y 279.4 \
        --format=pnm -o "$work/sane.pnm")
    b=$(seconds env B58_DEVICES=sim@0 "$build/bin/b58scan" scan --mode color --resolution 300 --size letter \
        --output "$work/b58scan.pnm")
    echo "run $run: scanimage ${s}s, b58scan ${b}s"
    sane_total=$(awk -v a="$sane_total" -v b="$s" 'BEGIN { print a + b }')
    b58_total=$(awk -v a="$b58_total" -v b="$b" 'BEGIN { print a + b }')
done
awk -v s="$sane_total" -v b="$b58_total" -v n="$runs" \
    'BEGIN { printf "mean: scanimage %.3fs, b58scan %.3fs, scanimage takes %+.1f %%\n", s / n, b / n, (s / b - 1) * 100 }'
