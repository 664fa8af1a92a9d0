#!/usr/bin/env bash
# Sets up everything and runs the whole test suite: installs the packages the build and the tests
# need, builds with warnings as errors, and runs CTest. The end-to-end tests start their own X
# server, window manager and compositor on a free display. In CI (CI=true) the test "package" also
# installs the Debian package, runs the installed program and removes the package again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${PICWND_BUILD_DIR:-$top/build}

bash "$top/scripts/deps.sh" build test package
cmake -S "$top" -B "$build" -G Ninja -DPICWND_WERROR=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure "$@"
