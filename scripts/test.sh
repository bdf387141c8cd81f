#!/usr/bin/env bash
# Installs what the build needs (when missing), builds with 2 jobs and runs every test.
# Usage: scripts/test.sh          the default preset (every test, the fault soak and the layering
#                                 check included; six tests at a time, or KORVA_TEST_JOBS, then
#                                 the figures against the clock and the soak one at a time); then the Qt-free
#                                 layers' tests (label link, config, sim, monitor, record, bus,
#                                 cli, operations, publish, soak) under
#                                 ThreadSanitizer (tsan) and under AddressSanitizer + UBSan (asan),
#                                 without the link suite's repeats over tcp:// and rfc2217://; then
#                                 a bounded run of each fuzz target (10 s for the configuration
#                                 targets and the plant's payloads, 30 s for the reply grammar and
#                                 the simulator, or KORVA_FUZZ_SECONDS each; two at a time); the Windows build of the Qt-free layers
#                                 and korva.exe, run under Wine against the simulator (win32,
#                                 wine-check.sh); and the Debian package, installed and checked
#                                 (package.sh). The default run ends with a short guard of the
#                                 link's figures (korva-link-bench --check: paced exchange time
#                                 against the wire time, unpaced rate against python3-serial's).
#                                 At the end, one line per stage with its seconds.
#        scripts/test.sh PRESET   one preset only (default, debug, asan, tsan, fuzz, win32 or package),
#                                 or bench: the link figures' guard alone (on a default build)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

# Seconds per stage, printed at the end (also when a stage fails), so a slower stage shows.
stages=()
report() {
    [ ${#stages[@]} -gt 0 ] || return 0
    echo "stage times (s):"
    printf '  %s\n' "${stages[@]}"
}
trap report EXIT
stage() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    stages+=("$(printf '%-20s %5d%s' "$name" $((SECONDS - start)) "$([ $status -eq 0 ] || echo '  FAILED')")")
    return $status
}

# (Inside a stage errexit does not apply: each step is chained.)
build() {
    cmake --preset "$1" && cmake --build --preset "$1"
}

# Most tests wait on the simulator's replies and time limits, not on the processor: six at a time
# on two cores (each is bounded by its own deadlines). The figures against the clock (label timing)
# and the fault soak, whose calls have time bounds, then run one at a time on a quiet machine; the
# sanitizer presets leave the figures out.
jobs=${KORVA_TEST_JOBS:-6}
run() {
    stage "$1 build" build "$1"
    if [ "$1" = default ]; then
        stage "$1 test" ctest --preset "$1" -LE 'timing|soak' -j "$jobs" "${@:2}"
        stage "$1 timing" ctest --preset "$1" -L 'timing|soak' -j 1 "${@:2}"
    else
        # The fault soak holds its calls to time bounds: it runs alone after the rest.
        stage "$1 test" ctest --preset "$1" -LE soak -j "$jobs" "${@:2}"
        stage "$1 soak" ctest --preset "$1" -L soak
    fi
}

# Each fuzz target from its seeds in fuzz/corpus/<target> (read only; what it finds goes to
# build/fuzz), for a time by its speed: the configuration targets cover their inputs in seconds.
# Each target uses one core, so they run in two lanes side by side.
fuzz_one() {
    local target=${1%%:*} seconds=${KORVA_FUZZ_SECONDS:-${1#*:}} work
    work=build/fuzz/run/$target
    mkdir -p "$work/corpus"
    if ! build/fuzz/fuzz/korva-fuzz-$target -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$work/" "$work/corpus" "fuzz/corpus/$target" >"$work/log" 2>&1; then
        tail -n 60 "$work/log"
        echo "fuzz $target failed; the input is in $work/"
        return 1
    fi
    echo "fuzz $target ($seconds s): $(grep -E '^#[0-9]+.*DONE' "$work/log" || tail -n 1 "$work/log")"
}
fuzz_lane() {
    local target
    for target in "$@"; do fuzz_one "$target" || return 1; done
}
fuzz_run() {
    local a=0 b=0
    fuzz_lane reply:30 configtext:10 plant:10 &
    local lane=$!
    fuzz_lane sim:30 config:10 || b=$?
    wait "$lane" || a=$?
    [ $a -eq 0 ] && [ $b -eq 0 ]
}
fuzz() {
    stage "fuzz build" build fuzz
    stage "fuzz run" fuzz_run
}

# The README's link figures: fails when the paced exchange takes more than 1.10 x its wire time or
# the unpaced rate falls below python3-serial's (best of a few short rounds).
bench() {
    cmake --preset default
    cmake --build --preset default --target korva-link-bench
    stage "bench" build/default/bench/korva-link-bench --check
}

# The Windows build: the Qt-free layers and korva.exe with the house warnings, then korva.exe and
# the hardware link test run under Wine against the simulator.
win32() {
    stage "win32 build" build win32
    stage "win32 wine" scripts/wine-check.sh
}

sanitized='link|config|sim|monitor|record|bus|cli|operations|publish'
if [ $# -gt 0 ]; then
    case "$1" in
    fuzz) fuzz ;;
    win32) win32 ;;
    package) stage "package" scripts/package.sh ;;
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
    KORVA_SOAK_SECONDS=8 run tsan -L "$sanitized"
    KORVA_SOAK_SECONDS=8 run asan -L "$sanitized"
    fuzz
    win32
    stage "package" scripts/package.sh
fi
