#!/usr/bin/env bash
# Regenerates runtime/CaseTables.cpp from the Unicode 5.1.0 data package
# (npm @unicode/unicode-5.1.0, installed into a temporary folder).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/gen-case-tables.mjs" "$work/"
(cd "$work" && npm install --silent --no-audit --no-fund @unicode/unicode-5.1.0@2.0.7 >/dev/null)
node "$work/gen-case-tables.mjs" "$root/runtime/CaseTables.cpp"
