#!/usr/bin/env bash
# Fuzzes the placement reader with libFuzzer for a minute (or the seconds given), under
# AddressSanitizer and UndefinedBehaviorSanitizer: a build of its own with clang in build-fuzz/
# that holds only the fuzz target (tests/fuzz). Any crash, hang, out-of-bounds access, undefined
# behaviour or disagreement with the model of the format fails; the input is left in
# build-fuzz/tests/fuzz/fuzz-artifacts/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${PICWND_FUZZ_BUILD_DIR:-$top/build-fuzz}
seconds=${1:-60}

bash "$top/scripts/deps.sh" build harden
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DPICWND_FUZZ=ON \
    -DPICWND_SANITIZE=ON -DPICWND_BUILD_TESTS=OFF -DPICWND_WERROR=ON \
    -DPICWND_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$build" --target fuzz_placement
ctest --test-dir "$build" --output-on-failure
