#!/bin/sh
# Sets up, builds and runs the station: the stand-in referee application JudgeDesk with four
# cameras, then TundraRecorder, which starts the server (recording the virtual capture board's
# four video inputs and its stereo input) and the client (replay). Without a display it runs
# them on a virtual X server and saves a screenshot of it every few seconds.
#
# Environment: XDG_DATA_HOME / XDG_CONFIG_HOME (where the station keeps its files, as usual),
# TUNDRA_ARCHIVE_ROOT (the archive; default <data dir>/Archive), STATION_REFEREE_PORT (JudgeDesk's
# TCP port on the loopback address, default 47600), STATION_SCREENSHOT (screenshot file without a
# display, default <data dir>/station.png). Arguments go to TundraRecorder.
#
# Ctrl+C, closing the terminal (SIGHUP) and SIGTERM all close the station in order (the same as
# Ctrl+C in TundraRecorder) before the script ends, with status 130, 129 and 143.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "$STATION_PREBUILT" ]; then
  # The station's own tests run the programs of their build tree as they are.
  bin="$STATION_PREBUILT/bin"
else
  "$root/scripts/setup.sh"
  "$root/scripts/build.sh" "$root/build"
  bin="$root/build/bin"
fi

data="${XDG_DATA_HOME:-$HOME/.local/share}/Nyx/TundraRecorder"
settings="${XDG_CONFIG_HOME:-$HOME/.config}/Nyx/TundraRecorder.conf"
port="${STATION_REFEREE_PORT:-47600}"
shot="${STATION_SCREENSHOT:-$data/station.png}"
mkdir -p "$data/JudgeDesk" "$(dirname "$settings")"

# Replaces file with the given content; a different earlier file is kept once as file.before-station.
put() {
  tmp="$1.tmp"
  printf '%s\n' "$2" >"$tmp"
  if [ -f "$1" ] && ! cmp -s "$1" "$tmp" && [ ! -f "$1.before-station" ]; then
    cp "$1" "$1.before-station"
  fi
  mv "$tmp" "$1"
}

# The sources: the virtual capture board only (no network camera is ever contacted). Each video
# input records into its own stream; the audio into a stream of its own ("Audio1", an archive
# stream keeps one kind of media), named to the service by JudgeDesk's camera that plays audio.
put "$data/available_videos.json" '{
 "video": [
  {"name": "Camera 1", "source": "@url kx:///KX788 Board 1 Input 1", "rewind": "Cam1"},
  {"name": "Camera 2", "source": "@url kx:///KX788 Board 1 Input 2", "rewind": "Cam2"},
  {"name": "Camera 3", "source": "@url kx:///KX788 Board 1 Input 3", "rewind": "Cam3"},
  {"name": "Camera 4", "source": "@url kx:///KX788 Board 1 Input 4", "rewind": "Cam4"}
 ],
 "audio": [
  {"name": "Board audio", "source": "@url kx:///KX788 Board 1 Stereo 1", "rewind": "Audio1"}
 ]
}'

# The referee link reaches JudgeDesk at "ZEMBLA"; the rest of rewind.ini is kept.
ini="$data/rewind.ini"
if [ -f "$ini" ] && grep -qi '^[[:space:]]*ZEMBLA[[:space:]]*=' "$ini"; then
  sed -i "s/^[[:space:]]*[Zz][Ee][Mm][Bb][Ll][Aa][[:space:]]*=.*/ZEMBLA=127.0.0.1:$port/" "$ini"
else
  printf 'ZEMBLA=127.0.0.1:%s\n' "$port" >>"$ini"
fi

# The archive: the storage "Station" with the cameras' streams.
"$bin/archivectl" ensure "Station" "Cam1,Cam2,Cam3,Cam4,Audio1" >/dev/null

