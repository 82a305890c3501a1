#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# normal build and in the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for variant in normal sanitize; do
  dir="$root/build/$variant"
  echo "== $variant build"
  "$root/scripts/build.sh" "$dir" "$variant"
  echo "== $variant tests"
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
done
