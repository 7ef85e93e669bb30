#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in the normal build and in a
# build with AddressSanitizer and UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -euo pipefail
KX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$KX_ROOT/tools/common.sh"

kx_install_missing

echo "== Sanitizer build (address, undefined) =="
kx_build "$KX_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$KX_ROOT/build-asan" -j2 --output-on-failure

echo "== Normal build =="
kx_build "$KX_ROOT/build"
ctest --test-dir "$KX_ROOT/build" -j2 --output-on-failure
