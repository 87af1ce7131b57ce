#!/bin/sh
# Builds the Debian package with CPack into a scratch directory, checks its metadata and
# contents, unpacks it into a scratch root and starts both programs from there.
# Usage: check-deb.sh CPACK BUILD-DIR APP-ID VERSION
set -u
cpack=$1 build=$2 id=$3 version=$4
. "$(dirname "$0")/lib.sh"
need dpkg-deb dpkg
need dpkg-shlibdeps dpkg-dev
need readelf binutils
need timeout coreutils

work=$(mktemp -d "${TMPDIR:-/tmp}/zelvik-deb.XXXXXX")
sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack failed"
    finish
fi
deb=$work/out/zelvikconfig_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
    ls "$work/out" >&2
    fail "no $(basename "$deb") was made"
    finish
fi
pass "built $(basename "$deb")"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
expect_field() {
    if [ "$(field "$1")" = "$2" ]; then pass "$1: $2"; else fail "$1 is '$(field "$1")', expected '$2'"; fi
}
expect_field Package zelvikconfig
expect_field Version "$version"
expect_field Section electronics
expect_field Homepage "https://zelvik.example/"
case "$(field Maintainer)" in
    *"<"*"@"*">") pass "Maintainer: $(field Maintainer)" ;;
    *) fail "Maintainer '$(field Maintainer)' has no e-mail address" ;;
esac
if [ -n "$(field Description | sed -n 2p)" ]; then
    pass "Description has a summary and a long text"
else
    fail "Description has no long text"
fi
depends=$(field Depends)
echo "Depends: $depends"
depends_names=$(printf '%s\n' "$depends" | tr ',|' '\n\n' | sed 's/^ *//; s/[ (].*//')
# The libraries, and the font the form's captions are measured with.
for package in libc6 libstdc++6 libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libqwt-qt5-6 libcpp-httplib0.11 libmosquitto1 fonts-noto-cjk; do
    if printf '%s\n' "$depends_names" | grep -qx "$package"; then
        pass "Depends names $package"
    else
        fail "Depends lacks $package"
    fi
done

# Contents: where each file goes, owned by root, programs executable, nothing outside /usr.
dpkg-deb -c "$deb" >"$work/contents"
for path in usr/bin/zelvikconfig usr/bin/zelvikctl usr/bin/zelvik-sensor-sim \
    "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml" \
    "usr/share/icons/hicolor/scalable/apps/$id.svg" \
    usr/share/man/man1/zelvikconfig.1.gz usr/share/man/man1/zelvik-sensor-sim.1.gz \
    usr/share/man/man1/zelvikctl.1.gz usr/share/bash-completion/completions/zelvikctl \
    usr/share/doc/zelvikconfig/copyright usr/share/doc/zelvikconfig/changelog.gz \
    "usr/lib/systemd/system/zelvikctl-serve@.service"; do
    if awk -v p="./$path" '$6 == p { found = 1 } END { exit !found }' "$work/contents"; then
        pass "contains /$path"
    else
        fail "does not contain /$path"
    fi
done
for size in 16 32 48 64 128 256; do
    path=./usr/share/icons/hicolor/${size}x${size}/apps/$id.png
    awk -v p="$path" '$6 == p { found = 1 } END { exit !found }' "$work/contents" ||
        fail "does not contain ${path#.}"
done
strays=$(awk '$6 != "./" && $6 !~ /^\.\/usr\// { print $6 }' "$work/contents")
[ -z "$strays" ] && pass "everything under /usr" || fail "files outside /usr: $strays"
owners=$(awk '$2 != "root/root" { print $6 " " $2 }' "$work/contents")
[ -z "$owners" ] && pass "everything owned by root" || fail "not owned by root: $owners"
for program in zelvikconfig zelvikctl zelvik-sensor-sim; do
    mode=$(awk -v p="./usr/bin/$program" '$6 == p { print $1 }' "$work/contents")
    [ "$mode" = "-rwxr-xr-x" ] && pass "$program is $mode" || fail "$program has mode '$mode'"
done

# Unpack into a scratch root and run from there.
root=$work/root
dpkg -x "$deb" "$root"
for program in zelvikconfig zelvikctl zelvik-sensor-sim; do
    binary=$root/usr/bin/$program
    if readelf -d "$binary" | grep -qE 'RPATH|RUNPATH'; then
        fail "$program keeps a run path: $(readelf -d "$binary" | grep -E 'RPATH|RUNPATH')"
    else
        pass "$program has no run path"
    fi
    if readelf -S "$binary" | grep -q '\.debug_info'; then
        fail "$program is not stripped"
    else
        pass "$program is stripped"
    fi
done

sim=$root/usr/bin/zelvik-sensor-sim
if "$sim" --help >"$work/help" 2>&1 && grep -q -- '--link <path>' "$work/help"; then
    pass "zelvik-sensor-sim --help"
else
    fail "zelvik-sensor-sim --help: $(cat "$work/help")"
