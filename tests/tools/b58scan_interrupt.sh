#!/usr/bin/env bash
# Ctrl-C during a scan: b58scan ends with status 6 and keeps the lines scanned so far in a
# file that reads as an image. Usage: b58scan_interrupt.sh B58SCAN OUTPUT.pnm
set -u
"$1" scan --resolution 300 --mode Gray -o "$2" 2>&1 &
pid=$!
sleep 2
kill -INT $pid
wait $pid
status=$?
echo "exit status $status"
[[ $status -eq 6 ]] || exit 1
# Either nothing was scanned yet (no file) or the file holds the lines scanned.
[[ ! -e $2 ]] || head -c 2 "$2" | grep -q P5
