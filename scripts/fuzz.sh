#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs one of them.
#
#   [FUZZ_TARGET=audiosample|pixmap|font|httpheader] scripts/fuzz.sh [SECONDS] [extra libFuzzer options...]
#
# SECONDS defaults to 600. The corpus grows in build-fuzz/corpus/TARGET
# (seeded with a small WAV and the head of the card's music, with the
# card's pictures, or with the heads of Debian's Terminus and DejaVu Sans
# fonts); crashes land in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
build=build-fuzz

CC=clang CXX=clang++ cmake -G Ninja -S . -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRL_SANITIZE=ON -DVRL_BENCH=OFF -DVRL_WERROR=OFF \
  -DCMAKE_PROJECT_INCLUDE="$PWD/fuzz/Fuzz.cmake" >/dev/null
target=${FUZZ_TARGET:-audiosample}
cmake --build "$build" -j2 --target "${target}_fuzzer"

corpus=$build/corpus/$target
mkdir -p "$corpus" "$build/crashes"
if [[ $target == pixmap && -z $(ls -A "$corpus") ]]; then
  cp app/assets/snow.png app/assets/matte.png "$corpus/"
  head -c 65536 app/assets/image.jpg >"$corpus/image-head.jpg"
elif [[ $target == font && -z $(ls -A "$corpus") ]]; then
  head -c 262144 /usr/share/fonts/opentype/terminus/terminus-normal.otb >"$corpus/terminus-head.otb"
  head -c 262144 /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf >"$corpus/dejavu-head.ttf"
elif [[ $target == httpheader && -z $(ls -A "$corpus") ]]; then
  printf 'HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\nbody' >"$corpus/ok.txt"
  printf 'HTTP/1.1 301 Moved\nLocation: /x\n\n' >"$corpus/lf-only.txt"
elif [[ -z $(ls -A "$corpus") ]]; then
  head -c 16384 "app/assets/Palewind-Silent night (piano).ogg" >"$corpus/music-head.ogg"
  # RIFF/WAVE, PCM mono 16-bit 8000 Hz, four frames.
  printf 'RIFF\x2c\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00data\x08\x00\x00\x00\x01\x00\xff\x7f\x00\x80\x10\x00' \
    >"$corpus/mono16.wav"
fi

ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$build/bin/${target}_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 \
  -max_len=262144 -artifact_prefix="$build/crashes/" -print_final_stats=1 "$@" "$corpus"
