#!/usr/bin/env bash
# Runs the card from the given bin folder.
set -euo pipefail
bin=${1:-build/bin}
if [[ ! -x "$bin/snowcard" ]]; then
  echo "The card (snowcard) is not built yet: the framework under it is still being written."
  exit 1
fi
exec "$bin/snowcard"
