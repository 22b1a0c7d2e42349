#!/usr/bin/env bash
# Checks the Debian package without installing it: its control fields (a Depends line from the
# shared libraries, each dependency available from the system's archive at a version that fits),
# no maintainer scripts, every file in its place under /usr, and the programs run from the unpacked
# tree with the guide found beside them.
#   check_deb.sh DEB
#   check_deb.sh --build BUILD_DIR OUT_DIR [CPACK]    runs cpack -G DEB for BUILD_DIR into OUT_DIR first
set -euo pipefail
if [ "${1:-}" = "--build" ]; then
    build="$2" out="$3" cpack="${4:-cpack}"
    rm -rf "$out"
    mkdir -p "$out"
    (cd "$build" && "$cpack" -G DEB -B "$out" > "$out/cpack.log" 2>&1) || { cat "$out/cpack.log" >&2; exit 1; }
    deb="$(ls "$out"/cleavix_*.deb)"
else
    deb="$1"
fi
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
version="$(grep -m1 -o 'project(Cleavix VERSION [0-9.]*' "$source_dir/CMakeLists.txt" | awk '{print $3}')"

failures=0 checks=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { checks=$((checks + 1)); }
field() { dpkg-deb -f "$deb" "$1"; }

# Control fields.
[ "$(field Package)" = cleavix ] && pass || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] && pass || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] && pass || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = sound ] && pass || fail "Section: $(field Section)"
grep -qE '^.+ <[^ ]+@[^ ]+>$' <<< "$(field Maintainer)" && pass || fail "Maintainer: '$(field Maintainer)'"
description="$(field Description)"
[ "$(head -1 <<< "$description")" = "sample editor for drum loops" ] && pass || fail "the summary line: $(head -1 <<< "$description")"
[ "$(wc -l <<< "$description")" -ge 5 ] && pass || fail "no long description"
depends="$(field Depends)"
[ -n "$depends" ] && pass || fail "no Depends line"
names="$(tr ',' '\n' <<< "$depends" | awk '{print $1}')"
for library in libc6 libstdc++6 libasound2 libqt6core6 libqt6gui6 libqt6widgets6; do
    grep -qxF "$library" <<< "$names" && pass || fail "Depends lacks $library: $depends"
done
# Each dependency is in the archive at a version that satisfies it: the package installs with
# apt on a system of this release.
# (One apt-cache call for all of them: each takes seconds.)
declare -A candidates
while read -r name candidate; do
    candidates["$name"]="$candidate"
done < <(apt-cache policy $names 2>/dev/null | awk '/^[^ ].*:$/ {sub(":$", ""); name = $1} /^ +Candidate:/ {print name, $2}')
IFS=',' read -ra entries <<< "$depends"
for entry in "${entries[@]}"; do
    entry="$(sed 's/^ *//; s/ *$//' <<< "$entry")"
    name="${entry%% *}"
    candidate="${candidates[$name]:-}"
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
        fail "$name is not in the archive"
        continue
    fi
    if [[ "$entry" =~ \((\>=|\<=|=|\>\>|\<\<)\ ([^\)]+)\) ]]; then
        op="${BASH_REMATCH[1]}" wanted="${BASH_REMATCH[2]}"
        case "$op" in ">=") rel=ge ;; "<=") rel=le ;; "=") rel=eq ;; ">>") rel=gt ;; "<<") rel=lt ;; esac
        dpkg --compare-versions "$candidate" "$rel" "$wanted" && pass || fail "$name $candidate does not satisfy $entry"
    else
        pass
    fi
done

# No maintainer scripts: Debian's triggers (desktop database, MIME database, icon cache, man-db)
# see to the installed files.
members="$(dpkg-deb -I "$deb" | awk '/^ +[0-9]+ bytes,/ {
    for (i = 1; i < NF; i++) if ($i == "lines" || $i == "line") { n = $(i + 1); if (n == "*") n = $(i + 2); print n }
}' | sort | tr '\n' ' ')"
[ "$members" = "control md5sums " ] && pass || fail "control archive holds: $members"

# The files.
listing="$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')"
for f in /usr/bin/cleavix /usr/bin/cleavix-cli /usr/share/applications/cleavix.desktop \
         /usr/share/icons/hicolor/scalable/apps/cleavix.svg /usr/share/mime/packages/cleavix.xml \
         /usr/share/man/man1/cleavix.1.gz /usr/share/man/man1/cleavix-cli.1.gz /usr/share/cleavix/help/index.html \
         /usr/share/doc/cleavix/changelog.gz /usr/share/lintian/overrides/cleavix; do
    grep -qxF "$f" <<< "$listing" && pass || fail "the package lacks $f"
done
outside="$(grep -v '^/usr/\|^/$' <<< "$listing" || true)"
[ -z "$outside" ] && pass || fail "files outside /usr: $outside"
grep -q '^/usr/local' <<< "$listing" && fail "files in /usr/local" || pass

# Unpacked (not installed): stripped programs that run, and the guide they find beside them.
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for program in cleavix cleavix-cli; do
    file "$unpacked/usr/bin/$program" | grep -q ', stripped' && pass || fail "$program is not stripped"
    ! readelf -SW "$unpacked/usr/bin/$program" | grep -qE ' \.(comment|note) ' && pass ||
        fail "$program keeps its .comment or .note section"
done
[ "$("$unpacked/usr/bin/cleavix-cli" --version)" = "cleavix-cli $version" ] && pass || fail "cleavix-cli --version"
guide="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$unpacked/usr/bin/cleavix" --help | sed -n 's/^The user guide (HTML): //p')"
[ "$guide" = "$(cd "$unpacked" && pwd -P)/usr/share/cleavix/help/index.html" ] && pass || fail "the unpacked window finds its guide at '$guide'"
zcat "$unpacked/usr/share/man/man1/cleavix.1.gz" | grep -q '^\.I /usr/share/cleavix/help/' && pass ||
    fail "cleavix.1 does not name /usr/share/cleavix/help"
out="$(desktop-file-validate "$unpacked/usr/share/applications/cleavix.desktop" 2>&1)" && [ -z "$out" ] && pass ||
    fail "desktop-file-validate: $out"

echo "check_deb: $checks passed, $failures failed ($deb)"
[ "$failures" -eq 0 ]
