#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs one of them.
#
#   [FUZZ_TARGET=NAME] scripts/fuzz.sh [SECONDS] [extra libFuzzer options...]
#
# NAME is one of the targets of fuzz/Targets.cmake (default audiosample):
# tga bmp png jpeg pixmap wav ogg audiosample text string font httpheader
# metadata rivo lua. SECONDS defaults to 600. The corpus grows in
# build-fuzz/corpus/NAME, seeded from the committed fuzz/corpus/NAME and
# fuzz/regressions/NAME when empty; the target's dictionary
# fuzz/dict/NAME.dict is used when there is one; crashes land in
# build-fuzz/crashes/.
#
# One fuzzer process, at low priority, within 256 MB: the machine is shared.
# AddressSanitizer keeps freed blocks in a quarantine to catch late uses; its
# default 256 MB alone (with the blocks' redzones) takes any target past that
# limit, so the quarantine is held to 32 MB.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
build=build-fuzz
target=${FUZZ_TARGET:-audiosample}

# The largest input worth trying, per target: a little above the largest
# input the parser accepts (the RIvo packet, the metadata and string texts
# the targets take), or enough for the format's features elsewhere. The text
# target reads each input some twenty times, mostly a character at a time;
# 256 bytes hold every feature it checks (marks, line ends, characters of each
# length, hexadecimal lines). A member's metadata is a short text: 256 bytes
# hold several keys with quoted values, or a tag of arrays nested deep.
case $target in
  tga | bmp | wav | string | httpheader) max_len=4096 ;;
  text | metadata) max_len=256 ;;
  lua) max_len=8192 ;;
  rivo) max_len=65600 ;;
  png | jpeg | pixmap | ogg | audiosample) max_len=32768 ;;
  font) max_len=65536 ;;
  *)
    echo "fuzz.sh: unknown target '$target'" >&2
    exit 2
    ;;
esac

# FUZZ_BUILD=0 runs the target as built, while another build uses the folder.
if [[ ${FUZZ_BUILD:-1} != 0 ]]; then
  CC=clang CXX=clang++ cmake -G Ninja -S . -B "$build" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRL_SANITIZE=ON -DVRL_BENCH=OFF -DVRL_WERROR=OFF \
    -DCMAKE_PROJECT_INCLUDE="$PWD/fuzz/Fuzz.cmake" >/dev/null
  cmake --build "$build" -j2 --target "${target}_fuzzer"
fi

corpus=$build/corpus/$target
mkdir -p "$corpus" "$build/crashes"
if [[ -z $(ls -A "$corpus") ]]; then
  cp fuzz/corpus/"$target"/* "$corpus/"
  if [[ -d fuzz/regressions/$target ]]; then cp fuzz/regressions/"$target"/* "$corpus/"; fi
fi
dict=()
if [[ -f fuzz/dict/$target.dict ]]; then dict=(-dict="fuzz/dict/$target.dict"); fi

ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=32 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp \
  nice -n 10 "$build/bin/${target}_fuzzer" -max_total_time="$seconds" -rss_limit_mb=256 \
  -malloc_limit_mb=256 -timeout=10 -max_len="$max_len" -artifact_prefix="$build/crashes/" \
  -print_final_stats=1 "${dict[@]}" "$@" "$corpus"
