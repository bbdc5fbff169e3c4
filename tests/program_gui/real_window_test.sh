#!/usr/bin/env bash
# The real program on a real X server, driven only by xdotool's mouse as a
# person drives it: a folder listed, a thumbnail clicked, the thumbnail
# window's Cancel menu, and Process All clicked twice in quick succession.
# Where to click comes from the file the program writes under
# TOLVANE_TEST_REPORT (program/window_report.h). Every check runs, each failure
# is named, and the status is 1 when any failed. Run it under xvfb-run.
#
# usage: real_window_test.sh TOLVANE MAKE_PHOTOS
set -u
tolvane=$1
make_photos=$2
count=16

work=$(mktemp -d)
photos=$work/photos
report=$work/report
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# Runs the command until it succeeds; false after timeout seconds.
wait_for() {
    local timeout=$1
    shift
    local end=$((SECONDS + timeout))
    until "$@" >/dev/null; do
        ((SECONDS >= end)) && return 1
        sleep 0.1
    done
}

# "x y width height" of a shown control of a window, from the report.
geometry() {
    awk -v w="$1" -v n="$2" '$1 == w && $2 == n && $3 == 1 { print $4, $5, $6, $7; found = 1 }
                             END { exit !found }' "$report" 2>/dev/null
}

# Clicks a control: at dx pixels from its left edge, or in its middle.
click_control() {
    local g
    g=($(geometry "$1" "$2")) || return 1
    local x=$((g[0] + ${3:-$((g[2] / 2))})) y=$((g[1] + g[3] / 2))
    # No --sync: it waits for motion, and a second click on the same spot
    # would wait until a timeout. The server takes the move before the click.
    xdotool mousemove "$x" "$y" sleep 0.1 click 1
}

output_name() { sed -n 's/^text outputName_1011 //p' "$report" 2>/dev/null; }
output_name_has() { output_name | grep -q "$1"; }
shown() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
hidden() { ! shown "$1"; }
outputs() { find "$photos" -maxdepth 1 -name "$1" | wc -l; }
outputs_are() { [ "$(outputs "$1")" -eq "$2" ]; }

/usr/bin/python3 "$make_photos" "$photos" "$count" 2000 1500 >/dev/null || { echo "no photos made"; exit 1; }

TOLVANE_TEST_REPORT=$report "$tolvane" "$photos" >"$work/log" 2>&1 &
pid=$!
if ! wait_for 30 shown '^Tolvane Version' || ! wait_for 10 geometry CScaleDlg previewThumbnails_1036; then
    echo "FAIL: the main dialog never showed"
    cat "$work/log"
    exit 1
fi
wait_for 10 output_name_has A000_ || fail "the first file is not selected: \"$(output_name)\""

# The thumbnail window: a click on the third picture selects the third file.
click_control CScaleDlg previewThumbnails_1036 8
if wait_for 30 shown '^Thumbnails$' && wait_for 30 geometry CThumbnailWnd cell2; then
    sleep 0.5  # the window has settled where it was mapped
    click_control CThumbnailWnd cell2
    if wait_for 10 output_name_has A002_; then
        pass "a click on the third thumbnail selected the third file"
    else
        fail "a click on the third thumbnail left the selection at \"$(output_name)\""
    fi
    click_control CThumbnailWnd cancel_32806
    if wait_for 10 hidden '^Thumbnails$'; then
        pass "the thumbnail window's Cancel menu hid it"
    else
        fail "the thumbnail window's Cancel menu left it shown"
        # Out of the way, so the dialog below it can still be clicked.
        xdotool search --onlyvisible --name '^Thumbnails$' windowunmap >/dev/null 2>&1
    fi
else
    fail "ticking PreviewThumbnails showed no thumbnails"
fi

# Process All again once the run has written its first file: still one run,
# no second set of outputs. A run that ended before the second click proves
# nothing, so it is a failure of the test's set-up, said as such.
outputs_at_least() { [ "$(outputs "$1")" -ge "$2" ]; }
click_control CScaleDlg processAll_1027
wait_for 30 outputs_at_least 'A0*' 1 || fail "the first click started no run"
click_control CScaleDlg processAll_1027
[ "$(outputs 'A0*')" -lt "$count" ] || fail "the run ended before the second click; more photos are needed"
if wait_for 90 outputs_are 'A0*' "$count" && wait_for 30 geometry CScaleDlg done_1028; then
    sleep 1  # a second run, if one started, has written its first file by now
    duplicates=$(outputs 'B0*')
    if [ "$duplicates" -eq 0 ]; then
        pass "the second click started no second run"
    else
        fail "the second click wrote $duplicates B-named duplicates"
    fi
else
    fail "the run wrote $(outputs 'A0*') of $count files"
fi

echo "$failures failed"
[ "$failures" -eq 0 ]
