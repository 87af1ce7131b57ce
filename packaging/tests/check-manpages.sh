#!/bin/sh
# Lints the manual pages, renders the compressed ones the build installs as man(1) does, checks
# that the window's, the simulator's and zelvikctl's pages document exactly the options their --help
# lists, and that zelvikctl's bash completion loads and completes.
# Usage: check-manpages.sh SOURCE-DIR BUILT-DIR VERSION SIMULATOR ZELVIKCTL COMPLETION WINDOW-PROGRAM
set -u
src=$1 built=$2 version=$3 sim=$4 ctl=$5 completion=$6 app=$7
. "$(dirname "$0")/lib.sh"
need groff groff-base
need man man-db

for page in zelvikconfig.1 zelvikctl.1 zelvik-sensor-sim.1; do
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
    [ "$page" = zelvikctl.1 ] && sections="$sections OPTIONS COMMANDS EXIT_STATUS ENVIRONMENT SERIAL_ACCESS EXAMPLES"
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

# Every option of --help is documented as an item of the page, and every option the page names
# exists in --help or in the --help of one of the COMMANDs given (zelvikctl's monitor options).
check_options() { # PROGRAM PAGE [COMMAND...]
    program=$1 page=$2
    shift 2
    help_options=$(QT_QPA_PLATFORM=offscreen "$program" --help | grep -oE '^  (-[a-zA-Z?], )?--[a-z][a-z-]*' |
        grep -oE -- '--[a-z][a-z-]*' | sort -u)
    [ -n "$help_options" ] || fail "no options found in '$program --help'"
    for option in $help_options; do
        escaped=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
        if grep -qE "^\.(B|BI|BR) .*$escaped( |\"|$)" "$page"; then
            pass "$option documented in $(basename "$page")"
        else
            fail "$option is listed by --help but not documented in $(basename "$page")"
        fi
    done
    known=$help_options
    for command in "$@"; do
        known="$known $("$program" "$command" --help | grep -oE -- '--[a-z][a-z-]*')"
    done
    page_options=$(grep -oE '\\-\\-[a-z](\\-|[a-z])*' "$page" | sed 's/\\//g' | sort -u)
    for option in $page_options; do
        if printf '%s\n' $known | grep -qx -- "$option"; then
            pass "$option exists"
        else
            fail "$(basename "$page") names $option, which --help does not list"
        fi
    done
}
check_options "$sim" "$src/zelvik-sensor-sim.1"
check_options "$ctl" "$src/zelvikctl.1" monitor serve factory-reset
check_options "$app" "$src/zelvikconfig.1"

# The completion loads in bash and completes the commands and a setting's arguments.
completes() { # EXPECTED WORD...
    expected=$1
    shift
    got=$(bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _zelvikctl; echo "${COMPREPLY[*]}"' \
        bash "$completion" "$@")
    if [ "$got" = "$expected" ]; then pass "completion of '$*': $got"; else fail "completion of '$*': '$got', expected '$expected'"; fi
}
completes "factory-reset" zelvikctl fac
completes "pm2.5 pm10 pm100" zelvikctl --port /dev/ttyUSB0 set calibration 2 ""
completes "auto on off" zelvikctl set heat-mode ""
finish
