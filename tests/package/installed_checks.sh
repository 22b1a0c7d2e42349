# shellcheck shell=bash
# The checks of the package installed in a chroot, sourced by scripts/check-deb-install.sh, which
# defines in_root, apt_install, pass, fail, stage, $root, $work, $version and $dpkg_list (dpkg -L).
# The chroot runs the programs; the host's sox and python read what they wrote.

# expect_output WHAT EXPECTED CMD...: CMD succeeds in the root and prints exactly EXPECTED.
expect_output() {
    local what="$1" expected="$2" out
    shift 2
    if out="$(in_root "$@" 2>&1)" && [ "$out" = "$expected" ]; then pass; else fail "$what: '$out'"; fi
}

# json_field FILE EXPRESSION: a value from a JSON file, EXPRESSION on `j` in Python.
json_field() {
    python3 -c 'import json, sys; j = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$1" "$2"
}

# pcm FILE: the file's samples as 16-bit little-endian raw bytes (sox reads Wave and AIFF alike).
pcm() { sox "$1" -t raw -e signed-integer -b 16 -L -; }

check_programs() {
    stage "the programs"
    expect_output "cleavix-cli --version" "cleavix-cli $version" cleavix-cli --version
    expect_output "cleavix --version without a display" "cleavix $version" cleavix --version
    local help
    if help="$(in_root cleavix-cli --help 2>&1)" && grep -q '^ *info FILE' <<< "$help" && grep -q 'export' <<< "$help"; then
        pass
    else
        fail "cleavix-cli --help: $(head -5 <<< "$help")"
    fi
    # The window's help names the installed guide, and the guide is there with what it links to.
    local guide
    guide="$(in_root cleavix --help 2>&1 | sed -n 's/^The user guide (HTML): //p' || true)"
    [ "$guide" = /usr/share/cleavix/help/index.html ] && pass || fail "cleavix --help names the guide '$guide'"
    [ -s "$root/usr/share/cleavix/help/index.html" ] && pass || fail "the guide is not installed"
    local link missing=""
    for link in $(grep -o 'href="[^"#:]*' "$root/usr/share/cleavix/help/index.html" | sed 's/^href="//' | sort -u); do
        [ -e "$root/usr/share/cleavix/help/$link" ] || missing+=" $link"
    done
    [ -z "$missing" ] && pass || fail "the guide's index links to missing pages:$missing"
    # Every shared library resolves, the programs' and the Qt platform plug-ins' the window uses.
    local lib unresolved
    for lib in /usr/bin/cleavix /usr/bin/cleavix-cli \
               /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqxcb.so \
               /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqoffscreen.so; do
        if [ ! -e "$root$lib" ]; then
            fail "$lib is not installed"
            continue
        fi
        unresolved="$(in_root ldd "$lib" | grep 'not found' || true)"
        [ -z "$unresolved" ] && pass || fail "$lib: $unresolved"
    done
}

