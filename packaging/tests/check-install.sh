#!/bin/sh
# Installs the build into a scratch root as `cmake --install` does for a user, checks that every
# file lands where a desktop expects it, and validates the installed desktop entry and metainfo
# together as a tree.
# Usage: check-install.sh CMAKE BUILD-DIR APP-ID
set -u
cmake=$1 build=$2 id=$3
. "$(dirname "$0")/lib.sh"
need desktop-file-validate desktop-file-utils
need appstreamcli appstream

root=$(mktemp -d "${TMPDIR:-/tmp}/zelvik-install.XXXXXX")
trap 'rm -rf "$root"' EXIT
if ! log=$(DESTDIR=$root "$cmake" --install "$build" --prefix /usr 2>&1); then
    echo "$log" >&2
    fail "cmake --install failed"
    finish
fi
usr=$root/usr

for program in zelvikconfig zelvikctl zelvik-sensor-sim; do
    if [ -x "$usr/bin/$program" ] && [ -f "$usr/bin/$program" ]; then
        pass "bin/$program"
    else
        fail "bin/$program is missing or not executable"
    fi
done
expect_file "$usr/share/applications/$id.desktop"
expect_file "$usr/share/metainfo/$id.metainfo.xml"
expect_file "$usr/share/man/man1/zelvikconfig.1.gz"
expect_file "$usr/share/man/man1/zelvik-sensor-sim.1.gz"
expect_file "$usr/share/man/man1/zelvikctl.1.gz"
expect_file "$usr/share/bash-completion/completions/zelvikctl"
expect_file "$usr/share/doc/zelvikconfig/copyright"
check_icons "$usr/share/icons" "$id"

if report=$(desktop-file-validate "$usr/share/applications/$id.desktop" 2>&1) && [ -z "$report" ]; then
    pass "desktop-file-validate on the installed entry"
else
    fail "desktop-file-validate on the installed entry: $report"
fi
# validate-tree also checks that the metainfo's launchable names an installed desktop entry.
if report=$(appstreamcli validate-tree --no-net --strict --override="$APPSTREAM_OVERRIDE" "$usr" 2>&1); then
    pass "appstreamcli validate-tree"
else
    fail "appstreamcli validate-tree: $report"
fi
finish
