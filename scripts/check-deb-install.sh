#!/usr/bin/env bash
# Installs the Debian package on a fresh, minimal Debian 12 (debootstrap --variant=minbase) in a
# chroot, as a user would with apt, and checks the installed programs, then removes and purges it
# and checks nothing of it is left. Run as root; needs Debian's mirror (or CLEAVIX_DEB_MIRROR).
#   scripts/check-deb-install.sh [--with-recommends] [DEB]
# Without DEB, scripts/build-deb.sh builds build/cleavix_<version>_<arch>.deb first. The fresh root
# is kept as a tarball, and the packages apt fetched beside it, in build/deb-install/, so a second
# run needs the network only for apt's index check. --with-recommends also installs the package
# with its recommendations in a second fresh root and checks the window there.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source_dir="$PWD"

with_recommends=0
deb=""
for a in "$@"; do
    case "$a" in
        --with-recommends) with_recommends=1 ;;
        -h | --help) sed -n '2,9p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "check-deb-install: unknown option $a" >&2; exit 64 ;;
        *) deb="$a" ;;
    esac
done
if [ "$(id -u)" -ne 0 ]; then
    echo "check-deb-install: needs root (debootstrap, chroot, mount)" >&2
    exit 1
fi
for tool in debootstrap chroot sox python3; do
    command -v "$tool" > /dev/null || { echo "check-deb-install: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
if [ -z "$deb" ]; then
    deb="$(scripts/build-deb.sh | tail -1)"
fi
deb="$(realpath "$deb")"
version="$(dpkg-deb -f "$deb" Version)"

suite=bookworm
mirror="${CLEAVIX_DEB_MIRROR:-http://deb.debian.org/debian}"
work="$source_dir/build/deb-install"
cache="$work/$suite-minbase.tar"
archives="$work/apt-archives"
root="$work/root"
mkdir -p "$work" "$archives"

failures=0 checks=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { checks=$((checks + 1)); }
stage() { echo "== $* ($(( $(date +%s) - started )) s)"; }
started="$(date +%s)"

# in_root CMD...: runs CMD in the chroot with a clean environment and no display.
in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

# Every mount this script makes is below $root; they all go before the root is removed, and the
# root is not removed while anything is still mounted there.
unmount_root() {
    local m
    [ -d "$root" ] || return 0
    for m in $(findmnt -rn -o TARGET | grep -F "$root/" | sort -r); do
        umount "$m" 2> /dev/null || umount -l "$m"
    done
}
remove_root() {
    unmount_root
    if findmnt -rn -o TARGET | grep -qF "$root/"; then
        echo "check-deb-install: something is still mounted below $root; leaving it" >&2
        return 1
    fi
    rm -rf "$root"
}
finish() {
    local status=$?
    # apt's downloads are kept for the next run.
    if [ -d "$root/var/cache/apt/archives" ]; then
        cp -un "$root"/var/cache/apt/archives/*.deb "$archives"/ 2> /dev/null || true
    fi
    remove_root || status=1
    exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

# A fresh root: from the cached tarball, or made with debootstrap and then cached. The root has
# the point release's updates and security archives, as an installed Debian 12 has, and apt's
# index from when it was cached.
fresh_root() {
    remove_root
    if [ ! -f "$cache" ]; then
        stage "debootstrap --variant=minbase $suite from $mirror"
        local made="$work/made"
        rm -rf "$made"
        if ! debootstrap --variant=minbase "$suite" "$made" "$mirror" > "$work/debootstrap.log" 2>&1; then
            tail -20 "$work/debootstrap.log" >&2
            rm -rf "$made"
            echo "check-deb-install: debootstrap failed (no network or mirror?), see $work/debootstrap.log" >&2
            exit 1
        fi
        local security="${mirror%/debian}/debian-security"
        [ "$security" != "$mirror" ] || security="http://security.debian.org/debian-security"
        cat > "$made/etc/apt/sources.list" << EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
        # No services start in the chroot.
        printf '#!/bin/sh\nexit 101\n' > "$made/usr/sbin/policy-rc.d"
        chmod 755 "$made/usr/sbin/policy-rc.d"
        rm -f "$made"/var/cache/apt/archives/*.deb
        tar -C "$made" -cf "$cache.part" . && mv "$cache.part" "$cache"
        rm -rf "$made"
    fi
    stage "fresh root from $(basename "$cache")"
    mkdir -p "$root"
    tar -C "$root" -xf "$cache"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    # dpkg's output goes to apt's log without a terminal (the chroot has no /dev/pts).
    echo 'Dpkg::Use-Pty "0";' > "$root/etc/apt/apt.conf.d/90no-pty"
    cp -l "$archives"/*.deb "$root/var/cache/apt/archives/" 2> /dev/null || true
    # Qt finds the program's folder (and so its guide) through /proc/self/exe. /dev is the root's
    # own (debootstrap made its nodes), never the host's.
    mount -t proc proc "$root/proc"
    in_root apt-get update -qq > "$work/apt-update.log" 2>&1 || { cat "$work/apt-update.log" >&2; exit 1; }
    cp "$deb" "$root/tmp/"
}

# apt_install ARGS...: apt-get install -y ARGS in the root; its output in $work/apt-install.log,
# dpkg's warnings counted as failures.
apt_install() {
    local log="$work/apt-install.log"
    if ! in_root apt-get install -y "$@" > "$log" 2>&1; then
        cat "$log" >&2
        fail "apt-get install $*"
        return 1
    fi
    no_apt_warnings "$log" "apt-get install $*"
}

source "$source_dir/tests/package/installed_checks.sh"

# First: only what Depends asks for.
fresh_root
stage "apt-get install --no-install-recommends ./$(basename "$deb")"
apt_install --no-install-recommends "./tmp/$(basename "$deb")" || exit 1
grep -E '^[0-9]+ upgraded, [0-9]+ newly installed' "$work/apt-install.log" || true
dpkg_list="$(in_root dpkg -L cleavix)"
check_programs
check_round_trip
check_window
# The tools a desktop has, installed after the package so their triggers find its files.
stage "the desktop's databases: man-db, desktop-file-utils, shared-mime-info, hicolor-icon-theme"
apt_install --no-install-recommends man-db desktop-file-utils shared-mime-info hicolor-icon-theme
check_desktop_files
check_remove_purge

if [ "$with_recommends" -eq 1 ]; then
    fresh_root
    stage "apt-get install (with recommends) ./$(basename "$deb")"
    apt_install "./tmp/$(basename "$deb")" || exit 1
    grep -E '^[0-9]+ upgraded, [0-9]+ newly installed' "$work/apt-install.log" || true
    dpkg_list="$(in_root dpkg -L cleavix)"
    check_programs
    check_window
    check_desktop_files
    check_remove_purge
fi

stage "done"
echo "check-deb-install: $checks passed, $failures failed ($deb, $suite minbase)"
[ "$failures" -eq 0 ]
