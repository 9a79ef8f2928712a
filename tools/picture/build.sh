#!/usr/bin/env bash
# Rebuilds the card's picture assets from scratch:
#   app/assets/image.jpg, app/assets/matte.png, app/assets/snow.png
# plus tools/picture/review-overlay.png (matte over the picture, for review),
# then checks them, and draws what derives from the picture: the card's
# icons (app/icons/) and the examples' pictures (examples/assets/).  Works from any current directory.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
out="$root/app/assets"

# Debian's own Python with Pillow and NumPy; install only what is missing.
missing=()
for pkg in python3 python3-pil python3-numpy; do
    if ! dpkg -s "$pkg" 2>/dev/null | grep -q '^Status: install ok installed'; then
        missing+=("$pkg")
    fi
done
if [ "${#missing[@]}" -gt 0 ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "installing: ${missing[*]}"
    $sudo apt-get -o DPkg::Lock::Timeout=300 update
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "${missing[@]}"
fi

# -E -s: ignore PYTHON* variables and the user's site-packages, so only
# Debian's packages are used; -B: leave no __pycache__ behind.
py=(/usr/bin/python3 -B -E -s)

mkdir -p "$out"
rm -f "$out/image.jpg" "$out/matte.png" "$out/snow.png" "$here/review-overlay.png"

"${py[@]}" "$here/scene.py" --out-dir "$out" --review "$here/review-overlay.png"
"${py[@]}" "$here/snowflakes.py" "$out/snow.png"
"${py[@]}" "$here/check_assets.py" "$out"
"${py[@]}" "$here/derived.py" "$root"
