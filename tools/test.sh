#!/usr/bin/env bash
# Sets up (installs what is missing), builds and runs the whole test suite.
#   tools/test.sh                 release build in build/
#   ORV_SANITIZE=1 tools/test.sh  ASan + UBSan build in build-asan/
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ "${ORV_SANITIZE:-0}" = 1 ]; then
  build="$here/build-asan"
  bash "$here/tools/setup.sh" "$build" -DORV_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  build="$here/build"
  bash "$here/tools/setup.sh" "$build"
fi
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
