#!/usr/bin/env bash
# Runs the Windows build under Wine against the simulated controller: korva.exe and the hardware
# link test on COM5, which a fresh Wine prefix in a temporary folder maps to the simulator's link
# path (dosdevices/com5). Needs the win32 preset built, and builds korva-sim with the default preset.
set -euo pipefail
cd "$(dirname "$0")/.."
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || { echo "wine64 is not installed (scripts/deps.sh)"; exit 1; }
cmake --preset default >/dev/null
cmake --build --preset default --target korva-sim korva
sim=build/default/sim/korva-sim
korva_exe=build/win32/src/cli/korva.exe
hardware_exe=build/win32/link_hardware_tests.exe

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    WINEPREFIX="$work/prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "== a fresh Wine prefix"
"$wine" wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
"$sim" --link "$work/port" >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/port" ] && break; sleep 0.1; done
ln -sfn "$work/port" "$WINEPREFIX/dosdevices/com5"

korva() { "$wine" "$korva_exe" "$@"; }
expect_exit() {
    local want=$1 got=0
    shift
    "$@" >"$work/out" 2>"$work/err" || got=$?
    if [ "$got" != "$want" ]; then
        echo "expected exit $want, got $got: $*"; cat "$work/out" "$work/err"; exit 1
    fi
}

echo "== korva.exe on COM5"
korva --port COM5 info | tee "$work/info"
grep -q "^version: *4.2" "$work/info"
korva --port COM5 set FL 3 12.5
[ "$(korva --port COM5 get FL 3 | tr -d '\r')" = "12.5" ] || { echo "FL 3 did not come back as 12.5"; exit 1; }
expect_exit 5 korva --port COM5 send "FL? 99"
expect_exit 3 korva --port COM9 info
grep -q "COM9" "$work/err" || { echo "no port named in: $(cat "$work/err")"; exit 1; }

echo "== the hardware link test on COM5"
KORVA_TEST_PORT=COM5 "$wine" "$hardware_exe"

echo "== exchange time, Wine against Linux (100 passes of 9 exchanges, unpaced)"
per_exchange() { tail -n 1 | sed -E 's/.*"time":([0-9.]+).*/\1/' | awk '{ printf "%.3f ms\n", $1 * 1000 / (99 * 9) }'; }
echo "korva.exe under Wine: $(korva --port COM5 --json watch --count 100 --interval 0 | per_exchange)"
# A simulator of its own: Wine makes the line it opened its session's terminal, which the Linux
# console rightly refuses to take over.
"$sim" --link "$work/linux" >"$work/linux.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/linux" ] && break; sleep 0.1; done
echo "korva on Linux:       $(build/default/src/cli/korva --port "$work/linux" --json watch --count 100 --interval 0 | per_exchange)"
echo "== a failed upload leaves no part file behind"
# A controller whose dump never ends: the upload gives up past its bounds and must remove its part
# file, although Windows refuses to remove a file that is still open.
"$sim" --endless-dump --link "$work/broken" >"$work/broken.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/broken" ] && break; sleep 0.1; done
ln -sfn "$work/broken" "$WINEPREFIX/dosdevices/com6"
expect_exit 4 korva --port COM6 backup "Z:$work/backups"
leftover=$(find "$work/backups" -type f | head -n 5)
[ -z "$leftover" ] || { echo "left behind: $leftover"; exit 1; }
echo "no file left behind: $(tr -d '\r' <"$work/err")"
echo "wine checks passed"
