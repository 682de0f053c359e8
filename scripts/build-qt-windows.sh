#!/usr/bin/env bash
# Builds what the Windows build links against and Debian does not ship for mingw-w64, once, and
# keeps it in the cache folder that survives between runs:
#   qt-<version>-mingw64-<hash>/         Qt (qtbase: Core, Gui, Widgets, Test, Network) for
#                                        x86_64-w64-mingw32, with the mingw runtime DLLs its
#                                        DLLs import in bin/
#   qt-<version>-mingw64-<hash>.tar.xz   the same, packed: restores the folder when only it is left
#   qt-mingw64                           link to the newest of the above (the windows preset's
#                                        CMAKE_PREFIX_PATH)
#   sqlite-<version>-amalgamation/       sqlite3.c, sqlite3.h, sqlite3ext.h; link sqlite-amalgamation
# <hash> covers the Qt source version and everything below that shapes the build, so a change to
# the options builds a new Qt beside the old one.
#
# Both come from Debian's own source packages at the versions of the native -dev packages: Qt's
# cross build needs a host Qt of the same version for moc, rcc and uic, and that is Debian's
# qt6-base-dev-tools. A cold run takes 20-45 minutes of two cores; a warm one, seconds.
#
#   scripts/build-qt-windows.sh            build what is missing, then print where it is
#   scripts/build-qt-windows.sh --prefix   print the Qt folder this script would use, build nothing
#
# OSTROVE_WINDOWS_CACHE overrides the cache folder (/var/cache/ostrove-windows). As root it
# installs the packages it needs; otherwise it prints the apt-get line and stops.
set -euo pipefail
shopt -s inherit_errexit

cache=${OSTROVE_WINDOWS_CACHE:-/var/cache/ostrove-windows}
triple=x86_64-w64-mingw32
qt_version=6.4.2
jobs=${OSTROVE_BUILD_JOBS:-$(nproc)}

# The mingw-w64 and Wine packages are not in scripts/dependencies.sh: only this build and the
# Windows tests need them, and CI does not pay for them until it runs those.
packages=(
    g++-mingw-w64-x86-64-posix wine wine64
    qt6-base-dev qt6-base-dev-tools cmake ninja-build
    dpkg-dev gcc make tcl xz-utils
    zip
)

installed_version() {
    dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true
}

# Sources at the versions the host has, when the archive still has them.
qt_source_version=$(installed_version qt6-base-dev)
sqlite_source_version=$(installed_version libsqlite3-dev)

# Everything the build of Qt is made of besides its source; its hash names the cached folder.
toolchain_text="set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
"
qt_options=(
    -G Ninja
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    # What the programs do not use.
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF
    # FEATURE_opengl=OFF alone leaves dynamic OpenGL on, and the windows plugin does not compile.
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_opengl_dynamic=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_freetype=OFF -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF
    -DFEATURE_pkg_config=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_brotli=OFF
    -DFEATURE_gssapi=OFF -DFEATURE_libproxy=OFF
    # Windows' own TLS, so no OpenSSL DLLs to ship.
    -DFEATURE_schannel=ON -DFEATURE_openssl=OFF
    # Debian's source tarball drops the wintab headers and mingw-w64 has none.
    -DFEATURE_tabletevent=OFF
    # Debian's cross-building patch turns it on; it is an Android tool.
    -DFEATURE_androiddeployqt=OFF
    # Qt's own copies: the mingw root has a zlib, the rest only exist natively.
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF
)
# Without Direct2D, 6.4.2's windows platform plugin still uses the DirectWrite font database
# that is only built with it, and fails to link.
qt_patch_file=src/plugins/platforms/windows/qwindowsintegration.cpp
qt_patch_from='#if QT_CONFIG(directwrite3)'
qt_patch_to='#if QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)'
runtime_dlls=(
    "/usr/lib/gcc/${triple}/12-posix/libstdc++-6.dll"
    "/usr/lib/gcc/${triple}/12-posix/libgcc_s_seh-1.dll"
    "/usr/${triple}/lib/libwinpthread-1.dll"
)

options_hash=$(printf '%s\n' "qt6-base ${qt_source_version}" "${toolchain_text}" "${qt_options[@]}" \
    "${qt_patch_file}" "${qt_patch_from}" "${qt_patch_to}" "${runtime_dlls[@]}" |
    sha256sum | cut -c1-12)
