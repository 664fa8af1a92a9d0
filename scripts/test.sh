#!/usr/bin/env bash
# Sets up everything and runs the whole test suite: installs the packages the build and the tests
# need, builds with warnings as errors, and runs CTest. The end-to-end tests start their own X
# server, window manager and compositor on a free display. In CI (CI=true) the test "package" also
# installs the Debian package, runs the installed program and removes the package again.
# Then the same suite again in a build with AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/sanitize.sh), and a minute of fuzzing of the placement reader (scripts/fuzz.sh);
# PICWND_QUICK=1 leaves those two out. Arguments go to both runs of ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${PICWND_BUILD_DIR:-$top/build}

bash "$top/scripts/deps.sh" build test package
cmake -S "$top" -B "$build" -G Ninja -DPICWND_WERROR=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure "$@"

if [[ "${PICWND_QUICK:-}" != 1 ]]; then
    echo "--- The test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
    bash "$top/scripts/sanitize.sh" "$@"
    echo "--- Fuzzing the placement reader"
    bash "$top/scripts/fuzz.sh"
fi
