#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test: in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, in the optimised Release build, and the tests of the worker threads
# once more under ThreadSanitizer. Warnings are errors in all three. Exits non-zero on any failure.
set -euo pipefail
KX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$KX_ROOT/tools/common.sh"

kx_install_missing "${KX_PACKAGES[@]}" "${KX_TEST_PACKAGES[@]}"

echo "== Sanitizer build (address, undefined) =="
kx_build "$KX_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON -DKX_WERROR=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$KX_ROOT/build-asan" -j2 --output-on-failure

echo "== ThreadSanitizer build (worker threads) =="
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$KX_ROOT" -B "$KX_ROOT/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKX_TSAN=ON -DKX_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$KX_ROOT/build-tsan" -j2 --target "${KX_THREAD_TESTS[@]}"
TSAN_OPTIONS="ignore_noninstrumented_modules=1 suppressions=$KX_ROOT/tools/tsan.supp" \
  ctest --test-dir "$KX_ROOT/build-tsan" -j2 --output-on-failure -R "$KX_THREAD_TEST_PATTERN"

# Release, as a packager builds it: the optimiser's warnings are seen here too.
echo "== Release build =="
kx_build "$KX_ROOT/build" -DCMAKE_BUILD_TYPE=Release -DKX_WERROR=ON
status=0
report=$KX_ROOT/build/tests/drive-vm/report.txt
rm -f "$report"
ctest --test-dir "$KX_ROOT/build" -j2 --output-on-failure || status=$?
# What the drive test checked in its VM, or why it could not run; CTest shows a passing test's
# output only with -V.
if [ -f "$report" ]; then
  echo "== Drive test in a VM =="
  grep -E '^(SKIP|FAIL|drive VM)' "$report" || true
fi
exit $status