qt_name=qt-${qt_version}-mingw64-${options_hash}
qt_prefix=${cache}/${qt_name}
qt_archive=${qt_prefix}.tar.xz

if [ "${1:-}" = --prefix ]; then
    echo "${qt_prefix}"
    exit 0
elif [ $# -gt 0 ]; then
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    command="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Some packages are missing. Install them as root with:" >&2
        echo "  sudo sh -c '$command'" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    sh -c "$command"
    qt_source_version=$(installed_version qt6-base-dev)
    sqlite_source_version=$(installed_version libsqlite3-dev)
fi
if [ "$(installed_version qt6-base-dev-tools | cut -d+ -f1)" != "${qt_version}" ]; then
    echo "The host Qt (qt6-base-dev-tools) is not ${qt_version}: the cross build needs the same version." >&2
    exit 1
fi

mkdir -p "${cache}"
# The scratch folder goes when the script succeeds; after a failure it stays for a look.
scratch=
cleanup() {
    local status=$?
    if [ -n "${scratch}" ]; then
        if [ ${status} -eq 0 ]; then
            rm -rf "${scratch}"
        else
            echo "Failed; the sources and the build are left in ${scratch}" >&2
        fi
    fi
}
trap cleanup EXIT

make_scratch() {
    if [ -z "${scratch}" ]; then
        scratch=$(mktemp -d "${OSTROVE_WINDOWS_SCRATCH:-/var/tmp}/ostrove-windows.XXXXXX")
    fi
}

# apt-get source needs deb-src entries. They are made from the machine's own entries for its
# Debian release, in a sources folder and lists folder of their own, so the machine's apt
# configuration and package lists stay as they are.
apt_source_options=()
prepare_apt_source() {
    [ ${#apt_source_options[@]} -gt 0 ] && return
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME}")
    local apt_dir=${scratch}/apt
    mkdir -p "${apt_dir}/sources.list.d" "${apt_dir}/lists/partial"
    local file
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -e "${file}" ] || continue
        # One deb822 stanza per paragraph: keep those for this release, as deb-src.
        awk -v codename="${codename}" '
            function flush() {
                if (stanza != "" && suites ~ ("(^|[ \t])" codename "([-/ \t]|$)")) print stanza
                stanza = ""; suites = ""
            }
            /^[ \t]*$/ { flush(); next }
            tolower($0) ~ /^types:/ { stanza = stanza "Types: deb-src\n"; next }
            tolower($0) ~ /^suites:/ { suites = substr($0, 8) }
            { stanza = stanza $0 "\n" }
            END { flush() }' "${file}"
    done >"${apt_dir}/sources.list.d/deb-src.sources"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -e "${file}" ] || continue
        awk -v codename="${codename}" '
            $1 == "deb" {
                for (i = 2; i <= NF; i++)
                    if ($i ~ ("^" codename "([-/]|$)")) { $1 = "deb-src"; print; next }
            }' "${file}"
    done >"${apt_dir}/sources.list.d/deb-src.list"
    apt_source_options=(
        -o "Dir::Etc::SourceList=/dev/null"
        -o "Dir::Etc::SourceParts=${apt_dir}/sources.list.d"
        -o "Dir::State::Lists=${apt_dir}/lists"
        -o "Dir::Cache::pkgcache="
        -o "Dir::Cache::srcpkgcache="
        -o "APT::Sandbox::User=root"
    )
    apt-get "${apt_source_options[@]}" update >&2 ||
        echo "apt-get update reported errors; trying the source download anyway" >&2
}

# Prints the folder `apt-get source` unpacked, in the current folder.
fetch_source() {
    local package=$1 version=$2
    if [ -z "${version}" ] ||
        ! apt-get "${apt_source_options[@]}" source --only-source "${package}=${version}" >&2; then
        echo "${package} ${version} is not in the archive; taking its current version" >&2
        apt-get "${apt_source_options[@]}" source --only-source "${package}" >&2
    fi
    find . -mindepth 1 -maxdepth 1 -type d -name "${package}-*" | head -n1
}

restore_qt() {
    if [ -f "${qt_prefix}/.complete" ]; then
        return 0
    fi
    if [ -f "${qt_archive}" ]; then
        echo "Unpacking ${qt_archive}"
        rm -rf "${qt_prefix}"
        mkdir -p "${qt_prefix}"
        tar -C "${qt_prefix}" -xJf "${qt_archive}"
        touch "${qt_prefix}/.complete"
        return 0
    fi
    return 1
}

