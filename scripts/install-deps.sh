#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark
# and run. Quick when everything is already there: it only calls apt-get for
# what is missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # the look and the static checks (make lint, make tidy)
  clang-format clang-tidy
  # libraries the framework links
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libogg-dev libvorbis-dev
  libfreetype-dev liblua5.1-0-dev libenet-dev libsdl2-dev libgl-dev
  libssl-dev
  # OpenAL is loaded at run time when present; the headers give its types
  libopenal-dev libopenal1
  # tests and benchmarks; the font tests load a scalable font and one with
  # several bitmap strikes
  libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core fonts-terminus-otb
  # the HTTP tests fetch from a real server: python3 -m http.server
  python3
  # a display and a GL implementation for the tests that draw, and what
  # `make run` uses on a machine without a display (key presses, screenshots)
  xvfb xauth libgl1-mesa-dri xdotool x11-apps imagemagick
  # the API reference (make docs); the Debian package (make package)
  doxygen dpkg-dev
  # opening URLs from the system driver (file requesters also use zenity
  # when it is installed; it is optional and not installed here)
  xdg-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
