#!/bin/sh
# Runs a test on an X server: the one in DISPLAY when there is one, else a private Xvfb.
if [ -n "$DISPLAY" ]; then
  exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"
