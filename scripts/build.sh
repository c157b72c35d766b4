#!/bin/sh
# Configures and builds the station into the given folder: scripts/build.sh <dir> [cmake options]
# JOBS limits the parallel compile jobs (all cores by default).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
[ $# -gt 0 ] && shift
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$dir" --parallel "${JOBS:-$(nproc)}"
