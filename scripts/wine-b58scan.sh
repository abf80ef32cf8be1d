#!/bin/sh
# Runs the Windows build's b58scan.exe under Wine: the shipped b58spi.dll scanning from the
# virtual scanner, which b58scan attaches to it (Wine has no still-image class driver).
#   scripts/wine-b58scan.sh scan -o page.pnm --mode gray --resolution 150
# Arguments are b58scan's; -d or B58_DEVICES choose the virtual scanner's options as on Linux
# (default sim@0). The Wine prefix is build/mingw32/wineprefix (WINEPREFIX overrides it); on
# first use it is created and the virtual scanner's firmware file is written into its Windows
# directory, where the driver reads it. B58_MINGW_BUILD names another build tree.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${B58_MINGW_BUILD:-$root/build/mingw32}
if [ ! -f "$build/bin/b58scan.exe" ]; then
    echo "wine-b58scan: no $build/bin/b58scan.exe (cmake --preset mingw32 && cmake --build build/mingw32)" >&2
    exit 2
fi
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export WINEARCH="${WINEARCH:-win32}" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-b58scan: creating Wine prefix $WINEPREFIX" >&2
    mkdir -p "$WINEPREFIX"
    wineboot -i </dev/null >>"$WINEPREFIX.log" 2>&1
fi
if [ ! -f "$WINEPREFIX/drive_c/windows/system32/drivers/b58fw.usb" ]; then
    wine "$build/bin/b58_make_firmware.exe" 'C:\windows\system32\drivers\b58fw.usb' </dev/null
fi
exec wine "$build/bin/b58scan.exe" "$@"
