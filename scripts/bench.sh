#!/usr/bin/env bash
# Builds picwnd and the benchmark in Release and runs it: picwnd against feh, xteddy and a bare
# Qt window, on pictures it draws itself, on a private Xvfb. It prints one table and the ratios
# of picwnd to each program; bench/RESULTS.md keeps the figures of past runs. A full run takes a
# few minutes; --quick takes about one.
#   scripts/bench.sh [--quick] [--runs N] [--idle SECONDS] [--presses N] [--pictures P1,P3]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${PICWND_BENCH_BUILD_DIR:-$top/build-bench}

bash "$top/scripts/deps.sh" build bench
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPICWND_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target picwnd picwnd_bench picwnd_barewindow
exec "$build/bench/picwnd_bench" --picwnd "$build/app/picwnd" \
    --bare "$build/bench/picwnd_barewindow" "$@"
