#!/usr/bin/env bash
# The installed tree: `cmake --install` into a staging folder (DESTDIR), then every expected file in
# its place and nothing else, the programs answering from there with the guide found beside them,
# and the desktop entry, the MIME file and the manual pages checked by their own tools.
#   install_layout.sh BUILD_DIR STAGE_DIR PREFIX CMAKE "ICON_SIZES"
set -euo pipefail
build="$1" stage="$2" prefix="$3" cmake="$4" icon_sizes="${5:-}"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

failures=0 checks=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { checks=$((checks + 1)); }
need() { command -v "$1" > /dev/null || { echo "install_layout: $1 is missing (Debian: $2; scripts/install-deps.sh)" >&2; exit 1; }; }
need desktop-file-validate desktop-file-utils
need xmllint libxml2-utils
need update-mime-database shared-mime-info
need groff groff-base
need man man-db
need file file

rm -rf "$stage"
mkdir -p "$stage"
stage="$(cd "$stage" && pwd -P)"
DESTDIR="$stage" "$cmake" --install "$build" > "$stage.log" 2>&1 || { cat "$stage.log" >&2; exit 1; }
root="$stage$prefix"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# The programs' own settings and working files stay in the scratch folder.
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" CLEAVIX_TEMP="$scratch" TMPDIR="$scratch"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"

# Every file in its place, and no other.
expected=(bin/cleavix bin/cleavix-cli
          share/applications/cleavix.desktop
          share/icons/hicolor/scalable/apps/cleavix.svg
          share/mime/packages/cleavix.xml
          share/man/man1/cleavix.1.gz share/man/man1/cleavix-cli.1.gz
          share/doc/cleavix/changelog.gz
          share/lintian/overrides/cleavix)
for size in $icon_sizes; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/cleavix.png")
done
while IFS= read -r page; do
    expected+=("share/cleavix/help/$page")
done < <(cd "$source_dir/docs/help" && find . -type f | sed 's|^\./||' | sort)
for f in "${expected[@]}"; do
    if [ -f "$root/$f" ]; then pass; else fail "not installed: $prefix/$f"; fi
done
while IFS= read -r f; do
    rel="${f#"$root/"}"
    if printf '%s\n' "${expected[@]}" | grep -qxF "$rel"; then pass; else fail "installed but not expected: $f"; fi
done < <(find "$stage" -type f -o -type l)
for program in cleavix cleavix-cli; do
    if [ -x "$root/bin/$program" ]; then pass; else fail "$program is not executable"; fi
done
for size in $icon_sizes; do
    if file "$root/share/icons/hicolor/${size}x${size}/apps/cleavix.png" | grep -q "PNG image data, $size x $size"; then
        pass
    else
        fail "icon ${size}x${size} is not a $size x $size PNG"
    fi
done

# The programs answer from the staged tree; no display is needed for --help and --version.
version="$(grep -m1 -o 'project(Cleavix VERSION [0-9.]*' "$source_dir/CMakeLists.txt" | awk '{print $3}')"
if [ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/cleavix-cli" --version)" = "cleavix-cli $version" ]; then pass; else fail "cleavix-cli --version"; fi
if [ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/cleavix" --version)" = "cleavix $version" ]; then pass; else fail "cleavix --version"; fi
cli_help="$("$root/bin/cleavix-cli" --help)" && pass || fail "cleavix-cli --help exited $?"
grep -q '^Usage: cleavix-cli COMMAND' <<< "$cli_help" && pass || fail "cleavix-cli --help prints no usage"
window_help="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/cleavix" --help)" && pass || fail "cleavix --help exited $?"
guide_line="$(grep '^The user guide' <<< "$window_help" || true)"
if [ "$guide_line" = "The user guide (HTML): $root/share/cleavix/help/index.html" ]; then
    pass
else
    fail "the staged window finds its guide elsewhere: '$guide_line' (expected $root/share/cleavix/help/index.html)"
