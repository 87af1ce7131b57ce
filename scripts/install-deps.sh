#!/bin/sh
# Installs the Debian packages that building, testing and the demo need, if any is missing.
# Packages named as arguments are checked and installed as well (fuzzing and lint tools).
set -e
# Build, tests and demo (Qwt draws the Measurements chart); the packaging tests validate the desktop
# entry, metainfo, man pages and .deb; the start-up benchmark (run briefly by the tests) watches an
# Xvfb server through libxcb; zelvikctl serve is built on cpp-httplib and libmosquitto and tested
# against a real broker and Prometheus.
PACKAGES="cmake make g++ qtbase5-dev libqt5serialport5-dev qttools5-dev-tools qttools5-dev libqwt-qt5-dev fonts-noto-cjk
          desktop-file-utils appstream dpkg-dev binutils groff-base man-db lintian
          pkg-config libxcb1-dev libfontconfig-dev xvfb xauth
          libcpp-httplib-dev libmosquitto-dev mosquitto mosquitto-clients prometheus curl"
missing=""
for package in $PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
else
    echo "Missing packages:$missing (run as root or install them with apt-get)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
