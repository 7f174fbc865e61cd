#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer build, and runs
# every test of both through ctest.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/scripts/install-deps.sh"
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$jobs"

cmake -S "$here" -B "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DZL_SANITIZE=ON >/dev/null
cmake --build "$here/build-asan" -j"$jobs"

status=0
echo "== Tests (normal build)"
ctest --test-dir "$here/build" --output-on-failure -j"$jobs" || status=1
echo "== Tests (address and undefined-behaviour sanitizers)"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
LSAN_OPTIONS="suppressions=$here/tests/lsan.supp" \
  ctest --test-dir "$here/build-asan" --output-on-failure -j"$jobs" || status=1
exit $status
