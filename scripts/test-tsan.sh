#!/usr/bin/env bash
# Builds with ThreadSanitizer (build-tsan/) and runs the C++ suites, the
# JavaScript suites (test/*.test.js) and, when a desktop can start, the x11
# suites against that build, with the sanitizer runtime preloaded into node
# (node itself is not instrumented). Every process writes its reports to one
# log directory; scripts/tsan-reports.js then fails the run on any report with
# a frame of ours, whatever the processes' exit status, and lists reports that
# lie only in node, V8, libuv or system frames as noise.
set -uo pipefail
cd "$(dirname "$0")/.."
npm run build:tsan || exit 1
TSAN_LIB=$(gcc -print-file-name=libtsan.so)
LOGS="$(mktemp -d /tmp/korvo-tsan.XXXXXX)"
trap 'rm -rf "$LOGS"' EXIT
trap 'exit 130' INT TERM HUP

# exitcode=0: a report alone never changes a process's status; the scan
# below decides. ignore_noninstrumented_modules: accesses made inside
# interceptors called from node and the system libraries are not tracked
# (their own memory accesses are invisible anyway, so only half a race
# could be seen there).
export TSAN_OPTIONS="suppressions=$PWD/test/tsan.supp:log_path=$LOGS/tsan:log_exe_name=1:exitcode=0:halt_on_error=0:second_deadlock_stack=1:history_size=4:ignore_noninstrumented_modules=1"
status=0
ctest --test-dir build-tsan --output-on-failure -j2 || status=1
LD_PRELOAD="$TSAN_LIB" KORVO_OZA_PLATFORM=sim AUTOMATION_ADDON_BUILD_DIR=build-tsan \
  node --test --test-concurrency=2 test/*.test.js || status=1
KORVO_TEST_PRELOAD="$TSAN_LIB" AUTOMATION_ADDON_BUILD_DIR=build-tsan bash scripts/test-x11.sh || status=1
node scripts/tsan-reports.js "$LOGS" || status=1
exit "$status"
