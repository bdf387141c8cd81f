#!/usr/bin/env bash
# Builds the Debian package with the default preset, installs it with apt-get (needs root), runs
# the validators on it and tries the installed programs: the simulator on a link path, the console
# on that path for a few seconds until a terminate ends it cleanly, and one help topic opened
# through the installed help folder under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

cmake --preset default
cmake --build --preset default --target korva-console korva-sim korva korva_package_files
rm -f build/default/korva-console_*.deb
(cd build/default && cpack -G DEB)
deb=$(ls "$PWD"/build/default/korva-console_*.deb)
echo "package: $deb ($(du -k "$deb" | cut -f1) kB)"
dpkg-deb --field "$deb" Version Depends Recommends

DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "$deb"

echo "== validators"
desktop-file-validate /usr/share/applications/com.halvane.KorvaConsole.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.halvane.KorvaConsole.metainfo.xml
lintian --fail-on error "$deb"

echo "== installed programs"
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
for page in korva-console korva-sim korva; do
    zcat "/usr/share/man/man1/$page.1.gz" | grep -q "^.SH NAME" || { echo "no manual page for $page"; exit 1; }
done

/usr/bin/korva-sim --link "$work/port" --trace >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/port" ] && break; sleep 0.1; done
[ -e "$work/port" ] || { cat "$work/sim.log"; echo "korva-sim made no link"; exit 1; }

# korva reads the controller through the installed program.
/usr/bin/korva --port "$work/port" info | tee "$work/info"
grep -q "^version: *4.2" "$work/info" || { echo "korva info did not report the simulator"; exit 1; }

# The console comes online on the port and ends cleanly on a terminate. Online: after a good
# handshake it reads the values, among them the actual force ("AF?"), which nothing else asks here.
asked=$(wc -l <"$work/sim.log")
QT_QPA_PLATFORM=offscreen /usr/bin/korva-console --port "$work/port" >"$work/console.log" 2>&1 &
console=$!
online=
for _ in $(seq 300); do
    awk -v from="$asked" 'NR > from && $0 == "received: 0:AF?" { found = 1; exit } END { exit !found }' \
        "$work/sim.log" && { online=1; break; }
    kill -0 "$console" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$console" || { cat "$work/console.log"; echo "korva-console ended by itself"; exit 1; }
[ -n "$online" ] || { cat "$work/console.log"; echo "korva-console did not come online within 30 s"; exit 1; }
kill -TERM "$console"
status=0
timeout 10 tail --pid="$console" -f /dev/null || { echo "korva-console did not end within 10 s"; exit 1; }
wait "$console" || status=$?
[ "$status" = 0 ] || { cat "$work/console.log"; echo "korva-console ended with status $status"; exit 1; }
echo "korva-console: came online on $work/port and ended cleanly"

# Help > Contents on a real X server opens the help viewer at the contents topic.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    /usr/bin/korva-console --port "$1" >"$2/help.log" 2>&1 &
    console=$!
    panel=$(timeout 20 xdotool search --sync --name "Korva Windows Control Panel" | head -n 1)
    # The keys again (after an Escape) while the viewer has not come: a panel still settling may
    # miss the first ones; the viewer itself is what is waited for.
    viewer=
    for _ in 1 2 3 4 5; do
        xdotool windowfocus --sync "$panel" key alt+h key c
        viewer=$(timeout 4 xdotool search --sync --name "Korva Windows Help - " | head -n 1)
        [ -n "$viewer" ] && break
        xdotool key Escape
    done
    title=$(xdotool getwindowname "$viewer" 2>/dev/null || true)
    kill -TERM "$console"; wait "$console"
    echo "help viewer: ${title:-none}"
    [ -n "$title" ]
' help-check "$work/port" "$work"
# The bridge's service unit as installed, and the installed bridge against a broker of our own.
echo "== plant bridge"
unit=/lib/systemd/system/korva-bridge@.service
[ -f "$unit" ] || unit=/usr/lib/systemd/system/korva-bridge@.service
cp "$unit" "$work/korva-bridge@line1.service"
analysis=$(cd "$work" && systemd-analyze verify ./korva-bridge@line1.service 2>&1) || true
[ -z "$analysis" ] || { echo "$analysis"; echo "systemd-analyze found fault with $unit"; exit 1; }
broker_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous false\npassword_file %s\nuser %s\npersistence false\n' \
    "$broker_port" "$work/passwords" "$(id -un)" >"$work/mosquitto.conf"
mosquitto_passwd -c -b "$work/passwords" bridge secret
chmod 600 "$work/passwords"
printf 'username=bridge\npassword=secret\n' >"$work/credentials"
chmod 600 "$work/credentials"
mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
pids+=($!)
timeout 10 bash -c "until (exec 3<>/dev/tcp/127.0.0.1/$broker_port) 2>/dev/null; do sleep 0.1; done"
/usr/bin/korva --port "$work/port" bridge --broker "mqtt://127.0.0.1:$broker_port" --root korva/check \
    --credentials "$work/credentials" 2>"$work/bridge.log" &
bridge=$!
pids+=($bridge)
info=$(timeout 20 mosquitto_sub -p "$broker_port" -u bridge -P secret -t 'korva/check/+/info' -C 1 || true)
kill -TERM "$bridge"
timeout 10 tail --pid="$bridge" -f /dev/null || { echo "korva bridge did not end within 10 s"; exit 1; }
[ -n "$info" ] || { cat "$work/bridge.log" "$work/broker.log"; echo "korva bridge published no info"; exit 1; }
echo "korva bridge: published $info"

echo "package checks passed"