# A 16-bit stereo loop of four decaying noise bursts half a second apart, written by the host's
# Python, then read, saved, sliced and exported by the installed tool.
check_round_trip() {
    stage "a round trip through cleavix-cli"
    local dir="$root/tmp/round-trip"
    rm -rf "$dir"
    mkdir -p "$dir/slices"
    python3 - "$dir/loop.wav" << 'EOF'
import math, random, struct, sys, wave
rate, frames = 44100, 88200
random.seed(7)
data = bytearray()
for i in range(frames):
    t = (i % 22050) / rate
    level = 20000 * math.exp(-t * 40)
    data += struct.pack('<hh', int(level * random.uniform(-1, 1)), int(level * random.uniform(-1, 1)))
with wave.open(sys.argv[1], 'wb') as w:
    w.setnchannels(2)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(bytes(data))
EOF
    local status=0
    in_root cleavix-cli info /tmp/round-trip/loop.wav > "$dir/info.json" 2> "$dir/info.err" || status=$?
    [ "$status" -eq 0 ] && pass || fail "cleavix-cli info exited $status: $(cat "$dir/info.err")"
    local info
    info="$(json_field "$dir/info.json" '(j["result"], j["channels"], j["sampleRate"], j["bitsPerSample"], j["dataLength"])' 2>&1 || true)"
    [ "$info" = "(0, 2, 44100, 16, 352800)" ] && pass || fail "cleavix-cli info: $info"

    # Saved as Wave and as AIFF, the samples are the ones read.
    local want
    want="$(pcm "$dir/loop.wav" | md5sum)"
    for out in copy.wav copy.aif; do
        if in_root cleavix-cli save /tmp/round-trip/loop.wav "/tmp/round-trip/$out" > "$dir/save.json" 2> "$dir/save.err"; then
            [ "$(pcm "$dir/$out" | md5sum)" = "$want" ] && pass || fail "cleavix-cli save to $out changed the samples"
        else
            fail "cleavix-cli save to $out: $(cat "$dir/save.err")"
        fi
    done

    # A slice point sits in front of each attack after the first (byte offsets in the 16-bit stereo
    # store); the loop's start needs none.
    if in_root cleavix-cli slice /tmp/round-trip/loop.wav --sensitivity 50 > "$dir/slice.json" 2> "$dir/slice.err"; then
        local frames
        frames="$(json_field "$dir/slice.json" '" ".join(str(p["position"] // 4) for p in j["points"])' 2>&1 || true)"
        python3 -c '
import sys
found = [int(f) for f in sys.argv[1].split()]
ok = len(found) == 3 and all(a - 512 <= f <= a for f, a in zip(found, [22050, 44100, 66150]))
sys.exit(0 if ok else 1)' "$frames" && pass || fail "cleavix-cli slice found the attacks at frames: $frames"
    else
        fail "cleavix-cli slice: $(cat "$dir/slice.err")"
    fi

    # Exported, the slices join back into the loop.
    if in_root cleavix-cli export /tmp/round-trip/loop.wav --out /tmp/round-trip/slices/hit.wav --sensitivity 50 \
            > "$dir/export.json" 2> "$dir/export.err"; then
        local files
        mapfile -t files < <(find "$dir/slices" -name 'hit*.wav' | sort)
        [ "${#files[@]}" -eq 4 ] && pass || fail "cleavix-cli export wrote ${#files[@]} slices: $(cat "$dir/export.json")"
        if [ "${#files[@]}" -gt 1 ]; then
            [ "$(sox "${files[@]}" -t raw -e signed-integer -b 16 -L - | md5sum)" = "$want" ] && pass ||
                fail "the exported slices do not join into the loop"
        fi
    else
        fail "cleavix-cli export: $(cat "$dir/export.err")"
    fi
}

# The window without a display: offscreen, it opens the loop, searches it and writes a picture.
check_window() {
    stage "the window, offscreen"
    local shot="$root/tmp/window.png" out
    rm -f "$shot"
    [ -f "$root/tmp/round-trip/loop.wav" ] || check_round_trip
    # A desktop session's runtime folder, which Qt asks for.
    mkdir -p -m 0700 "$root/run/user/0"
    if out="$(in_root QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/run/user/0 \
            cleavix --screenshot /tmp/window.png /tmp/round-trip/loop.wav 2>&1)"; then
        file "$shot" | grep -q 'PNG image data, 1000 x 600' && pass || fail "the window's picture: $(file "$shot")"
    else
        fail "cleavix --screenshot: $out"
    fi
    # The offscreen plug-in says what it cannot do with a window; anything else (a missing font,
    # plug-in or library) is a fault of the installed system.
    out="$(grep -v '^This plugin does not support' <<< "$out" || true)"
    [ -z "$out" ] && pass || fail "the window printed: $out"
}

