#!/usr/bin/env bash
# Installs what the build needs (when missing), builds with 2 jobs and runs every test.
# Usage: scripts/test.sh          the default preset, then the ThreadSanitizer build of the
#                                 link, simulator and monitor tests
#        scripts/test.sh PRESET   one preset only (default, debug, asan or tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

run() {
    cmake --preset "$1"
    cmake --build --preset "$1"
    ctest --preset "$1" "${@:2}"
}

if [ $# -gt 0 ]; then
    run "$1"
else
    run default
    run tsan -L 'link|sim|monitor'
fi
