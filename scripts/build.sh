#!/usr/bin/env bash
# Configures and builds into the given folder: build.sh DIR [sanitize]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"
sanitize=OFF
[ "${2:-}" = "sanitize" ] && sanitize=ON
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_SANITIZE="$sanitize" >/dev/null
cmake --build "$dir" -j "$(nproc)"
