#!/usr/bin/env bash
# The card's soak run: the card at its 20000-flake cap for MINUTES minutes
# (60 by default) in a virtual display with SDL's disk audio, then three
# checks over what it did:
#   - resident memory, sampled each minute, stays within 2 MiB of the first
#     minute's sample;
#   - the frame rate does not degrade: over the samples taken at the cap,
#     the mean of the last quarter is at least 90% of the first quarter's
#     (so run it on an otherwise idle machine);
#   - the captured audio is the music looped without a gap or click: every
#     second of it matches the decoded music at the offset of the first
#     sound (within 4 levels for 95% of the samples, as the end-to-end test
#     asks), so a lost or doubled block anywhere, a loop seam included,
#     fails the second it happens in.
# Writes OUT/samples.csv, OUT/soak.png (gnuplot) and OUT/report.txt (OUT is
# out/soak by default). Not part of `make test`: it takes the whole hour.
# SOAK_INTERVAL=10 samples every ten seconds instead, for a short trial run.
#
#   scripts/soak.sh [MINUTES [OUT]]
set -euo pipefail
minutes=${1:-60}
out=${2:-out/soak}
interval=${SOAK_INTERVAL:-60}
bin=${BIN:-build/bin}
for tool in Xvfb gnuplot; do
  command -v "$tool" >/dev/null || { echo "soak.sh needs $tool (apt-get install xvfb gnuplot-nox)" >&2; exit 1; }
done
[[ -x $bin/card-soak ]] || { echo "build first: cmake --build build --target card-soak" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

display=""
for n in $(seq 200 299); do
  if [[ ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -f "$out/audio.raw" "$out/music.raw"' EXIT
for _ in $(seq 100); do [[ -S /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done

echo "soak: $minutes minutes on display $display, a sample every $interval s, in $out/samples.csv"
DISPLAY=$display SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out/audio.raw" \
  timeout -s KILL $((minutes * 60 + 120)) "$bin/card-soak" $((minutes * 60)) "$interval" "$out/music.raw" \
  >"$out/samples.csv"

status=0
/usr/bin/python3 - "$out" <<'PY' | tee "$out/report.txt" || status=$?
import csv, sys
import numpy as np

out = sys.argv[1]
rows = list(csv.DictReader(open(f"{out}/samples.csv")))
failures = []
rss = [int(r["rss_kib"]) for r in rows]
fps = [float(r["fps"]) for r in rows]
print(f"samples: {len(rows)}, flakes at the end: {rows[-1]['flakes'] if rows else 0}")
if len(rows) < 2:
    failures.append("fewer than two samples")
else:
    drift = max(abs(v - rss[0]) for v in rss)
    print(f"resident memory: first {rss[0]} KiB, min {min(rss)}, max {max(rss)}, largest drift {drift} KiB")
    if drift > 2048:
        failures.append(f"resident memory drifted by {drift} KiB (limit 2048)")
    # What malloc has handed out, and the framework's objects: a leak grows
    # these; pages the allocators keep or touch for their own use do not.
    for column, what in (("heap_kib", "malloc in use"), ("objects_kib", "objects")):
        if rows and column in rows[0]:
            v = [int(r[column]) for r in rows]
            print(f"{what}: first {v[0]} KiB, min {min(v)}, max {max(v)}, largest drift "
                  f"{max(abs(x - v[0]) for x in v)} KiB")
    capped = [float(r["fps"]) for r in rows if int(r["flakes"]) >= 20000] or fps
    q = max(1, len(capped) // 4)
    first, last = np.mean(capped[:q]), np.mean(capped[-q:])
    print(f"frame rate: first quarter {first:.1f} fps, last quarter {last:.1f} fps ({last / first:.3f}x)")
    if last < 0.9 * first:
        failures.append("the frame rate degraded by more than 10%")

heard = np.fromfile(f"{out}/audio.raw", dtype="<i2")
music = np.fromfile(f"{out}/music.raw", dtype="<i2")
def first_sound(s):
    loud = np.flatnonzero(np.abs(s.astype(np.int32)) > 200)
    return int(loud[0]) & ~1 if len(loud) else len(s)
h, m = first_sound(heard), first_sound(music)
if h >= len(heard) or len(music) == 0:
    failures.append("no sound was captured")
else:
    offset = h - m              # where the music's sample 0 lies in the capture
    second = 44100 * 2
    bad = []
    start = max(h, 0)
    for begin in range(start, len(heard) - second + 1, second):
        idx = (np.arange(begin, begin + second) - offset) % len(music)
        close = np.abs(heard[begin:begin + second].astype(np.int32) - music[idx].astype(np.int32)) <= 4
        if close.mean() < 0.95:
            bad.append((begin - start) / second)
    loops = (len(heard) - start) / len(music)
    print(f"audio: {(len(heard) - start) / second:.0f} s compared, {loops:.1f} loops of the music, "
          f"{len(bad)} seconds not matching")
    if bad:
        failures.append(f"audio differs from the music from second {bad[0]:.0f} on ({len(bad)} seconds)")
print("result: " + ("passed" if not failures else "FAILED: " + "; ".join(failures)))
sys.exit(1 if failures else 0)
PY

gnuplot <<GP
set terminal pngcairo size 900,500
set output "$out/soak.png"
set datafile separator ","
set key top left
set xlabel "minutes"
set ylabel "memory (MiB)"
set y2label "frames per second"
set y2tics
set ytics nomirror
plot "$out/samples.csv" skip 1 using (\$1/60):(\$4/1024) with linespoints title "resident memory", \
     "" skip 1 using (\$1/60):(\$6/1024) with linespoints title "malloc in use", \
     "" skip 1 using (\$1/60):3 axes x1y2 with linespoints title "frame rate"
GP
echo "plot: $out/soak.png"
exit "$status"
