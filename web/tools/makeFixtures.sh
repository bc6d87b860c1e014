#!/usr/bin/env bash
# Makes the streams the WebAssembly tests decode, with the native decoder's
# positions for each (raw little-endian doubles), and a manifest listing them.
# The shared test vectors' connectivity (first frames of ../shared/data) is
# unpacked too, when the data is there.
#   web/tools/makeFixtures.sh NATIVE_BUILD_DIR OUT_DIR
set -euo pipefail
bin="$1"
out="$2"
shared="${ORV_SHARED:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/../shared}"
rm -rf "$out"
mkdir -p "$out"
"$bin/makeSample" "$out/frames" 20 >/dev/null

entries=()
add() {  # name, encoder options..., then ":" and decode layer pairs
  local name="$1"; shift
  local opts=()
  while [ "$1" != ":" ]; do opts+=("$1"); shift; done
  shift
  "$bin/OrvEnc" "${opts[@]}" -o "$out/$name.orv" "$out/frames" >/dev/null
  for layers in "$@"; do
    local nsl="${layers%,*}" ntl="${layers#*,}"
    local args=()
    [ "$nsl" != 0 ] && args=("$nsl" "$ntl")
    "$bin/decodeRaw" "$out/$name.orv" "$out/${name}_con.obj" "$out/${name}_$nsl-$ntl.f64" "${args[@]}"
    entries+=("{\"stream\":\"$name.orv\",\"con\":\"${name}_con.obj\",\"nsl\":$nsl,\"ntl\":$ntl,\"positions\":\"${name}_$nsl-$ntl.f64\"}")
  done
}
add flag : 0,0 1,1 3,2
add flag-e2 -e 2 -s 6 -t 3 : 0,0 2,3 6,1
add flag-e0 -e 0 -s 3 -t 2 --ref-first-frame : 0,0 1,1 2,2

if [ -d "$shared/data" ] && [ -d "$shared/vectors" ]; then
  mkdir -p "$out/data"
  for a in "$shared"/data/*.tar.xz; do tar -xJf "$a" -C "$out/data"; done
fi
(IFS=,; echo "[${entries[*]}]") >"$out/manifest.json"