build_qt() {
    make_scratch
    local started=${SECONDS}
    echo "Building ${qt_name} in ${scratch} (20-45 minutes)"
    prepare_apt_source
    local source
    source=$(cd "${scratch}" && fetch_source qt6-base "${qt_source_version}")
    source=${scratch}/${source#./}
    local upstream
    upstream=$(sed -n 's/.*QT_REPO_MODULE_VERSION "\([0-9.]*\)".*/\1/p' "${source}/.cmake.conf")
    if [ "${upstream}" != "${qt_version}" ]; then
        echo "The qt6-base source is ${upstream}, not ${qt_version}" >&2
        exit 1
    fi

    local patched=${source}/${qt_patch_file}
    if ! grep -qxF "${qt_patch_from}" "${patched}"; then
        echo "${qt_patch_file} no longer has the line to patch; check the Direct2D note" >&2
        exit 1
    fi
    awk -v from="${qt_patch_from}" -v to="${qt_patch_to}" '$0 == from { $0 = to } { print }' \
        "${patched}" >"${patched}.new"
    mv "${patched}.new" "${patched}"
    grep -n 'directwrite3' "${patched}"

    printf '%s' "${toolchain_text}" >"${scratch}/toolchain.cmake"
    cmake -S "${source}" -B "${scratch}/build" "${qt_options[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="${scratch}/toolchain.cmake" \
        -DCMAKE_INSTALL_PREFIX="${qt_prefix}"
    cmake --build "${scratch}/build" --parallel "${jobs}"
    DESTDIR=${scratch}/stage cmake --install "${scratch}/build" >"${scratch}/install.log"
    local staged=${scratch}/stage${qt_prefix}
    # Qt's DLLs import the compiler's runtime DLLs; beside them, one folder runs everything.
    cp "${runtime_dlls[@]}" "${staged}/bin/"

    tar -C "${staged}" -cJf "${qt_archive}.partial" .
    mv "${qt_archive}.partial" "${qt_archive}"
    rm -rf "${qt_prefix}"
    mv "${staged}" "${qt_prefix}"
    touch "${qt_prefix}/.complete"
    echo "Built ${qt_name} in $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
}

sqlite_dir=
build_sqlite() {
    local upstream=${sqlite_source_version%%-*}
    if [ -n "${upstream}" ] && [ -f "${cache}/sqlite-${upstream}-amalgamation/.complete" ]; then
        sqlite_dir=${cache}/sqlite-${upstream}-amalgamation
        return
    fi
    make_scratch
    echo "Making the SQLite amalgamation"
    prepare_apt_source
    local source
    source=$(cd "${scratch}" && fetch_source sqlite3 "${sqlite_source_version}")
    source=${scratch}/${source#./}
    upstream=$(cat "${source}/VERSION")
    sqlite_dir=${cache}/sqlite-${upstream}-amalgamation
    mkdir -p "${scratch}/sqlite-build"
    (cd "${scratch}/sqlite-build" && sh "${source}/configure" --disable-tcl >/dev/null &&
        make sqlite3.c >/dev/null)
    rm -rf "${sqlite_dir}"
    mkdir -p "${sqlite_dir}"
    cp "${scratch}/sqlite-build/sqlite3.c" "${scratch}/sqlite-build/sqlite3.h" \
        "${source}/src/sqlite3ext.h" "${sqlite_dir}/"
    touch "${sqlite_dir}/.complete"
}

build_sqlite
ln -sfn "$(basename "${sqlite_dir}")" "${cache}/sqlite-amalgamation"
if ! restore_qt; then
    build_qt
fi
ln -sfn "${qt_name}" "${cache}/qt-mingw64"

echo "Qt for Windows:     ${qt_prefix} (link: ${cache}/qt-mingw64)"
echo "SQLite for Windows: ${sqlite_dir} (link: ${cache}/sqlite-amalgamation)"
if [ "${cache}" = /var/cache/ostrove-windows ]; then
    echo "Configure with:     cmake --preset windows"
else
    echo "Configure with:     cmake --preset windows -DCMAKE_PREFIX_PATH=${cache}/qt-mingw64"
fi
