#!/usr/bin/env bash
# Installs what is missing, builds QARDEL and starts it.
set -euo pipefail
cd "$(dirname "$0")"
tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target qardel
exec ./build/app/qardel "$@"
