#!/usr/bin/env bash
# Runs the whole test suite again in a build with AddressSanitizer and UndefinedBehaviorSanitizer
# (-DPICWND_SANITIZE=ON, in build-sanitize/): every test, and every picwnd that the end-to-end
# tests start, stops at the first invalid memory access or undefined behaviour and reports leaks
# at exit (the toolkit's own are suppressed by tests/lsan.supp, the program's never). Arguments
# go to ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${PICWND_SANITIZE_BUILD_DIR:-$top/build-sanitize}

bash "$top/scripts/deps.sh" build test package
cmake -S "$top" -B "$build" -G Ninja -DPICWND_WERROR=ON -DPICWND_SANITIZE=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure "$@"
