#!/bin/sh
# Sets up, builds and runs every test: once in a normal build, once with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc)

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j "$jobs" --timeout 600)

"$root/scripts/build.sh" "$root/build-asan" -DTUNDRA_SANITIZE=ON -DTUNDRA_BENCHMARKS=OFF
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs" --timeout 900)
