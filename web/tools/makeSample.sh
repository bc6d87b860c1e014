#!/usr/bin/env bash
# Makes the player's bundled sample: the waving flag of tools/makeSample
# (120 frames), encoded by OrvEnc with the default settings.
#   web/tools/makeSample.sh NATIVE_BUILD_DIR OUT_DIR
set -euo pipefail
bin="$1"
out="$2"
[ -f "$out/flag.orv" ] && [ -f "$out/flag_con.obj" ] && exit 0
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
"$bin/makeSample" "$tmp/frames" 120 >/dev/null
"$bin/OrvEnc" -o "$tmp/flag.orv" "$tmp/frames" >/dev/null
mkdir -p "$out"
cp "$tmp/flag.orv" "$tmp/flag_con.obj" "$out/"