# Where the desktop's own tools put what the package installs: the manual pages in man-db, the
# desktop entry in the MIME cache of desktop-file-utils, the point file type in the MIME database.
check_desktop_files() {
    stage "manual pages, desktop entry, icons, MIME type"
    local page out
    [ -x "$root/usr/bin/man" ] || echo "man-db is not installed: the manual pages are not looked up"
    for page in cleavix cleavix-cli; do
        [ -x "$root/usr/bin/man" ] || break
        expect_output "man -w $page" "/usr/share/man/man1/$page.1.gz" man -w "$page"
        # Read as a local file, so man keeps no formatted copy in /var/cache/man.
        out="$(in_root MANWIDTH=80 man --warnings -l -P cat "/usr/share/man/man1/$page.1.gz" 2>&1 > "$work/man.txt")" &&
            [ -z "$out" ] && [ -s "$work/man.txt" ] && pass ||
            fail "man $page: $out"
    done
    if [ -x "$root/usr/bin/desktop-file-validate" ]; then
        out="$(in_root desktop-file-validate /usr/share/applications/cleavix.desktop 2>&1)" && [ -z "$out" ] && pass ||
            fail "desktop-file-validate: $out"
    fi
    if [ -f "$root/usr/share/applications/mimeinfo.cache" ]; then
        grep -q '^audio/x-wav=.*cleavix.desktop' "$root/usr/share/applications/mimeinfo.cache" && pass ||
            fail "the desktop's MIME cache does not offer cleavix.desktop for audio/x-wav"
    fi
    if [ -x "$root/usr/bin/update-mime-database" ]; then
        grep -qx 'application/x-cleavix-points' "$root/usr/share/mime/types" && pass ||
            fail "the MIME database lacks application/x-cleavix-points"
        [ -f "$root/usr/share/mime/application/x-cleavix-points.xml" ] && pass || fail "no x-cleavix-points.xml in the MIME database"
    fi
    local size
    for size in 16 32 48 64 128 256; do
        file "$root/usr/share/icons/hicolor/${size}x${size}/apps/cleavix.png" | grep -q "PNG image data, $size x $size" && pass ||
            fail "the ${size}x$size icon"
    done
    [ -f "$root/usr/share/icons/hicolor/scalable/apps/cleavix.svg" ] && pass || fail "the scalable icon"
}

# no_apt_warnings LOG WHAT: apt and dpkg reported no error or warning in LOG.
no_apt_warnings() {
    ! grep -E '^(W: |E: |dpkg: warning)' "$1" && pass || fail "warnings from $2"
}

# Removed, every file of the package goes and the databases forget it. Installed again and purged,
# dpkg forgets it and nothing named after it is left. (A package without conffiles is forgotten at
# remove already, so apt cannot purge it after a remove: the purge gets its own install.)
check_remove_purge() {
    stage "apt-get remove and purge"
    local files path out left=""
    files="$(while read -r path; do [ -d "$root$path" ] || echo "$path"; done <<< "$dpkg_list")"
    [ "$(wc -l <<< "$files")" -ge 20 ] && pass || fail "dpkg -L cleavix lists only: $files"
    if in_root apt-get remove -y cleavix > "$work/apt-remove.log" 2>&1; then pass; else fail "apt-get remove: $(cat "$work/apt-remove.log")"; fi
    no_apt_warnings "$work/apt-remove.log" "apt-get remove"
    while read -r path; do
        [ -e "$root$path" ] || [ -L "$root$path" ] && left+=" $path"
    done <<< "$files"
    [ -z "$left" ] && pass || fail "left after apt-get remove:$left"
    for path in /usr/share/cleavix /usr/share/doc/cleavix; do
        [ ! -e "$root$path" ] && pass || fail "$path is left after apt-get remove"
    done
    if [ -f "$root/usr/share/applications/mimeinfo.cache" ]; then
        ! grep -q cleavix "$root/usr/share/applications/mimeinfo.cache" && pass || fail "the MIME cache still names cleavix.desktop"
    fi
    if [ -f "$root/usr/share/mime/types" ]; then
        ! grep -q cleavix "$root/usr/share/mime/types" && pass || fail "the MIME database still has the point file type"
    fi
    if [ -x "$root/usr/bin/man" ]; then
        ! in_root man -w cleavix > "$work/man-w.txt" 2>&1 && pass || fail "man -w cleavix still finds a page"
    fi

    apt_install --no-install-recommends "./tmp/$(basename "$deb")" || return 0
    if in_root apt-get purge -y cleavix > "$work/apt-purge.log" 2>&1; then pass; else fail "apt-get purge: $(cat "$work/apt-purge.log")"; fi
    no_apt_warnings "$work/apt-purge.log" "apt-get purge"
    out="$(in_root dpkg-query -W -f='${db:Status-Status}' cleavix 2>&1 || true)"
    { [ "$out" = not-installed ] || grep -q 'no packages found' <<< "$out"; } && pass || fail "dpkg still knows cleavix: $out"
    left="$(ls "$root"/var/lib/dpkg/info/cleavix.* 2> /dev/null || true)"
    [ -z "$left" ] && pass || fail "dpkg's files of cleavix are left: $left"
    # Nothing named after the program anywhere but the user's files, the downloads and the logs.
    left="$(cd "$root" && find . \( -path ./proc -o -path ./tmp -o -path ./root -o -path ./var/log \
        -o -path ./var/cache/apt \) -prune -o -iname '*cleavix*' -print)"
    [ -z "$left" ] && pass || fail "left after apt-get purge: $left"
}
