#!/bin/sh
# Starts or stops the Wine session the Windows tests share.
#   wine-prefix.sh start   creates the prefix named by WINEPREFIX on first use and starts a
#                          persistent wineserver with Wine's helper processes; with
#                          B58_MAKE_FIRMWARE set, runs it to write the virtual scanner's
#                          firmware file into the prefix
#   wine-prefix.sh stop    ends that wineserver and every Wine process of the prefix
# The caller sets WINEPREFIX, WINEARCH, WINEDEBUG and WINEDLLOVERRIDES.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"

case "${1:-}" in
start)
    mkdir -p "$WINEPREFIX"
    log="$WINEPREFIX.log"
    # The server detaches; its output must not hold the test runner's pipes open. A server
    # that already runs for this prefix (an earlier interrupted run) is simply kept.
    wineserver -p </dev/null >>"$log" 2>&1 || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating Wine prefix $WINEPREFIX"
        wineboot -i </dev/null >>"$log" 2>&1
    else
        # Starts the helper processes now rather than inside the first test.
        wineboot </dev/null >>"$log" 2>&1
    fi
    # B58_MAKE_FIRMWARE (optional): the Windows program that writes the virtual scanner's
    # firmware file, which the driver reads from the Windows directory.
    if [ -n "${B58_MAKE_FIRMWARE:-}" ]; then
        wine "$B58_MAKE_FIRMWARE" 'C:\windows\system32\drivers\b58fw.usb' </dev/null >>"$log" 2>&1
    fi
    ;;
stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
