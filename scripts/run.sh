#!/usr/bin/env bash
# Installs what is missing, builds, and runs the agent in the foreground on
# its default settings, with the reference link server beside it. Arguments
# go to the agent (default: --stay --favorites "$HOME/Favorites").
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build/normal"

# The reference link server beside the agent, on the port the agent's
# default settings point at; it stops when the agent ends.
# KELVO_NO_LINKSERVER=1 leaves it out (a server of your own is running).
if [ -z "${KELVO_NO_LINKSERVER:-}" ]; then
  "$root/build/normal/tools/linkserver/kelvo-linkserver" --port 8480 &
  linkserver_pid=$!
  trap 'kill "$linkserver_pid" 2>/dev/null || true; wait "$linkserver_pid" 2>/dev/null || true' EXIT
fi

# No browser runs beside the agent here: --stay keeps it up without one, and
# the Favorites are the folder under HOME. Arguments given replace these.
if [ "$#" -eq 0 ]; then
  mkdir -p "$HOME/Favorites"
  set -- --stay --favorites "$HOME/Favorites"
fi
"$root/build/normal/src/agent/kelvo" "$@"
