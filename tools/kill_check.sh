#!/usr/bin/env bash
# Kills tarnel-cli video, anigif and morph at random moments (SIGINT, SIGTERM,
# SIGKILL) and checks, after the next write into the same folder, that no
# temporary is left there, that the user's files (some with names like our
# old temporaries) are all still there, and that a second writer running
# into the same folder all along was never disturbed.
# usage: tools/kill_check.sh TARNEL-CLI [ROUNDS]
set -uo pipefail
cli=$(realpath "$1")
rounds=${2:-6}
work=$(mktemp -d /tmp/tarnel-killcheck.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
cp "$cli" "$work/bin/tarnel-cli"   # its program folder is ours
cli=$work/bin/tarnel-cli
photos=${PHOTOS:-/work/photos}
faults=0
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

frames=$("$cli" morph "$photos/a.jpg" "$photos/b.bmp" --frames 24 --out "$work/src" | tail -n 1)
"$cli" avi "$frames" "$work/src/in.avi" --size 960x540 >/dev/null || { echo "cannot make the AVI"; exit 1; }

userFiles=(.notes.txt.tmp-99999-1 Dumy.99998.bmp .important.tmp-4194000-7 AVI_Temp.99997.bmp
           .out.mp4.tmp-99996-0 notes.tarnel-tmp-0123456789abcdeg.txt keep.txt)
plant() {
    mkdir -p "$1"
    for f in "${userFiles[@]}"; do [ -e "$1/$f" ] || echo "user data $f" >"$1/$f"; done
}
checkUser() {
    for f in "${userFiles[@]}"; do [ -e "$1/$f" ] || fault "$2: user file $1/$f removed"; done
}
# Names with the mark: ".tarnel-tmp-", 16 hexadecimal digits, then the end or an extension.
marked() { find "$1" -regextype posix-extended -regex '.*\.tarnel-tmp-[0-9a-f]{16}(\.[^/]*)?' 2>/dev/null; }

# commandFor NAME OUT-DIR [STEM]: the command line writing into OUT-DIR
commandFor() {
    local stem=${3:-out}
    case $1 in
        video) echo "$cli video $frames $2/$stem.mp4 --size 960x540" ;;
        anigif) echo "$cli anigif $work/src/in.avi $2/$stem.gif --palette adaptive-all --dither diffusion" ;;
        morph) echo "$cli morph $photos/a.jpg $photos/b.bmp --frames 12 --kind jpg --out $2" ;;
    esac
}
# liveOutputGood NAME OUT-DIR STEM LOG: what the undisturbed writer made is whole
liveOutputGood() {
    case $1 in
        video) ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$2/$3.mp4" 2>/dev/null | grep -qx 24 ;;
        anigif) ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$2/$3.gif" 2>/dev/null | grep -qx 24 ;;
        morph) local folder; folder=$(tail -n 1 "$4"); [ "$(ls "$folder" | grep -c '^[0-9][0-9][0-9]\.jpg$')" -eq 12 ] ;;
    esac
}

for name in video anigif morph; do
    out=$work/out-$name
    plant "$out"
    plant "$work/bin"
    for ((i = 1; i <= rounds; i++)); do
        # A writer into the same folder that must not be disturbed.
        $(commandFor "$name" "$out" "live-$i") >"$work/live.log" 2>&1 &
        livePid=$!
        signal=$(shuf -n 1 -e INT TERM KILL)
        delay=$(awk -v r=$RANDOM 'BEGIN { printf "%.2f", r / 32767 * 2.5 }')
        $(commandFor "$name" "$out") >"$work/killed.log" 2>&1 &
        pid=$!
        sleep "$delay"
        kill -"$signal" "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        # A run ended by SIGINT or SIGTERM removes its own at once.
        left=$(marked "$out" | grep -v "live-$i" || true)
        if [ "$signal" != KILL ] && [ "$name" != morph ] && [ -n "$left" ]; then
            fault "$name: temporaries left by a $signal at ${delay}s: $left"
        fi
        # The next write into the same folder, to completion.
        if ! $(commandFor "$name" "$out") >"$work/next.log" 2>&1; then
            fault "$name: the next write failed: $(tail -n 1 "$work/next.log")"
        fi
        if ! wait "$livePid"; then
            fault "$name: the live writer failed beside a $signal at ${delay}s: $(tail -n 1 "$work/live.log")"
        elif ! liveOutputGood "$name" "$out" "live-$i" "$work/live.log"; then
            fault "$name: the live writer's output is not whole beside a $signal at ${delay}s"
        fi
        # The live writer has put its own in place; the next write swept the killed run's.
        stale=$(marked "$out")
        [ -z "$stale" ] || fault "$name: temporaries left after the next write ($signal at ${delay}s): $stale"
        checkUser "$out" "$name"
        checkUser "$work/bin" "$name"
        [ -z "$(marked "$work/bin")" ] || fault "$name: temporaries left in the program folder: $(marked "$work/bin")"
        echo "$name round $i: $signal at ${delay}s, $(echo -n "$left" | grep -c .) temporary file(s) of the killed run right after"
    done
done
[ "$faults" -eq 0 ] && echo "no faults" || echo "$faults fault(s)"
[ "$faults" -eq 0 ]
