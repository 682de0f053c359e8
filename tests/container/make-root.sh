#!/usr/bin/env bash
# Makes (once) the Debian 12 root that the systemd tests boot with systemd-nspawn, and prints
# its folder. The root is cached as a zstd tarball where the machine keeps files between runs
# (OSTROVE_CACHE, /var/cache/ostrove-tests by default) and unpacked afresh beside it; it is
# built from nothing with debootstrap when the tarball is missing. The mirror is the one this
# machine's apt sources name.
#
#   make-root.sh            the root for the programs of a build folder: their libraries included
#   make-root.sh minimal    systemd, D-Bus and man-db only, as a fresh machine on which a person
#                           installs the package with apt-get (OSTROVE_ROOT_VARIANT=minimal says
#                           the same to callers that pass no arguments)
set -euo pipefail
cache=${OSTROVE_CACHE:-/var/cache/ostrove-tests}
variant=${1:-${OSTROVE_ROOT_VARIANT:-full}}
case $variant in
    full)
        name=debian12-systemd-root-1
        # systemd itself, and what the programs need to run (also as the sanitizer build makes them).
        packages=systemd,dbus,dbus-user-session,systemd-sysv,libpam-systemd,libqt6widgets6
        packages+=,libqt6network6,libqt6dbus6,libgmime-3.0-0,libx11-6,libasan8,libubsan1,libssl3
        packages+=,ca-certificates
        ;;
    minimal)
        name=debian12-minimal-root-1
        packages=systemd,dbus,systemd-sysv,man-db
        ;;
    *)
        echo "make-root: unknown variant $variant (full or minimal)" >&2
        exit 2
        ;;
esac
tarball=$cache/$name.tar.zst
root=$cache/$name
mkdir -p "$cache"

if [ -x "$root/usr/lib/systemd/systemd" ]; then
    echo "$root"
    exit 0
fi
exec 9>"$cache/.lock"
flock 9
if [ ! -f "$tarball" ]; then
    mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)\/\?$/\1/p' /etc/apt/sources.list.d/*.sources \
                 2>/dev/null | head -n 1)
    [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' \
                                    /etc/apt/sources.list 2>/dev/null || true)
    [ -n "$mirror" ] || { echo "make-root: no Debian mirror in the apt sources" >&2; exit 1; }
    building=$(mktemp -d "$cache/building.XXXXXX")
    trap 'rm -rf "$building"' EXIT
    echo "make-root: debootstrap from $mirror (about 1.5 min)" >&2
    debootstrap --variant=minbase --include="$packages" \
        bookworm "$building" "$mirror" >"$cache/debootstrap-$variant.log" 2>&1 \
        || { tail -n 20 "$cache/debootstrap-$variant.log" >&2; exit 1; }
    rm -rf "$building"/var/cache/apt/archives/*.deb "$building"/var/lib/apt/lists/* \
        "$building"/usr/share/doc "$building"/usr/share/locale "$building"/usr/share/info
    # The minimal root keeps man-db's folders, so that installed pages are indexed as usual.
    if [ "$variant" = full ]; then
        rm -rf "$building"/usr/share/man
    else
        find "$building"/usr/share/man -type f -delete
    fi
    # A machine id of its own at each boot; no console login waiting for a terminal.
    : >"$building/etc/machine-id"
    tar -C "$building" --zstd -cf "$tarball.new" .
    mv "$tarball.new" "$tarball"
fi
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" --zstd -xf "$tarball"
echo "$root"
