#!/usr/bin/env bash
# Installs the Debian package from out/ with apt-get, as a user would, runs
# the installed card headless (scripts/run-card.sh: a screenshot and the
# captured audio), builds an example against the installed framework, then
# removes the package and checks that nothing of it is left.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(ls -t out/vrl_*.deb 2>/dev/null | head -1)
[[ -n $deb ]] || { echo "No package in out/: run make package first." >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
apt-get install -y "./$deb" >/dev/null
trap 'apt-get remove -y vrl >/dev/null 2>&1 || true' EXIT

for file in /usr/bin/snowcard /usr/share/applications/snowcard.desktop \
  /usr/share/icons/hicolor/256x256/apps/snowcard.png /usr/share/man/man6/snowcard.6 \
  /usr/share/doc/vrl/LICENSE /usr/lib/x86_64-linux-gnu/cmake/vrl/vrlConfig.cmake; do
  [[ -e $file ]] || { echo "The package did not install $file" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"; apt-get remove -y vrl >/dev/null 2>&1 || true' EXIT
(cd "$work" && "$OLDPWD/scripts/run-card.sh" /usr/bin)
[[ -s $work/out/screenshot.png ]] || { echo "The installed card gave no screenshot" >&2; exit 1; }

# shellcheck disable=SC2046  # the flags are words
c++ -std=gnu++20 examples/streams.cpp -o "$work/streams" $(pkg-config --cflags --libs vrl)
"$work/streams" | grep -q "incbin: Hello from inside the program"

apt-get remove -y vrl >/dev/null
if left=$(dpkg -L vrl 2>/dev/null) && [[ -n $left ]]; then
  echo "Files of the package are left after removal:" >&2
  echo "$left" >&2
  exit 1
fi
[[ ! -e /usr/bin/snowcard ]] || { echo "/usr/bin/snowcard is left after removal" >&2; exit 1; }
echo "The package installs, the installed card runs, and removal leaves nothing."
