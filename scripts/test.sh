#!/usr/bin/env bash
# Installs what the build needs (when missing), builds with 2 jobs and runs every test.
# Usage: scripts/test.sh [preset]   (default, debug, asan or tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/deps.sh"
preset=${1:-default}
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
