#!/usr/bin/env bash
# Rebuilds the built-in 8 x 16 font bitmaps from Debian's Lat15-VGA16 console
# font (package console-setup-linux; see README.md for its licence).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
font=/usr/share/consolefonts/Lat15-VGA16.psf.gz
if [[ ! -f $font ]]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends console-setup-linux >/dev/null
fi
/usr/bin/python3 -B "$here/make_font_bin.py" "$font" \
  "$root/lith2d/vorlfont.bin" "$root/gldriver/gldrawtextfont.bin"
