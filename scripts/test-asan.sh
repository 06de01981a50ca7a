#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the C++
# and JavaScript suites against that build. Node itself is not instrumented,
# so the runtime is preloaded and leak checking is left to the C++ tests
# (Node keeps allocations alive until exit by design).
set -euo pipefail
cd "$(dirname "$0")/.."
npm run build:asan
ASAN_LIB=$(gcc -print-file-name=libasan.so)
UBSAN_LIB=$(gcc -print-file-name=libubsan.so)
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/test/lsan.supp"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j2
LD_PRELOAD="$ASAN_LIB $UBSAN_LIB" ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0 \
  KORVO_OZA_PLATFORM=sim AUTOMATION_ADDON_BUILD_DIR=build-asan node --test --test-concurrency=2 test/*.test.js
LD_PRELOAD="$ASAN_LIB $UBSAN_LIB" ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0 \
  AUTOMATION_ADDON_BUILD_DIR=build-asan bash scripts/test-x11.sh