put "$data/JudgeDesk/judgedesk.json" '{
 "storage": "Station",
 "cameras": [
  {"name": "Camera 1", "stream": "Cam1"},
  {"name": "Camera 2", "stream": "Cam2"},
  {"name": "Camera 3", "stream": "Cam3"},
  {"name": "Camera 4", "stream": "Cam4"},
  {"name": "Board audio", "stream": "Audio1", "playAudio": true}
 ],
 "eventTypes": [
  {"name": "Goal", "text": "FFFFFF", "background": "0000FF"},
  {"name": "Foul", "text": "000000", "background": "00FFFF"},
  {"name": "Offside", "text": "000000", "background": "00FF00"},
  {"name": "Penalty", "text": "FFFFFF", "background": "FF0000"}
 ],
 "eventsFile": "events.jsonl"
}'

# Remote events (Fakecast and the like) arrive on the loopback address unless set otherwise.
if ! grep -q '^\[Beacon\]' "$settings" 2>/dev/null; then
  printf '\n[Beacon]\naddress=127.0.0.1\n' >>"$settings"
fi

pidfile="$data/.station.pid"
if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
  echo "A station started from here still runs (process $(cat "$pidfile")): close it first." >&2
  exit 1
fi
rm -f "$pidfile"

desk=""
cleanup() {
  if [ -n "$desk" ]; then
    kill "$desk" 2>/dev/null || true
    wait "$desk" 2>/dev/null || true
  fi
  desk=""
  rm -f "$pidfile"
}
trap cleanup EXIT
"$bin/JudgeDesk" --config "$data/JudgeDesk/judgedesk.json" --listen 127.0.0.1 --port "$port" </dev/null &
desk=$!
echo "JudgeDesk runs on 127.0.0.1:$port with the cameras Cam1-Cam4 (events: $data/JudgeDesk/events.jsonl)"

# A signal asks the station to close; it is passed on (below) as soon as the station has written
# its pid, so that a signal right at the start does not leave it running.
ending=""
asked=""
trap 'ending=130' INT
trap 'ending=129' HUP
trap 'ending=143' TERM

# The station runs in a session of its own, so that a signal to the terminal's process group (Ctrl+C,
# a closed terminal) reaches only this script, which closes the station in order: TundraRecorder
# closes the server and the client on SIGINT, and would leave them running on another signal.
set -- --events_file "$data/remote_events.jsonl" "$@"
if [ -n "$DISPLAY" ]; then
  setsid sh -c 'echo $$ >"$1"; shift; exec "$@"' sh "$pidfile" "$bin/TundraRecorder" "$@" </dev/null &
else
  # Without a display: on a virtual X server, which stays until the station has closed.
  setsid xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" sh -c '
    shot=$1
    pidfile=$2
    shift 2
    echo $$ >"$pidfile"
    echo "No display: the station runs on the virtual display $DISPLAY."
    if command -v ffmpeg >/dev/null; then
      echo "A screenshot of it is saved every 5 s to $shot"
      # Ends with the station.
      (while sleep 5 && kill -0 $$ 2>/dev/null; do
         ffmpeg -loglevel quiet -y -f x11grab -video_size 1920x1080 -i "$DISPLAY" -frames:v 1 "$shot.tmp.png" &&
           mv "$shot.tmp.png" "$shot"
       done) &
    fi
    echo "To watch it live: x11vnc -display $DISPLAY -localhost -nopw, then a VNC viewer on localhost:5900."
    exec "$0" "$@"
  ' "$bin/TundraRecorder" "$shot" "$pidfile" "$@" </dev/null &
fi
runner=$!
while kill -0 "$runner" 2>/dev/null; do
  if [ -n "$ending" ] && [ -z "$asked" ] && [ -s "$pidfile" ]; then
    kill -INT "$(cat "$pidfile")" 2>/dev/null || true
    asked=1
  fi
  sleep 0.2 &
  wait $! 2>/dev/null || true
done
status=0
wait "$runner" || status=$?
exit "${ending:-$status}"
