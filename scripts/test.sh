#!/usr/bin/env bash
# Installs what the build needs (when missing), builds with 2 jobs and runs every test.
# Usage: scripts/test.sh          the default preset (every test, the fault soak included); then the
#                                 link, configuration, simulator, monitor, trend record, bus and soak tests under ThreadSanitizer (tsan)
#                                 and under AddressSanitizer + UBSan (asan); then a bounded run of each
#                                 fuzz target (KORVA_FUZZ_SECONDS each, default 30); and a Windows
#                                 build of the link and monitor layers (win32: compiled, not run)
#                                 and the Debian package, installed and checked (package.sh).
#                                 The default run ends with a short guard of the link's figures
#                                 (korva-link-bench --check: paced exchange time against the wire
#                                 time, unpaced rate against python3-serial's).
#        scripts/test.sh PRESET   one preset only (default, debug, asan, tsan, fuzz, win32 or package),
#                                 or bench: the link figures' guard alone (on a default build)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

run() {
    cmake --preset "$1"
    cmake --build --preset "$1"
    ctest --preset "$1" "${@:2}"
}

# Each fuzz target from its seeds in fuzz/corpus/<target> (read only; what it finds goes to build/fuzz).
fuzz() {
    cmake --preset fuzz
    cmake --build --preset fuzz
    local target work
    for target in reply config configtext sim; do
        work=build/fuzz/run/$target
        mkdir -p "$work/corpus"
        echo "fuzz $target: ${KORVA_FUZZ_SECONDS:-30} s"
        if ! build/fuzz/fuzz/korva-fuzz-$target -max_total_time="${KORVA_FUZZ_SECONDS:-30}" -timeout=10 \
            -rss_limit_mb=2048 -artifact_prefix="$work/" "$work/corpus" "fuzz/corpus/$target" >"$work/log" 2>&1; then
            tail -n 60 "$work/log"
            echo "fuzz $target failed; the input is in $work/"
            return 1
        fi
        grep -E '^#[0-9]+.*DONE' "$work/log" || tail -n 3 "$work/log"
    done
}

# The README's link figures: fails when the paced exchange takes more than 1.10 x its wire time or
# the unpaced rate falls below python3-serial's (best of a few short rounds).
bench() {
    cmake --preset default
    cmake --build --preset default --target korva-link-bench
    build/default/bench/korva-link-bench --check
}

# The Windows build: the link, monitor and korva.exe with the house warnings, then korva.exe and
# the hardware link test run under Wine against the simulator.
win32() {
    cmake --preset win32
    cmake --build --preset win32
    scripts/wine-check.sh
}

if [ $# -gt 0 ]; then
    case "$1" in
    fuzz) fuzz ;;
    win32) win32 ;;
    package) scripts/package.sh ;;
    bench) bench ;;
    default)
        run default
        bench
        ;;
    *) run "$1" ;;
    esac
else
    run default
    bench
    # The sanitizer builds also run a short fault soak.
    KORVA_SOAK_SECONDS=8 run tsan -L 'link|config|sim|monitor|record|bus|cli|soak'
    KORVA_SOAK_SECONDS=8 run asan -L 'link|config|sim|monitor|record|bus|cli|soak'
    fuzz
    win32
    scripts/package.sh
fi
