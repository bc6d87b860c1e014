#!/usr/bin/env bash
# The main job on the bundled sample: installs what is missing, builds, makes
# the animated flag, encodes it with OrvEnc, cuts a base-layer-only stream with
# OrvPacketize, decodes both with OrvDec and reports sizes and errors.
#   tools/demo.sh [WORK_DIR] [FRAMES]     (default build/demo, 120 frames)
# ORV_BUILD=DIR uses another build folder; ORV_NO_SETUP=1 skips install+build.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ORV_BUILD:-$here/build}"
work="${1:-$build/demo}"
frames="${2:-120}"

if [ "${ORV_NO_SETUP:-0}" != 1 ]; then
  echo "== Setting up and building in $build"
  bash "$here/tools/setup.sh" "$build"
fi
for program in makeSample OrvEnc OrvPacketize OrvDec objCompare; do
  [ -x "$build/$program" ] || { echo "demo: $build/$program is missing (build failed?)"; exit 1; }
done

# Only a folder this script made (or an empty one) is cleared.
if [ -d "$work" ] && [ -n "$(ls -A "$work")" ] && [ ! -f "$work/.orv-demo" ]; then
  echo "demo: $work is not empty and was not made by this script; give another folder"
  exit 1
fi
rm -rf "$work"
mkdir -p "$work/full" "$work/base"
touch "$work/.orv-demo"
work="$(cd "$work" && pwd)"
log="$work/demo.log"
: >"$log"

echo "== Making the sample: $frames frames of a waving flag"
"$build/makeSample" "$work/frames" "$frames"

echo "== Encoding with OrvEnc"
"$build/OrvEnc" -o "$work/flag.orv" "$work/frames"

echo "== Cutting a base-layer-only stream: OrvPacketize flag.orv 1 1"
"$build/OrvPacketize" "$work/flag.orv" 1 1 >>"$log"
[ -f "$work/flagPack11.orv" ] || { echo "demo: OrvPacketize wrote no flagPack11.orv (see $log)"; exit 1; }

# OrvDec writes its frames beside the stream, so each stream gets a folder.
mv "$work/flagPack11.orv" "$work/base/"
cp "$work/flag.orv" "$work/full/"
echo "== Decoding both with OrvDec (log in $log)"
(cd "$work/full" && "$build/OrvDec" flag.orv ../flag_con.obj) >>"$log"
(cd "$work/base" && "$build/OrvDec" flagPack11.orv ../flag_con.obj 1 1) >>"$log"

# Frame numbers are padded to the width of the last one.
last=$((frames - 1))
width=${#last}
full_pattern="$work/full/flagDec%0${width}d.obj"
base_pattern="$work/base/flagPack11Dec%0${width}d.obj"
full_error="$("$build/objCompare" "$work/frames" "$full_pattern")" || { echo "demo: $full_error"; exit 1; }
base_error="$("$build/objCompare" "$work/frames" "$base_pattern")" || { echo "demo: $base_error"; exit 1; }

vertices=$(grep -c '^v ' "$work/frames/0.obj")
obj_bytes=$(cat "$work"/frames/*.obj | wc -c)
full_bytes=$(stat -c %s "$work/flag.orv")
base_bytes=$(stat -c %s "$work/base/flagPack11.orv")
con_bytes=$(stat -c %s "$work/flag_con.obj")
bpvf() { awk -v b="$1" -v v="$vertices" -v f="$frames" 'BEGIN { printf "%.3f", 8 * b / (v * f) }'; }

cat <<REPORT

== Report: $frames frames of $vertices vertices
  input OBJ frames       : $(printf '%10d' "$obj_bytes") bytes   $work/frames/
  float32 positions      : $(printf '%10d' $((12 * vertices * frames))) bytes   (for comparison)
  full stream            : $(printf '%10d' "$full_bytes") bytes   $(bpvf "$full_bytes") bits per vertex per frame   $work/flag.orv
  base-layer-only stream : $(printf '%10d' "$base_bytes") bytes   $(bpvf "$base_bytes") bits per vertex per frame   $work/base/flagPack11.orv
  connectivity           : $(printf '%10d' "$con_bytes") bytes   $work/flag_con.obj
  full decode    vs input: ${full_error#*: }
  reduced decode vs input: ${base_error#*: }
  decoded frames, full   : $work/full/   (flagDec*.obj)
  decoded frames, reduced: $work/base/   (flagPack11Dec*.obj)
REPORT
