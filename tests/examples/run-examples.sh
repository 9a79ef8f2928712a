#!/usr/bin/env bash
# Runs every example in BIN as a user would: the stream example prints what
# it read; each window example runs in a virtual display with SDL's disk
# audio until its window is up, is photographed into SHOTS (when given) and
# ended with Escape, and must then end by itself with status 0.
#
#   run-examples.sh BIN [SHOTS]
set -euo pipefail
bin=$(cd "$1" && pwd)
shots=${2:-}
work=$(mktemp -d)
xvfb=""
cleanup() {
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

out=$(timeout -s KILL 30 "$bin/example-streams")
expected=$'file: first line\nfile: second line\nincbin: Hello from inside the program'
if [[ $out != "$expected" ]]; then
  printf 'example-streams printed:\n%s\n' "$out" >&2
  exit 1
fi

display=""
for n in $(seq 100 199); do
  if [[ ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [[ -S /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done
export DISPLAY=$display SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/audio.raw

for example in window sprites sound text; do
  timeout -s KILL 60 "$bin/example-$example" &
  pid=$!
  # The window is mapped once the example is running its loop. Examples run
  # one at a time, so the framework's default window title finds it.
  if ! window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Vorlith Application$" | head -1) ||
     [[ -z $window ]]; then
    echo "example-$example opened no window" >&2
    exit 1
  fi
  if [[ -n $shots ]]; then
    mkdir -p "$shots"
    xwd -root -silent | convert xwd:- -trim "$shots/$example.png"
  fi
  # Without a window manager the keyboard follows the pointer, which a small
  # window may not be under: give the window the focus, then press Escape
  # until the example has ended (a press before its first poll is not lost,
  # but one before the focus arrives would be).
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    xdotool windowfocus "$window" key Escape 2>/dev/null || true
    sleep 0.2
  done
  status=0
  wait "$pid" || status=$?
  if [[ $status -ne 0 ]]; then
    echo "example-$example ended with status $status" >&2
    exit 1
  fi
  # The chord loops from the start: the captured output is not silent.
  if [[ $example == sound ]] && ! python3 - "$work/audio.raw" <<'PY'
import array, sys
samples = array.array("h", open(sys.argv[1], "rb").read())
sys.exit(0 if samples and max(map(abs, samples)) > 4000 else 1)
PY
  then
    echo "example-sound played nothing" >&2
    exit 1
  fi
done
echo "every example ran"
