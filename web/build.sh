#!/usr/bin/env bash
# Builds the WebAssembly decoder: installs what is missing (Debian emscripten
# and nodejs), compiles the library with emscripten and links its C API into
# dist/orv-glue.js + dist/orv.wasm beside the hand-written dist/orv.js.
#   web/build.sh            (build folder web/build, output web/dist)
set -euo pipefail
web="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$web/.." && pwd)"
build="$web/build"
dist="$web/dist"

need=()
command -v emcc >/dev/null || need+=(emscripten)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi
# emscripten's JavaScript optimiser needs Debian's acorn module.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"

# Exceptions carry the decoder's error messages, so they are compiled in.
emcmake cmake -S "$root" -B "$build/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-fexceptions" >/dev/null
# The whole library (core, encoder and the C API); the linker keeps what the decoder uses.
libs=(orv)
api_sources=()
nice ninja -C "$build/cmake" -j2 "${libs[@]}"
lib_files=()
for ((i = ${#libs[@]} - 1; i >= 0; --i)); do lib_files+=("$build/cmake/lib${libs[i]}.a"); done

exports='_malloc,_free,_orv_version,_orv_decoder_create,_orv_decoder_info,_orv_decoder_read_frame,_orv_decoder_seek,_orv_decoder_error,_orv_decoder_destroy'
mkdir -p "$dist"
em++ -std=c++20 -O3 -fexceptions -ffp-contract=off -fno-fast-math -Wall -Wextra -Werror \
  -DORV_VERSION="\"$(sed -n 's/^project(orv VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")\"" \
  -I"$root/src" -I"$root/include" "${api_sources[@]}" "${lib_files[@]}" \
  -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createOrvModule -sENVIRONMENT=web,worker \
  -sALLOW_MEMORY_GROWTH=1 -sFILESYSTEM=0 -sEXPORTED_FUNCTIONS="$exports" \
  -sEXPORTED_RUNTIME_METHODS=UTF8ToString -o "$build/orv-glue.js"
cp "$build/orv-glue.js" "$dist/orv-glue.js"
cp "$build/orv-glue.wasm" "$dist/orv.wasm"
cp "$web/src/orv.js" "$web/src/orv.d.ts" "$dist/"
# The native programs: the player's sample, and (web/test.sh) the reference decodes.
command -v g++ >/dev/null || { apt-get install -y -qq g++ >/dev/null; }
cmake -S "$root" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TESTS=OFF >/dev/null
nice ninja -C "$build/native" -j2 makeSample OrvEnc decodeRaw >/dev/null
bash "$web/tools/makeSample.sh" "$build/native" "$web/player/sample"
echo "web/dist: orv.js orv-glue.js orv.wasm ($(stat -c %s "$dist/orv.wasm") bytes)"
