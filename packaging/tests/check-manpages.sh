#!/bin/sh
# Lints both manual pages, renders the compressed ones the build installs as man(1) does, and
# checks that each page documents exactly the options its program's --help lists.
# Usage: check-manpages.sh SOURCE-DIR BUILT-DIR VERSION SIMULATOR WINDOW-PROGRAM
set -u
src=$1 built=$2 version=$3 sim=$4 app=$5
. "$(dirname "$0")/lib.sh"
need groff groff-base
need man man-db

for page in zelvikconfig.1 zelvik-sensor-sim.1; do
    if report=$(groff -man -Tutf8 -ww -z "$src/$page" 2>&1) && [ -z "$report" ]; then
        pass "groff finds nothing to warn about in $page"
    else
        fail "groff warns about $page: $report"
    fi
    if grep -q "^\.TH [^ ]* 1 \"[^\"]*\" \"ZelvikConfig $version\"" "$src/$page"; then
        pass "$page is headed for version $version"
    else
        fail "$page: the .TH line does not name ZelvikConfig $version"
    fi
    gz=$built/$page.gz
    if ! gzip -t "$gz" 2>/dev/null; then
        fail "$gz is not a gzip file"
        continue
    fi
    rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$gz" 2>"$built/$page.err")
    if [ $? -eq 0 ] && [ ! -s "$built/$page.err" ]; then
        pass "man -l $gz renders without warnings"
    else
        fail "man -l $gz: $(cat "$built/$page.err")"
    fi
    rm -f "$built/$page.err"
    sections="NAME SYNOPSIS DESCRIPTION SEE_ALSO"
    [ "$page" = zelvikconfig.1 ] && sections="$sections OPTIONS THE_WINDOW SERIAL_ACCESS FILES"
    [ "$page" = zelvik-sensor-sim.1 ] && sections="$sections OPTIONS EXIT_STATUS EXAMPLES"
    for section in $sections; do
        heading=$(echo "$section" | tr _ ' ')
        if printf '%s\n' "$rendered" | grep -qx "$heading"; then
            pass "$page has $heading"
        else
            fail "$page lacks the section $heading"
        fi
    done
done

if grep -q '^zelvik\\-sensor\\-sim \\-\\-link ' "$src/zelvik-sensor-sim.1" &&
   grep -q '^\.B COM$' "$src/zelvik-sensor-sim.1"; then
    pass "zelvik-sensor-sim.1 shows --link and the path typed into the COM box"
else
    fail "zelvik-sensor-sim.1 lacks the example with --link and the COM box"
fi
if grep -q "adduser \$USER dialout" "$src/zelvikconfig.1"; then
    pass "zelvikconfig.1 tells how to join dialout"
else
    fail "zelvikconfig.1 does not tell how to join dialout"
fi

# Every option a program's --help lists is documented as an item of its page, and every option
# the page names exists.
check_options() {
    program=$1 page=$2
    help_options=$(QT_QPA_PLATFORM=offscreen "$program" --help | grep -oE '^  (-[a-zA-Z?], )?--[a-z][a-z-]*' |
        grep -oE -- '--[a-z][a-z-]*' | sort -u)
    [ -n "$help_options" ] || fail "no options found in '$program --help'"
    for option in $help_options; do
        escaped=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
        if grep -qE "^\.(B|BI|BR) .*$escaped( |\"|$)" "$src/$page"; then
            pass "$option documented in $page"
        else
            fail "$option is listed by --help but not documented in $page"
        fi
    done
    page_options=$(grep -oE '\\-\\-[a-z](\\-|[a-z])*' "$src/$page" | sed 's/\\//g' | sort -u)
    for option in $page_options; do
        if printf '%s\n' "$help_options" | grep -qx -- "$option"; then
            pass "$option of $page exists"
        else
            fail "$page names $option, which --help does not list"
        fi
    done
}
check_options "$sim" zelvik-sensor-sim.1
check_options "$app" zelvikconfig.1
finish
