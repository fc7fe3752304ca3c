#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs every suite
# but the soak under them. Any report fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-sanitizers -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_SANITIZE=ON
cmake --build build-sanitizers
# Without TZ, Qt may resolve the local time zone through ICU (seen on a minimal Debian 12 with
# no /etc/timezone), whose dynamic thread-local storage crashes LeakSanitizer's tracer at exit.
export TZ="${TZ:-UTC}"
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir build-sanitizers --output-on-failure --label-exclude "soak|bench" "$@"
