#!/bin/sh
# Validates the desktop entry and the AppStream metainfo in the source tree, checks that they
# agree with each other, that they and the changelog name the project version, and checks the
# icon files.
# Usage: check-metadata.sh PACKAGING-DIR APP-ID VERSION
set -u
dir=$1 id=$2 version=$3
. "$(dirname "$0")/lib.sh"
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
need dpkg-parsechangelog dpkg-dev

desktop=$dir/$id.desktop
metainfo=$dir/$id.metainfo.xml

# desktop-file-validate prints errors, warnings and hints; any of them fails.
if report=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$report" ]; then
    pass "desktop-file-validate $desktop"
else
    fail "desktop-file-validate $desktop: $report"
fi
value() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
[ "$(value Exec)" = zelvikconfig ] && pass "Exec=zelvikconfig" || fail "Exec is '$(value Exec)', not zelvikconfig"
[ "$(value Icon)" = "$id" ] && pass "Icon=$id" || fail "Icon is '$(value Icon)', not $id"
case ";$(value Categories)" in
    *";Development;"* | *";Utility;"*) pass "Categories=$(value Categories)" ;;
    *) fail "Categories lack Development or Utility: $(value Categories)" ;;
esac

if report=$(appstreamcli validate --no-net --strict --override="$APPSTREAM_OVERRIDE" "$metainfo" 2>&1); then
    pass "appstreamcli validate $metainfo"
else
    fail "appstreamcli validate $metainfo: $report"
fi
has() {
    if grep -q "$1" "$metainfo"; then pass "metainfo has $2"; else fail "metainfo lacks $2"; fi
}
has "<id>$id</id>" "the id $id"
has "<launchable type=\"desktop-id\">$id.desktop</launchable>" "the desktop file as launchable"
has "<release version=\"$version\"" "a release $version"
has "<project_license>MIT</project_license>" "the project license"
has "<developer_name>Zelvik</developer_name>" "the developer"
has "<url type=\"homepage\">https://zelvik.example/</url>" "the home page"
has "<content_rating type=\"oars-1.1\"" "a content rating"

changelog_version=$(dpkg-parsechangelog -l "$dir/changelog" -S Version 2>&1)
if [ "$changelog_version" = "$version" ]; then
    pass "changelog's latest entry is $version"
else
    fail "changelog's latest entry is '$changelog_version', not $version"
fi

check_icons "$dir/icons" "$id"
finish
