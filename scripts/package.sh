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

/usr/bin/korva-sim --link "$work/port" >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/port" ] && break; sleep 0.1; done
[ -e "$work/port" ] || { cat "$work/sim.log"; echo "korva-sim made no link"; exit 1; }

# korva reads the controller through the installed program.
/usr/bin/korva --port "$work/port" info | tee "$work/info"
grep -q "^version: *4.2" "$work/info" || { echo "korva info did not report the simulator"; exit 1; }

# The console runs on the port and ends cleanly on a terminate.
QT_QPA_PLATFORM=offscreen /usr/bin/korva-console --port "$work/port" >"$work/console.log" 2>&1 &
console=$!
sleep 4
kill -0 "$console" || { cat "$work/console.log"; echo "korva-console ended by itself"; exit 1; }
kill -TERM "$console"
status=0
timeout 10 tail --pid="$console" -f /dev/null || { echo "korva-console did not end within 10 s"; exit 1; }
wait "$console" || status=$?
[ "$status" = 0 ] || { cat "$work/console.log"; echo "korva-console ended with status $status"; exit 1; }
echo "korva-console: ran 4 s on $work/port and ended cleanly"

# Help > Contents on a real X server opens the help viewer at the contents topic.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    /usr/bin/korva-console --port "$1" >"$2/help.log" 2>&1 &
    console=$!
    panel=$(timeout 20 xdotool search --sync --name "Korva Windows Control Panel" | head -n 1)
    xdotool windowfocus --sync "$panel" key alt+h
    sleep 0.5
    xdotool key c
    viewer=$(timeout 10 xdotool search --sync --name "Korva Windows Help - " | head -n 1) || true
    title=$(xdotool getwindowname "$viewer" 2>/dev/null || true)
    kill -TERM "$console"; wait "$console"
    echo "help viewer: ${title:-none}"
    [ -n "$title" ]
' help-check "$work/port" "$work"
echo "package checks passed"
