#!/usr/bin/env bash
# Runs the Windows build under Wine against the simulated controller: korva.exe and the hardware
# link test on COM5, which a fresh Wine prefix in a temporary folder maps to the simulator's link
# path (dosdevices/com5); korva.exe on a line that chatters when opened (COM7); korva.exe over
# tcp:// and rfc2217:// through ser2net on loopback, and across a restart of the server. Needs the
# win32 preset built, and builds korva-sim with the default preset.
set -euo pipefail
cd "$(dirname "$0")/.."
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || { echo "wine64 is not installed (scripts/deps.sh)"; exit 1; }
ser2net=/usr/sbin/ser2net
[ -x "$ser2net" ] || { echo "ser2net is not installed (scripts/deps.sh)"; exit 1; }
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
wait_for() { for _ in $(seq 50); do [ -e "$1" ] && return 0; sleep 0.1; done; echo "no $1"; exit 1; }

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

echo "== stale bytes on the line are drained before the handshake (COM7)"
# The simulator behind a pseudo-terminal of a helper's own, which sends the tail of an earlier
# exchange, a burst every few ms, for 400 ms after each open of its line, and otherwise passes the
# bytes both ways. A handshake that does not wait for the line to fall quiet takes that tail for
# its reply.
cat >"$work/chatter.py" <<'PY'
import os, select, sys, time, tty
sim_path, link, chatter_ms = sys.argv[1], sys.argv[2], int(sys.argv[3])
master, slave = os.openpty()
tty.setraw(slave)
name = os.ttyname(slave)
os.close(slave)  # the master hangs up until someone opens the line
sim = os.open(sim_path, os.O_RDWR | os.O_NOCTTY)
tty.setraw(sim)
os.symlink(name, link)
stale = b"0:CF?\n50.000\nOK\n"
was_open, until = False, 0.0
while True:
    now = time.monotonic()
    probe = select.poll()
    probe.register(master, select.POLLIN)
    is_open = not any(e & select.POLLHUP for _, e in probe.poll(0))
    if is_open and not was_open:
        until = now + chatter_ms / 1000
    was_open = is_open
    if is_open and now < until:
        os.write(master, stale)
    p = select.poll()
    p.register(sim, select.POLLIN)
    if is_open:
        p.register(master, select.POLLIN)
    for fd, _ in p.poll(4):
        try:
            data = os.read(fd, 4096)
        except OSError:
            continue
        if fd == master:
            os.write(sim, data)
        elif is_open:
            os.write(master, data)
PY
"$sim" --link "$work/quiet" >"$work/quiet.log" 2>&1 &
pids+=($!)
wait_for "$work/quiet"
python3 "$work/chatter.py" "$work/quiet" "$work/chatter" 400 >"$work/chatter.log" 2>&1 &
pids+=($!)
wait_for "$work/chatter"
ln -sfn "$work/chatter" "$WINEPREFIX/dosdevices/com7"
korva --port COM7 info | tee "$work/info7"
grep -q "^version: *4.2" "$work/info7" || { echo "no version 4.2 from COM7"; exit 1; }

echo "== korva.exe over tcp:// and rfc2217:// through ser2net"
"$sim" --link "$work/served" >"$work/served.log" 2>&1 &
pids+=($!)
wait_for "$work/served"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
raw_port=$(free_port)
telnet_port=$(free_port)
cat >"$work/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &raw
  accepter: tcp,127.0.0.1,$raw_port
  connector: serialdev,$work/served,9600n81,local
  options:
    kickolduser: true
connection: &telnet
  accepter: telnet(rfc2217),tcp,127.0.0.1,$telnet_port
  connector: serialdev,$work/served,9600n81,local
  options:
    kickolduser: true
EOF
listening() { grep -qi ":$(printf %04X "$1") 00000000:0000 0A" /proc/net/tcp; }
server=
start_server() {
    "$ser2net" -n -u -c "$work/ser2net.yaml" >/dev/null 2>&1 &
    server=$!
    pids+=("$server")
    for _ in $(seq 50); do listening "$raw_port" && listening "$telnet_port" && return 0; sleep 0.1; done
    echo "ser2net does not listen"; exit 1
}
start_server
raw=tcp://127.0.0.1:$raw_port
telnet=rfc2217://127.0.0.1:$telnet_port
value=20.5
for name in "$raw" "$telnet"; do
    korva --port "$name" info | tee "$work/info"
    grep -q "^version: *4.2" "$work/info" || { echo "no version 4.2 through $name"; exit 1; }
    korva --port "$name" set FL 3 "$value"
    [ "$(korva --port "$name" get FL 3 | tr -d '\r')" = "$value" ] ||
        { echo "FL 3 is not $value through $name"; exit 1; }
    value=7.25
done

echo "== ser2net restarted under korva.exe"
# A watch that loses its server ends as a link failure (exit 4), as on Linux; with the server down a
# command finds no port (exit 3); once it is back, the next command works again.
korva --port "$telnet" watch --interval 100 --count 200 >"$work/watch" 2>"$work/watch.err" &
watcher=$!
for _ in $(seq 100); do [ -s "$work/watch" ] && break; sleep 0.1; done
kill -9 "$server"
wait "$server" 2>/dev/null || true
got=0
wait "$watcher" || got=$?
[ "$got" = 4 ] || { echo "the watch ended with exit $got, not 4"; cat "$work/watch.err"; exit 1; }
echo "watch across the server's end: $(tr -d '\r' <"$work/watch.err")"
expect_exit 3 korva --port "$raw" info
echo "server down: $(tr -d '\r' <"$work/err")"
start_server
for name in "$raw" "$telnet"; do
    [ "$(korva --port "$name" get FL 3 | tr -d '\r')" = 7.25 ] ||
        { echo "FL 3 is not 7.25 through $name after the restart"; exit 1; }
done
echo "both schemes answer after the restart"

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
