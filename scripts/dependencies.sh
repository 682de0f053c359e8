#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, when any is missing.
# As root it runs apt-get; otherwise it prints the exact command and stops.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgl-dev libpng-dev libsqlite3-dev libsystemd-dev libx11-dev
    sqlite3 xvfb xauth x11-utils imagemagick openbox icewm
    dbus python3-dbusmock
    clang clang-format clang-tidy libclang-rt-14-dev libbenchmark-dev libssl-dev
    fonts-dejavu-core
    libgmime-3.0-dev dovecot-pop3d openssl ca-certificates mailfilter
    systemd-container debootstrap zstd
    dpkg-dev lintian
    zip
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

command="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "Some packages are missing. Install them as root with:" >&2
    echo "  sudo sh -c '$command'" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
sh -c "$command"
