#!/usr/bin/env bash
# Installs the framework from BUILD into a temporary prefix and builds the
# examples against the installed copy alone, as another project would: with
# find_package(vrl) through CMake, and with pkg-config and the compiler.
# The examples then run as run-examples.sh runs them.
#
#   install-test.sh BUILD SOURCE
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# CMake: the examples folder is a project of its own.
cmake -G Ninja -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$source/tests/examples/run-examples.sh" "$work/cmake"

# vrl_embed_files comes with find_package(vrl): a file compiled into an
# outside program reads back through "incbin::".
mkdir -p "$work/embed"
printf 'snow on the roof\n' >"$work/embed/note.txt"
cat >"$work/embed/main.cpp" <<'CPP'
#include <cstdio>

#include "RegisterNote.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"

int main(int argc, char** argv) {
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  vrl::ramstream::Init();
  vrl::RegisterNote();
  std::printf("%s", vrl::LoadString(vrl::String::FromUtf8("incbin::note.txt"))->ToUtf8String().c_str());
  vrl::End();
}
CPP
cat >"$work/embed/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(embed LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(vrl REQUIRED)
add_executable(embed main.cpp)
target_link_libraries(embed PRIVATE vrl::vrl)
vrl_embed_files(TARGET embed FILES note.txt NAMES note.txt FUNCTION RegisterNote)
CMAKE
cmake -G Ninja -S "$work/embed" -B "$work/embed/build" -DCMAKE_PREFIX_PATH="$prefix" "${launcher[@]}" >/dev/null
cmake --build "$work/embed/build" >/dev/null
out=$("$work/embed/build/embed")
[[ $out == "snow on the roof" ]] || { echo "the embedded file read back as: $out" >&2; exit 1; }

# pkg-config: nothing but the compiler and the .pc file.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
mkdir -p "$work/pc"
for example in streams window; do
  # shellcheck disable=SC2046  # the flags are words
  c++ -std=gnu++20 -O1 -DEXAMPLE_ASSETS="\"$source/examples/assets\"" \
    "$source/examples/$example.cpp" -o "$work/pc/example-$example" $(pkg-config --cflags --libs vrl)
done
out=$("$work/pc/example-streams")
[[ $out == *"incbin: Hello from inside the program" ]] || { echo "pkg-config build printed: $out" >&2; exit 1; }
# add_subdirectory: the tree, added to another project, declares its
# libraries and vrl::vrl but no card, tools, tests, benchmarks or examples.
mkdir -p "$work/sub"
cat >"$work/sub/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(outside LANGUAGES C CXX)
set(CMAKE_CXX_STANDARD 20)
add_subdirectory("$source" vrl)
add_executable(streams "$source/examples/streams.cpp")
target_link_libraries(streams PRIVATE vrl::vrl)
CMAKE
cmake -G Ninja -S "$work/sub" -B "$work/sub/build" >/dev/null
targets=$(cmake --build "$work/sub/build" --target help)
grep -q '^vrl_stream:' <<<"$targets" || { echo "add_subdirectory declared no vrl_stream" >&2; exit 1; }
if grep -E '^(snowcard|pixinfo|example-[a-z]+|[a-z_0-9]+_(tests|bench)):' <<<"$targets"; then
  echo "add_subdirectory declared the targets above, which belong to the tree alone" >&2
  exit 1
fi
echo "the installed framework builds and runs the examples"
