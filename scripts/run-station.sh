#!/bin/sh
# Sets up, builds and runs the station: TundraRecorder, which starts the server and client
# applications, with an archive storage for its cameras. Without a display it runs them on a
# virtual X server.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
# The station records into this storage; its cameras' streams are made once.
"$root/build/bin/archivectl" ensure "Station" "Camera 1,Camera 2,Camera 3,Camera 4" >/dev/null
if [ -n "$DISPLAY" ]; then
  exec "$root/build/bin/TundraRecorder" "$@"
fi
exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" "$root/build/bin/TundraRecorder" "$@"
