#!/usr/bin/env bash
# Installs what the build needs (when missing), builds the console with 2 jobs and starts it.
# Usage: scripts/run.sh --simulate        on the simulated controller, inside the program
#        scripts/run.sh --port /dev/ttyUSB0
#        scripts/run.sh                   on the port stored by the options dialog
# KORVA_BUILD_DIR=dir builds there instead of the default preset's folder.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then
    scripts/deps.sh
fi
if [ -n "${KORVA_BUILD_DIR:-}" ]; then
    build="$KORVA_BUILD_DIR"
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$build" -j2 --target korva-console
else
    build=build/default
    cmake --preset default
    cmake --build --preset default --target korva-console
fi
exec "$build/src/panel/korva-console" "$@"
