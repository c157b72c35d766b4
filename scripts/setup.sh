#!/bin/sh
# Installs the Debian packages the station builds and runs with (Debian 12, as root).
set -e
packages="
  build-essential cmake ninja-build pkg-config git rsync
  qtbase5-dev qtbase5-private-dev qtdeclarative5-dev qtdeclarative5-private-dev
  qtquickcontrols2-5-dev qttools5-dev qttools5-dev-tools libqt5opengl5-dev
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-layouts
  qml-module-qtquick-controls qml-module-qtquick-controls2 qml-module-qtquick-templates2
  qml-module-qtquick-dialogs qml-module-qttest qml-module-qtgraphicaleffects
  libspdlog-dev libfmt-dev libsqlite3-dev
  libavcodec-dev libavutil-dev libswscale-dev libx264-dev libavformat-dev ffmpeg
  qtmultimedia5-dev libqt5multimedia5-plugins
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  qml-module-qt-labs-settings
  xvfb xauth libgl1-mesa-dri libegl-dev libgles-dev mesa-utils xdotool
  dbus-daemon
"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq $missing
fi
