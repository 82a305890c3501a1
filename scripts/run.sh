#!/usr/bin/env bash
# Installs what is missing, builds, and runs the agent in the foreground on
# its default settings. Extra arguments go to the agent.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build/normal"
exec "$root/build/normal/src/agent/kelvo" "$@"
