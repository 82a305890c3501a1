#!/usr/bin/env bash
# Configures and builds into the given folder: build.sh DIR [sanitize]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"
sanitize=OFF
bench=ON
# The sanitizer build runs the tests only; benchmarks are built once, normally.
[ "${2:-}" = "sanitize" ] && sanitize=ON && bench=OFF
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_SANITIZE="$sanitize" -DKELVO_BUILD_BENCH="$bench" >/dev/null
cmake --build "$dir" -j "$(nproc)"
