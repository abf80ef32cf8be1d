#!/bin/sh
# Scans the same requests from the same virtual scanner (same seed) with the Linux build and
# with the Windows build under Wine, and compares the images byte for byte, in every mode.
#   scripts/compare-windows-scan.sh [LINUX_BUILD [MINGW_BUILD]]   (build/default, build/mingw32)
# Exits 77 (skipped) when either build has no b58scan. The Windows build writes PNM only, so
# PNM is what is compared.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
linux=${1:-$root/build/default}
mingw=${2:-$root/build/mingw32}
for program in "$linux/bin/b58scan" "$mingw/bin/b58scan.exe"; do
    if [ ! -f "$program" ]; then
        echo "compare-windows-scan: no $program; skipped" >&2
        exit 77
    fi
done
linux=$(cd "$linux" && pwd)
mingw=$(cd "$mingw" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The Linux build's named objects (its device lock) stay apart from other runs on the machine.
export B58_IPC_NAMESPACE="b58compare-$$"

device="sim@0:seed=11"
area="-l 12 -t 8 -x 24 -y 14"
failed=0
# mode, resolution: every mode, two resolutions among them.
for request in "lineart 300" "gray 150" "gray 600" "color 100" "color48 300"; do
    set -- $request
    name="$1-$2.pnm"
    # The Linux build runs its fixed pauses fast; the images do not depend on it.
    B58_TIME_SCALE=0.01 "$linux/bin/b58scan" scan -q -d "$device" --mode "$1" --resolution "$2" $area \
        -o "linux-$name" >/dev/null
    # Another Windows program of the same Wine session may hold the driver's device mutex
    # (exit 4, in use): then this one tries again.
    tries=0
    until B58_MINGW_BUILD="$mingw" sh "$root/scripts/wine-b58scan.sh" scan -q -d "$device" --mode "$1" \
        --resolution "$2" $area -o "windows-$name" >/dev/null; do
        status=$?
        tries=$((tries + 1))
        if [ $status -ne 4 ] || [ $tries -ge 5 ]; then
            echo "compare-windows-scan: the Windows build's scan ended with status $status" >&2
            exit 1
        fi
    done
    if cmp -s "linux-$name" "windows-$name"; then
        echo "same image: $1 at $2 dpi ($(wc -c <"linux-$name") bytes)"
    else
        echo "DIFFERENT image: $1 at $2 dpi" >&2
        cmp "linux-$name" "windows-$name" >&2 || true
        failed=1
    fi
done
exit $failed