fi
# A real command and a rendered window from the staged programs.
"$root/bin/cleavix-cli" demo "$scratch/demo.wav" > /dev/null && pass || fail "cleavix-cli demo"
info="$("$root/bin/cleavix-cli" info "$scratch/demo.wav")" && grep -q '"result": *0' <<< "$info" && pass || fail "cleavix-cli info: $info"
if QT_QPA_PLATFORM=offscreen "$root/bin/cleavix" --screenshot "$scratch/window.png" "$scratch/demo.wav" > "$scratch/shot.log" 2>&1 &&
   file "$scratch/window.png" | grep -q "PNG image data"; then
    pass
else
    fail "cleavix --screenshot from the staged tree: $(cat "$scratch/shot.log")"
fi

# The MIME file: well-formed, accepted by update-mime-database, naming *.clx as a point file.
mime="$root/share/mime/packages/cleavix.xml"
out="$(xmllint --noout "$mime" 2>&1)" && pass || fail "xmllint: $out"
mkdir -p "$XDG_DATA_HOME/mime/packages"
cp "$mime" "$XDG_DATA_HOME/mime/packages/"
out="$(update-mime-database "$XDG_DATA_HOME/mime" 2>&1)" && [ -z "$out" ] && pass || fail "update-mime-database: $out"
grep -qx 'application/x-cleavix-points:\*\.clx' <<< "$(cut -d: -f2- "$XDG_DATA_HOME/mime/globs2")" && pass ||
    fail "the MIME database does not name *.clx"

# The desktop entry: valid, starting the installed program with the installed icon, for types the
# system's MIME database knows or the installed MIME file adds.
desktop="$root/share/applications/cleavix.desktop"
out="$(desktop-file-validate "$desktop" 2>&1)" && [ -z "$out" ] && pass || fail "desktop-file-validate: $out"
exec_program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
[ -x "$root/bin/$exec_program" ] && pass || fail "Exec=$exec_program is not an installed program"
icon="$(sed -n 's/^Icon=//p' "$desktop")"
[ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] && pass || fail "Icon=$icon is not installed"
mime_types="$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' ')"
for type in audio/x-wav audio/x-aiff application/x-cleavix-points; do
    grep -qw "$type" <<< "$mime_types" && pass || fail "MimeType lacks $type"
done
for type in $mime_types; do
    if [ -f "/usr/share/mime/$type.xml" ] || grep -q "^$type " /usr/share/mime/aliases ||
       [ -f "$XDG_DATA_HOME/mime/$type.xml" ]; then
        pass
    else
        fail "MimeType names $type, which the MIME database does not know"
    fi
done

# The manual pages: render without a warning, and name what the programs take.
for page in cleavix cleavix-cli; do
    gz="$root/share/man/man1/$page.1.gz"
    out="$(zcat "$gz" | groff -man -ww -z 2>&1)" && [ -z "$out" ] && pass || fail "groff on $page.1: $out"
    out="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$gz" 2>&1 > "$scratch/$page.txt")" && [ -z "$out" ] && pass ||
        fail "man --warnings on $page.1: $out"
done
for page in cleavix cleavix-cli; do
    grep -q "$prefix/share/cleavix/help" "$scratch/$page.txt" && pass || fail "$page.1 does not name the installed guide"
done
for option in --screenshot --sensitivity --help --version ostrel; do
    grep -q -- "$option" <<< "$window_help" || fail "cleavix --help does not name $option"
    grep -q -- "$option" "$scratch/cleavix.txt" && pass || fail "cleavix.1 does not name $option"
done
while IFS= read -r name; do
    grep -qE "^ {7}$name( |$)" "$scratch/cleavix-cli.txt" && pass || fail "cleavix-cli.1 does not list the command $name"
done < <("$root/bin/cleavix-cli" --commands | grep -o '"name": *"[^"]*"' | sed 's/.*"\([^"]*\)"$/\1/')

echo "install_layout: $checks passed, $failures failed"
[ "$failures" -eq 0 ]
