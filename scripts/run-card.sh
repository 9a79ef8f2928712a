#!/usr/bin/env bash
# Runs the card from the given bin folder. With a display (DISPLAY set and
# reachable) the card simply runs until Escape. Without one it runs in a
# virtual display (Xvfb) with SDL's disk audio for about ten seconds (or
# CARD_SECONDS; the README's picture is a CARD_SECONDS=60 run), saves a
# screenshot and the captured audio under out/, ends the card with an Escape
# key press and reports where the files are and how the card ended.
set -uo pipefail
bin=${1:-build/bin}
card="$bin/snowcard"
if [[ ! -x $card ]]; then
  echo "The card (snowcard) is not built: run 'make build' first." >&2
  exit 1
fi

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1 || { [[ -n ${DISPLAY:-} ]] && [[ -S /tmp/.X11-unix/X${DISPLAY#*:} ]]; }; then
  exec "$card"
fi

out=$(pwd)/out
mkdir -p "$out"
display=""
for n in $(seq 70 99); do
  if [[ ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
done
if [[ -z $display ]]; then echo "No free display number for Xvfb." >&2; exit 1; fi

seconds=${CARD_SECONDS:-10}
echo "No display here: running the card in a virtual display ($display) for $seconds seconds."
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
for _ in $(seq 50); do [[ -S /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done

raw="$out/audio.raw"
rm -f "$raw"
DISPLAY=$display SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$raw" \
  timeout -s KILL $((seconds + 50)) "$card" &
pid=$!
sleep "$seconds"
DISPLAY=$display xwd -root -silent | convert xwd:- "$out/screenshot.png" 2>/dev/null ||
  echo "(no screenshot: xwd or ImageMagick's convert is missing)"
DISPLAY=$display xdotool key Escape
wait $pid
status=$?

# The disk audio driver writes raw 16-bit stereo at 44100 Hz: give it a WAV
# header so that any player opens it.
if [[ -s $raw ]]; then
  python3 - "$raw" "$out/audio.wav" <<'PY' || cp "$raw" "$out/audio.raw.keep"
import struct, sys
data = open(sys.argv[1], "rb").read()
header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16, 1, 2,
                     44100, 44100 * 4, 4, 16, b"data", len(data))
open(sys.argv[2], "wb").write(header + data)
PY
  rm -f "$raw"
fi
echo "Screenshot: $out/screenshot.png"
echo "Audio:      $out/audio.wav"
echo "The card ended with exit status $status."
exit $status
