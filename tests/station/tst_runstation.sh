#!/bin/sh
# The run command's ending: the station started by scripts/run-station.sh (without a display, from
# this build tree, in data folders of its own) closes with the script on Ctrl+C (SIGINT to the
# process group, as a terminal sends it), on a closed terminal (SIGHUP to the group) and on SIGTERM
# to the script: the script ends with 130, 129 or 143 and leaves no program of the station running.
# Arguments: the source tree, the build tree.
root=$1
build=$2
mkdir -p "${TUNDRA_TEST_DATA:-/tmp}"
base=$(mktemp -d "${TUNDRA_TEST_DATA:-/tmp}/runstation.XXXXXX") || exit 1
failed=0

free_port() {
  /usr/bin/python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, getattr(socket, sys.argv[1]))
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])' "$1"
}

# The processes that still carry the case's data folder in their environment.
left_over() {
  for environ in $(grep -lzx "XDG_DATA_HOME=$1" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    echo "$pid $({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)"
  done
}

# Whether both programs of the station have bound the archive (the log may not exist yet).
station_up() {
  n=$(grep -ac 'JudgeDesk is ACTIVE now' "$1" 2>/dev/null)
  [ "${n:-0}" -ge 2 ]
}

# run_case <name> <signal> <to the group: yes/no> <expected status>
run_case() {
  dir="$base/$1"
  mkdir -p "$dir/config/Nyx"
  printf '[Beacon]\naddress=127.0.0.1\nportControl=%s\nportFeedback=%s\n' "$(free_port SOCK_DGRAM)" \
    "$(free_port SOCK_DGRAM)" >"$dir/config/Nyx/TundraRecorder.conf"
  log="$dir/station.log"
  env -u DISPLAY XDG_DATA_HOME="$dir/data" XDG_CONFIG_HOME="$dir/config" TUNDRA_ARCHIVE_ROOT="$dir/archive" \
    STATION_REFEREE_PORT="$(free_port SOCK_STREAM)" STATION_PREBUILT="$build" STATION_SCREENSHOT="$dir/shot.png" \
    NYX_KX_NAMESPACE="runstation$$$1" perl -e '
# As a terminal starts it: in a process group of its own, with Ctrl+C not ignored (a shell ignores
# it in the commands it starts in the background, and a script cannot trap what it inherits ignored).
use POSIX;
$SIG{INT} = "DEFAULT";
POSIX::setsid();
exec @ARGV' "$root/scripts/run-station.sh" >"$log" 2>&1 &
  script=$!
  # Up once the server and the client have both bound the archive.
  waited=0
  while ! station_up "$log" && kill -0 "$script" 2>/dev/null && [ $waited -lt 600 ]; do
    sleep 0.5
    waited=$((waited + 1))
  done
  if ! station_up "$log"; then
    echo "FAIL $1: the station did not come up"
    cat "$log"
    failed=1
  fi
  echo "$1: the station is up; SIG$2 to the script$([ "$3" = yes ] && echo "'s process group")"
  if [ "$3" = yes ]; then kill "-$2" "-$script"; else kill "-$2" "$script"; fi
  waited=0
  while kill -0 "$script" 2>/dev/null && [ $waited -lt 240 ]; do
    sleep 0.5
    waited=$((waited + 1))
  done
  if kill -0 "$script" 2>/dev/null; then
    echo "FAIL $1: the script still runs 120 s after SIG$2"
    tail -n 20 "$log"
    kill -KILL "-$script" 2>/dev/null
    failed=1
  fi
  status=0
  wait "$script" || status=$?
  if [ "$status" != "$4" ]; then
    echo "FAIL $1: the script ended with $status, not $4"
    failed=1
  fi
  # The virtual display and the screenshot loop follow the station within seconds.
  waited=0
  while [ -n "$(left_over "$dir/data")" ] && [ $waited -lt 60 ]; do
    sleep 0.5
    waited=$((waited + 1))
  done
  left=$(left_over "$dir/data")
  if [ -n "$left" ]; then
    echo "FAIL $1: still running after the script ended:"
    echo "$left"
    echo "$left" | while read -r pid rest; do kill -KILL "$pid" 2>/dev/null; done
    failed=1
  fi
  if [ -f "$dir/data/Nyx/TundraRecorder/.station.pid" ]; then
    echo "FAIL $1: the pid file stayed"
    failed=1
  fi
  [ $failed = 0 ] && echo "PASS $1 (status $status)"
}

run_case ctrl-c INT yes 130
run_case closed-terminal HUP yes 129
run_case term TERM no 143
[ $failed = 0 ] && rm -rf "$base"
exit $failed
