#!/usr/bin/env bash
# Installs what is missing, builds QARDEL and runs the whole test suite
# headless: the plain build, then the build with AddressSanitizer and
# UndefinedBehaviorSanitizer. Set QARDEL_NO_SANITIZE=1 to skip the second.
set -euo pipefail
cd "$(dirname "$0")"
tools/deps.sh
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure --no-tests=error -j"$jobs")

if [ "${QARDEL_NO_SANITIZE:-0}" != "1" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQARDEL_SANITIZE=ON -DQARDEL_BENCH=OFF >/dev/null
  cmake --build build-asan -j"$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
     ctest --output-on-failure --no-tests=error -j"$jobs" -LE e2e)
fi
