#!/usr/bin/env bash
# A slice dragged out of the segment bar lands in another application as a Wave file holding the
# segment's audio: two processes on a virtual X display share nothing but its drag and drop.
#   drag_peers.sh PEER CLI WORKDIR
set -euo pipefail
peer="$1" cli="$2" work="$3"
rm -rf "$work" && mkdir -p "$work"
cd "$work"

exec 3> >(cat > display.txt)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1600x900x24 2> xvfb.log &
xvfb=$!
source_pid=""
target_pid=""
cleanup() {
    [ -n "$source_pid" ] && kill "$source_pid" 2> /dev/null || true
    [ -n "$target_pid" ] && kill "$target_pid" 2> /dev/null || true
    kill "$xvfb" 2> /dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
[ -s display.txt ] || { echo "Xvfb did not start"; cat xvfb.log; exit 1; }
export DISPLAY=":$(head -n1 display.txt)" QT_QPA_PLATFORM=xcb

"$cli" demo loop.wav > /dev/null

# The target talks through a pipe of its own (bash keeps one coprocess at a time: the source's).
mkfifo target.out
"$peer" target dropped.wav > target.out &
target_pid=$!
exec 4< target.out
read -r -t 60 word x y <&4 || { echo "the drop target said nothing"; exit 1; }
[ "$word" = ready ] || { echo "the drop target said: $word $x $y"; exit 1; }
echo "drop target ready at $x,$y"

coproc SOURCE { "$peer" source loop.wav "$x" "$y" expected.raw; }
source_pid=$SOURCE_PID
read -r -t 60 word name <&"${SOURCE[0]}" || { echo "the dragging window said nothing"; exit 1; }
[ "$word" = dragged ] || { echo "the dragging window said: $word $name"; exit 1; }

read -r -t 30 word file <&4 || { echo "nothing was dropped"; exit 1; }
[ "$word" = dropped ] || { echo "the drop target said: $word $file"; exit 1; }
wait "$target_pid" || { echo "the drop target failed"; exit 1; }
target_pid=""
exec {SOURCE[1]}>&-
wait "$source_pid" || true
source_pid=""
echo "dropped $file"

# Named as Save Segments in Loop names the slices, and exactly the segment's audio, as sox reads it.
[[ "$file" =~ ^loop[0-9]+\.wav$ ]] || { echo "unexpected name $file"; exit 1; }
sox dropped.wav -t raw -e signed-integer -b 16 -L dropped.raw
cmp expected.raw dropped.raw
soxi dropped.wav | grep -q "Channels       : 2"
echo "dropped.wav = the segment ($(stat -c %s expected.raw) bytes)"
