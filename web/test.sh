#!/usr/bin/env bash
# Builds the WebAssembly decoder and runs its tests: the node --test suite
# (every decoded position against the native library, bit for bit; bad input)
# and the browser test (the player in headless Chromium). Installs what is
# missing (emscripten, nodejs, npm, chromium; three and playwright-core from npm).
#   web/test.sh
set -euo pipefail
web="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$web/.." && pwd)"
build="$web/build"

bash "$web/build.sh"

need=()
command -v chromium >/dev/null || need+=(chromium)
command -v xz >/dev/null || need+=(xz-utils)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi
[ -d "$web/node_modules/three" ] && [ -d "$web/node_modules/playwright-core" ] || (cd "$web" && npm install --no-audit --no-fund --silent)

# build.sh made the native programs too (the sample, streams and reference decodes).
bash "$web/tools/makeFixtures.sh" "$build/native" "$build/fixtures"

export ORV_FIXTURES="$build/fixtures"
export ORV_SHARED="${ORV_SHARED:-$root/../shared}"
node --test "$web/test/decode.test.mjs"
node "$web/test/browser.mjs"
