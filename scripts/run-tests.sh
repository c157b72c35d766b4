#!/bin/sh
# Sets up, builds and runs every test: once in a normal build, the fuzz targets for a bounded
# time, and once more with AddressSanitizer and UndefinedBehaviorSanitizer. JOBS limits the parallel
# build and test jobs (all cores by default).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=${JOBS:-$(nproc)}
export JOBS="$jobs"

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j "$jobs" --timeout 600)

# The fuzz targets, built with clang, each run for a bounded time.
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTUNDRA_FUZZ=ON -DTUNDRA_BENCHMARKS=OFF
cmake --build "$root/build-fuzz" --parallel "$jobs" --target tundra_fuzzers
(cd "$root/build-fuzz" && ctest --output-on-failure -j "$jobs" -L fuzz)

"$root/scripts/build.sh" "$root/build-asan" -DTUNDRA_SANITIZE=ON -DTUNDRA_BENCHMARKS=OFF
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs" --timeout 900)