fi
reported=$("$sim" --version 2>&1)
[ "$reported" = "zelvik-sensor-sim $version" ] && pass "$reported" || fail "--version says '$reported'"

reported=$("$root/usr/bin/zelvikctl" --version 2>&1)
[ "$reported" = "zelvikctl $version" ] && pass "$reported" || fail "zelvikctl --version says '$reported'"

# The simulator prints its terminal, makes the link and removes it again when terminated.
link=$work/sensor
"$sim" --link "$link" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
tries=0
while [ ! -s "$work/sim.out" ] && [ "$tries" -lt 50 ] && kill -0 "$sim_pid" 2>/dev/null; do
    sleep 0.1
    tries=$((tries + 1))
done
terminal=$(head -n 1 "$work/sim.out")
if [ -c "$terminal" ] && [ "$(readlink "$link")" = "$terminal" ]; then
    pass "zelvik-sensor-sim runs on $terminal with the link"
else
    fail "zelvik-sensor-sim printed '$terminal', link -> '$(readlink "$link")': $(cat "$work/sim.err")"
fi
# zelvikctl from the package talks to the simulator from the package.
if answer=$("$root/usr/bin/zelvikctl" --port "$link" info 2>&1) && echo "$answer" | grep -q '^Device identifier: 1234-abcd$'; then
    pass "zelvikctl info through the simulator"
else
    fail "zelvikctl info through the simulator: $answer"
fi
kill "$sim_pid" 2>/dev/null
wait "$sim_pid"
status=$?
sim_pid=
[ "$status" -eq 0 ] && pass "zelvik-sensor-sim ends with 0 on SIGTERM" || fail "zelvik-sensor-sim ended with $status"
if [ -e "$link" ] || [ -L "$link" ]; then
    fail "the link $link is left behind"
else
    pass "the link is removed"
fi

# The service unit as systemd reads it, for one instance, starting the unpacked program.
unit=$root/usr/lib/systemd/system/zelvikctl-serve@.service
if command -v systemd-analyze >/dev/null 2>&1; then
    sed "s|/usr/bin/zelvikctl|$root/usr/bin/zelvikctl|" "$unit" >"$work/zelvikctl-serve@ttyUSB0.service"
    if report=$(systemd-analyze verify --man=no "$work/zelvikctl-serve@ttyUSB0.service" 2>&1) && [ -z "$report" ]; then
        pass "systemd-analyze verify zelvikctl-serve@.service"
    else
        fail "systemd-analyze verify zelvikctl-serve@.service: $report"
    fi
else
    echo "note: systemd-analyze not installed, the unit is not verified"
fi
for line in "ExecStart=/usr/bin/zelvikctl serve \$ZELVIK_SERVE_ARGS" "DynamicUser=yes" "SupplementaryGroups=dialout" \
    "Restart=on-failure"; do
    if grep -qxF "$line" "$unit"; then pass "the unit has $line"; else fail "the unit lacks $line"; fi
done
# zelvikctl serve from the package answers a scrape.
"$root/usr/bin/zelvikctl" serve --listen 127.0.0.1:0 --port "$work/none" 2>"$work/serve.err" &
serve_pid=$!
tries=0
while ! grep -q 'serving http' "$work/serve.err" && [ "$tries" -lt 50 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
address=$(sed -n 's|.*serving http://\([^/]*\)/metrics|\1|p' "$work/serve.err")
if [ -n "$address" ] && command -v curl >/dev/null 2>&1; then
    if curl -fs "http://$address/metrics" | grep -q '^zelvik_up{port="'"$work/none"'"} 0$'; then
        pass "zelvikctl serve answers a scrape"
    else
        fail "zelvikctl serve gave no metrics at $address"
    fi
elif [ -n "$address" ]; then
    pass "zelvikctl serve listens on $address (curl not installed, not scraped)"
else
    fail "zelvikctl serve did not start: $(cat "$work/serve.err")"
fi
kill "$serve_pid" 2>/dev/null
wait "$serve_pid"

# The version is printed without a display; the window counts as started when it is still
# running after a second.
if [ "$("$root/usr/bin/zelvikconfig" --version 2>&1)" = "zelvikconfig $version" ]; then
    pass "zelvikconfig --version"
else
    fail "zelvikconfig --version: $("$root/usr/bin/zelvikconfig" --version 2>&1)"
fi
QT_QPA_PLATFORM=offscreen timeout 1 "$root/usr/bin/zelvikconfig" >"$work/app.log" 2>&1
status=$?
if [ "$status" -eq 124 ]; then
    pass "zelvikconfig starts and runs"
else
    fail "zelvikconfig ended with $status within a second: $(cat "$work/app.log")"
fi

if command -v lintian >/dev/null 2>&1; then
    if report=$(lintian --fail-on error,warning "$deb" 2>&1); then
        pass "lintian finds no error or warning${report:+ (notes: $report)}"
    else
        fail "lintian: $report"
    fi
else
    echo "note: lintian not installed, not run"
fi
finish
