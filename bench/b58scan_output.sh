#!/usr/bin/env bash
# What writing costs a scan, against the virtual scanner at its default rate: wall time and
# peak memory of a 300-dpi colour US letter page into each format, against the same scan
# into PNM (a plain copy of the lines: the scan's own time). Then peak memory of a small
# area and of the whole glass (flat if lines are streamed), and how long Ctrl-C takes to
# end a scan. Usage: bench/b58scan_output.sh [build/default]
set -euo pipefail
build=${1:-build/default}
scan=$build/bin/b58scan
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export B58_DEVICES=sim@0 B58_IPC_NAMESPACE=b58scan-bench-$$

measure() {  # label, then b58scan arguments
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$out/time" "$scan" scan -q "$@" > /dev/null
    read -r seconds kilobytes < "$out/time"
    printf '%-28s %6.2f s  %6d MB peak\n' "$label" "$seconds" $((kilobytes / 1024))
}

echo "300-dpi colour letter page:"
for format in pnm png tiff jpeg pdf; do
    measure "$format" --resolution 300 --mode Color -o "$out/page.$format"
done
echo "Peak memory by area (300-dpi colour, PNG):"
measure "50 x 50 mm" --resolution 300 -x 50 -y 50 -o "$out/small.png"
measure "whole glass 215.9 x 297 mm" --resolution 300 -x 215.9 -y 297 -o "$out/glass.png"
echo "Ctrl-C during a 300-dpi colour scan:"
"$scan" scan -q --resolution 300 -o "$out/cancel.png" > /dev/null 2>&1 &
pid=$!
sleep 3
start=$(date +%s.%N)
kill -INT $pid
status=0
wait $pid || status=$?
end=$(date +%s.%N)
printf 'ended %.3f s after SIGINT, exit status %d\n' "$(echo "$end - $start" | bc)" $status
