#!/bin/sh
# Sets up, builds and runs the station: TundraRecorder, which starts the server and client
# applications. Without a display it runs them on a virtual X server.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
if [ -n "$DISPLAY" ]; then
  exec "$root/build/bin/TundraRecorder" "$@"
fi
exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" "$root/build/bin/TundraRecorder" "$@"
