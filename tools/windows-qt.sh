#!/bin/sh
# Qt 6.4.2 for 64-bit Windows, the modules the logger needs (Core, Gui,
# Widgets and the windows platform), cross-built with mingw-w64 from
# Debian's own qt6-base source, once, into a cache outside the source tree:
#
#   ${XDG_CACHE_HOME:-$HOME/.cache}/vornacq4/qt-6.4.2-mingw-x86_64
#
# Prints that folder's path on stdout when it is ready (everything else goes
# to stderr). With VORN_QT_WINDOWS_ARCHIVE=FILE.tar.xz, a build made earlier
# (by this script, then packed with tar) is checked and unpacked instead.
#
# The source comes from the machine's Debian archive through an apt state of
# the script's own (a sources list, lists and a cache in a scratch folder):
# the machine's apt configuration is never touched. Building takes about an
# hour on two cores; the archive takes seconds.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
QT_VERSION=6.4.2
# Debian's source package of that Qt: the one the archive was built from.
DEBIAN_VERSION=6.4.2+dfsg-10
NAME=qt-$QT_VERSION-mingw-x86_64
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/vornacq4
QT=$CACHE/$NAME
# The one build this script makes: checked when it is unpacked from an archive.
ARCHIVE_SHA256=30bd0de67bc2767f68ec58d7c4d742492f8ba7251dcf44eec3c9c06ee067000d
# Where the machine's apt finds Debian: URI and key of its deb822 sources.
DEBIAN_SOURCES=${VORN_DEBIAN_SOURCES:-/etc/apt/sources.list.d/debian.sources}

say() { echo "windows-qt: $*" >&2; }

# A finished folder has its marker, written last.
ready() { [ -f "$QT/.vornacq4-ready" ]; }

unpack_archive() {
    archive=$1
    say "checking $archive"
    sum=$(sha256sum "$archive" | cut -d' ' -f1)
    if [ "$sum" != "$ARCHIVE_SHA256" ]; then
        say "$archive: sha256 $sum, not the build this script makes ($ARCHIVE_SHA256)"
        exit 1
    fi
    mkdir -p "$CACHE"
    rm -rf "$QT" "$QT.unpacking"
    mkdir "$QT.unpacking"
    tar -xJf "$archive" -C "$QT.unpacking"
    [ -f "$QT.unpacking/$NAME/lib/cmake/Qt6/Qt6Config.cmake" ] || { say "$archive holds no $NAME/"; exit 1; }
    mv "$QT.unpacking/$NAME" "$QT"
    rmdir "$QT.unpacking"
    touch "$QT/.vornacq4-ready"
}

# One field of the first deb822 stanza of the machine's Debian sources.
source_field() {
    sed -n "s/^$1:[[:space:]]*//p" "$DEBIAN_SOURCES" | head -n 1 | cut -d' ' -f1
}

# Debian's qt6-base source, unpacked into $1, with an apt state of our own.
fetch_source() {
    work=$1
    uri=$(source_field URIs)
    key=$(source_field Signed-By)
    [ -n "$uri" ] && [ -n "$key" ] || { say "no URI or Signed-By in $DEBIAN_SOURCES"; exit 1; }
    mkdir -p "$work/apt/lists/partial" "$work/apt/parts" "$work/apt/archives/partial" "$work/src"
    echo "deb-src [signed-by=$key] $uri bookworm main" >"$work/apt/sources.list"
    set -- -o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts="$work/apt/parts" \
           -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache::Archives="$work/apt/archives" \
           -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
    say "fetching Debian's qt6-base source ($uri, about 46 MB)"
    apt-get "$@" update >&2
    (cd "$work/src" && apt-get "$@" source --download-only "qt6-base=$DEBIAN_VERSION" >&2)
    tar -xJf "$work"/src/qt6-base_"$QT_VERSION"*.orig.tar.xz -C "$work/src"
    patch -d "$work/src/qtbase-everywhere-src-$QT_VERSION" -p1 <"$here/packaging/windows/qtbase-$QT_VERSION-no-opengl.patch" >&2
}

# Configures the source in $1 to install into $2 (about 30 s).
configure_qt() {
    work=$1 prefix=$2
    say "configuring"
    cmake -G Ninja -S "$work/src/qtbase-everywhere-src-$QT_VERSION" -B "$work/build" \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DCMAKE_CROSSCOMPILING_EMULATOR= \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_testlib=OFF \
        -DFEATURE_vulkan=OFF -DFEATURE_system_zlib=OFF -DFEATURE_icu=OFF -DFEATURE_tabletevent=OFF >&2
}

build_from_source() {
    work=$CACHE/qt-build
    rm -rf "$work" "$QT"
    mkdir -p "$work"
    fetch_source "$work"
    configure_qt "$work" "$QT"
    [ "${VORN_QT_CONFIGURE_ONLY:-}" = 1 ] && { say "configured in $work/build; not built"; exit 0; }
    say "building (about 1,100 steps: an hour or more on two cores)"
    cmake --build "$work/build" -j "${JOBS:-$(nproc)}" >&2
    cmake --install "$work/build" >&2
    rm -rf "$QT/doc" "$work"
    touch "$QT/.vornacq4-ready"
}

if ! ready; then
    if [ -n "${VORN_QT_WINDOWS_ARCHIVE:-}" ]; then
        unpack_archive "$VORN_QT_WINDOWS_ARCHIVE"
    else
        say "no Qt for Windows in $QT: building it from Debian's source, once"
        build_from_source
    fi
fi
echo "$QT"
