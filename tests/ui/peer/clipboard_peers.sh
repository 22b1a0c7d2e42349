#!/usr/bin/env bash
# Audio copied in one running Cleavix pastes into another: two processes on a virtual X display
# share nothing but the display server's clipboard.
#   clipboard_peers.sh PEER CLI WORKDIR
set -euo pipefail
peer="$1" cli="$2" work="$3"
rm -rf "$work" && mkdir -p "$work"
cd "$work"

# A display of our own; Xvfb writes the number it took to the descriptor we give it.
exec 3> >(cat > display.txt)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 2> xvfb.log &
xvfb=$!
copier=""
cleanup() {
    [ -n "$copier" ] && kill "$copier" 2> /dev/null || true
    kill "$xvfb" 2> /dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
[ -s display.txt ] || { echo "Xvfb did not start"; cat xvfb.log; exit 1; }
export DISPLAY=":$(head -n1 display.txt)" QT_QPA_PLATFORM=xcb

# The source: the demo loop. The target: a quarter second of stereo 16-bit silence.
"$cli" demo source.wav > /dev/null
sox -n -r 44100 -c 2 -b 16 -e signed-integer target.wav trim 0 11025s

# The copying process keeps the clipboard until its input closes.
coproc COPIER { "$peer" copy source.wav; }
copier=$COPIER_PID
read -r -t 60 word bytes <&"${COPIER[0]}" || { echo "the copying process said nothing"; exit 1; }
[ "$word" = copied ] || { echo "the copying process said: $word $bytes"; exit 1; }
echo "copied $bytes bytes of clipboard image in process $copier"

"$peer" paste target.wav result.wav | tee paste.txt
exec {COPIER[1]}>&-
wait "$copier" || true
copier=""

# The result is the source's audio followed by the target's silence, byte for byte, as sox
# reads the three files.
for f in source target result; do sox "$f.wav" -t raw -e signed-integer -b 16 -L "$f.raw"; done
cat source.raw target.raw > expected.raw
cmp expected.raw result.raw
echo "result = source ($(stat -c %s source.raw) bytes) + target ($(stat -c %s target.raw) bytes)"
