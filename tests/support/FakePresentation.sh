# shellcheck shell=sh
# The fake presentation application, sourced by every "<name>.scpt" that FakePresentation puts into a
# bundle's Resources: $0 is the script being run, and its name says what to answer. The answers come
# from the state folder Resources/fake-state/, one small file per fact:
#
#   ppt-document, keynote-document   path of the open document, printed as it is (no file: "no")
#   ppt-playing, keynote-playing     present while the slide show runs; play scripts create it
#   ppt-show-slide                   PowerPoint's current slide in the slide show
#   ppt-edit-slide                   PowerPoint's current slide in the editing view
#   keynote-slide                    Keynote's current slide
#   ppt-count, keynote-count         number of slides
#   ppt-width, ppt-height            slide size, printed as it is
#   <app>-notes/<n>                  note of slide n (no file: an empty note)
#   <app>-alternate/<n>              alternate note of slide n (no file: an empty note)
#   <app>-source.pdf                 the export scripts copy it to a new file in exports/
#   pdf-folder                       what getPdfPath prints (no file: no result)
#   fail, fail-<name>                error number to fail with: every script, or the one named
#   delay, delay-<name>              seconds to wait before answering
#   answer-<name>                    bytes to print instead of the answer, exit status 0
#   export-hold                      seconds an export waits with half its file written; a SIGTERM
#                                    meanwhile removes the half and ends the export
#   runs                             the log: one line with the name per run, written first
#   pids                             "<name> <process id>" per run, written with the log
#
# Facts a script needs that the test did not write make it fail with -1728 (no such object), as does
# every document query while the application has no document open.

here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd) || exit 70
name=$(basename -- "$0" .scpt)
state=$here/fake-state
printf '%s\n' "$name" >>"$state/runs"
printf '%s %s\n' "$name" "$$" >>"$state/pids"

has() { [ -f "$state/$1" ]; }
get() { cat -- "$state/$1" 2>/dev/null; }
fail() {
    printf '%s\n%s\n' "$1" "$name: $2" >&2
    exit 1
}
# Prints a state file followed by the line feed that the script runner takes off again, so the
# result is the file's text exactly.
show() {
    cat -- "$state/$1"
    printf '\n'
}
fact() {
    has "$1" || fail -1728 "no such object ($1)"
    show "$1"
}
note() {
    if has "$1"; then show "$1"; else printf '\n'; fi
}
# Waits in short steps, so that a run the runner kills leaves no long sleep behind.
pause() {
    steps=$(awk -v s="$1" 'BEGIN { printf "%d", s * 10 + 0.999 }')
    while [ "$steps" -gt 0 ]; do
        sleep 0.1 >/dev/null 2>&1
        steps=$((steps - 1))
    done
}

if has "delay-$name"; then
    pause "$(get "delay-$name")"
elif has delay; then
    pause "$(get delay)"
fi
if has "fail-$name"; then
    fail "$(get "fail-$name")" "failing as the test asked"
elif has fail; then
    fail "$(get fail)" "failing as the test asked"
fi
if has "answer-$name"; then
    cat -- "$state/answer-$name"
    exit 0
fi

case $name in
*Ppt* | ppt2Pdf) app=ppt ;;
*Keynote* | keynote2Pdf) app=keynote ;;
getPdfPath)
    if has pdf-folder; then show pdf-folder; fi
    exit 0
    ;;
*) fail -1708 "the fake application does not know this script" ;;
esac

case $name in
is*OpenOrNot)
    if has "$app-document"; then show "$app-document"; else printf 'no\n'; fi
    exit 0
    ;;
esac
has "$app-document" || fail -1728 "no document is open"

case $name in
isPptPlayingOrNot)
    # Any result means the show runs, so a stopped show prints nothing.
    if has ppt-playing; then printf 'true\n'; fi
    ;;
isKeynotePlayingOrNot)
    if has keynote-playing; then printf 'true\n'; else printf 'false\n'; fi
    ;;
playPpt | playKeynote) : >"$state/$app-playing" ;;
getPptCurrentSlideIndex) fact ppt-show-slide ;;
getPptCurrentSlideNumber) fact ppt-edit-slide ;;
getKeynoteCurrentSlideNumber) fact keynote-slide ;;
get*TotalSlideCount) fact "$app-count" ;;
getPptWidth) fact ppt-width ;;
getPptHeight) fact ppt-height ;;
get*Note)
    case $name in
    getPpt*PageNote) current=ppt-edit-slide ;;
    getPpt*SlideNote) current=ppt-show-slide ;;
    *) current=keynote-slide ;;
    esac
    has "$current" || fail -1728 "no such object ($current)"
    slide=$(get "$current")
    case $name in
    *Current*) note "$app-notes/$slide" ;;
    *Next*) note "$app-notes/$((slide + 1))" ;;
    *Alternate*) note "$app-alternate/$slide" ;;
    *) fail -1708 "the fake application does not know this script" ;;
    esac
    ;;
ppt2Pdf | keynote2Pdf)
    has "$app-source.pdf" || fail -1728 "no such object ($app-source.pdf)"
    mkdir -p -- "$state/exports" || fail -2700 "cannot make the export folder"
    out=$(mktemp -- "$state/exports/$app-XXXXXX") || fail -2700 "cannot make the export file"
    if has export-hold; then
        trap 'rm -f -- "$out"; exit 143' TERM
        head -c 512 -- "$state/$app-source.pdf" >"$out"
        pause "$(get export-hold)"
        trap - TERM
    fi
    cp -- "$state/$app-source.pdf" "$out" || fail -2700 "cannot write the export file"
    printf '%s\n' "$out"
    ;;
*) fail -1708 "the fake application does not know this script" ;;
esac
