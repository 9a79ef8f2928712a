#!/usr/bin/env bash
# Rebuilds the card's music, app/assets/Palewind-Silent night (piano).ogg,
# from our own score:  score.py -> MIDI -> FluidSynth (FluidR3 GM piano)
# -> finish.py (trim, loop-safe fades, -1 dBFS peak) -> oggenc -> check.py.
#
# Deterministic: the score's humanisation uses a fixed seed, FluidSynth renders
# offline to float, and the Ogg stream serial number is fixed.
#
# Usage: tools/music/build.sh            (from any directory)
#        MUSIC_WORKDIR=/some/dir tools/music/build.sh   keeps the MIDI, the raw
#        render and the WAV master in that directory for inspection.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
out="$root/app/assets/Palewind-Silent night (piano).ogg"
py=/usr/bin/python3                       # Debian's, where python3-numpy lives
soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
quality=4                                 # oggenc -q: ~120 kbit/s, ~2 MB here
serial=1818                               # fixed Ogg serial: byte-identical rebuilds

# --- tools, installed only when missing -------------------------------------
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
missing=()
for pkg in python3 python3-numpy fluidsynth fluid-soundfont-gm vorbis-tools; do
  installed "$pkg" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  echo "build.sh: installing ${missing[*]}"
  sudo=()
  [[ "$(id -u)" -eq 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# --- work directory ---------------------------------------------------------
if [[ -n "${MUSIC_WORKDIR:-}" ]]; then
  work="$MUSIC_WORKDIR"
  mkdir -p "$work"
else
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
fi

# --- score ------------------------------------------------------------------
"$py" "$here/score.py" "$work/silent_night.mid" "$work/timeline.json"

# --- render -----------------------------------------------------------------
# Float output keeps the full dynamic range; finish.py sets the level.
# Reverb: a medium, slightly damped room; chorus off (it smears a piano).
rm -f "$work/render.raw"
fluidsynth -n -i -q \
  -F "$work/render.raw" -T raw -O float -E little -r 44100 \
  -g 0.5 \
  -o synth.cpu-cores=1 \
  -C 0 -R 1 \
  -o synth.reverb.room-size=0.55 \
  -o synth.reverb.damp=0.4 \
  -o synth.reverb.width=0.8 \
  -o synth.reverb.level=0.6 \
  "$soundfont" "$work/silent_night.mid"
[[ -s "$work/render.raw" ]] || { echo "build.sh: FluidSynth rendered nothing" >&2; exit 1; }

# --- master and encode --------------------------------------------------------
"$py" "$here/finish.py" "$work/render.raw" "$work/timeline.json" "$work/master.wav"

mkdir -p "$(dirname "$out")"
oggenc -Q -q "$quality" -s "$serial" \
  -t "Silent night (piano)" \
  -a "Palewind" \
  -c "COMPOSER=Franz Xaver Gruber (1818)" \
  -c "DESCRIPTION=Piano arrangement rendered with FluidSynth and the FluidR3 GM sound font" \
  -o "$work/out.ogg" "$work/master.wav"
mv -f "$work/out.ogg" "$out"

# --- check ------------------------------------------------------------------
"$py" "$here/check.py" "$out" "$work/timeline.json"
echo "build.sh: wrote $out ($(stat -c %s "$out") bytes)"
