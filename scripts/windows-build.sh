#!/usr/bin/env bash
# Cross-builds the program for Windows x86-64 with MinGW-w64 against a prebuilt Qt for MinGW.
# Usage: windows-build.sh BUILD_DIR BUILD_TYPE [cmake options...]
# The Qt prefix is unpacked into BUILD_DIR/qt6-mingw64 from QT_MINGW_TARBALL, by default the
# qt6-mingw64.tar.xz in the shared folder beside this clone (../shared/qt6-mingw64). It is unpacked
# again when the tarball is newer than the unpacked copy, so a new Qt reaches an existing build
# folder. Someone building on Windows points CMake at the Qt of their own installation instead.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?build folder}
type=${2:?build type}
shift 2

./scripts/install-deps.sh g++-mingw-w64-x86-64-posix qt6-base-dev-tools googletest wine wine64 \
    librsvg2-bin nsis zip xvfb xauth xdotool imagemagick

tarball=${QT_MINGW_TARBALL:-../shared/qt6-mingw64/qt6-mingw64.tar.xz}
qt=$build/qt6-mingw64
stamp=$build/qt6-mingw64.stamp # records the tarball the unpacked copy came from, and when
# The stamp carries the tarball's own time: a tarball of any other time, newer or an older one put
# back, is another Qt.
if [ ! -f "$tarball" ]; then
    if [ -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
        echo "No Qt tarball at $tarball: building with the Qt unpacked before" >&2
    else
        echo "No Qt for MinGW found at $tarball: set QT_MINGW_TARBALL to qt6-mingw64.tar.xz" >&2
        exit 1
    fi
elif [ ! -f "$stamp" ] || [ ! -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ] || [ "$tarball" -nt "$stamp" ] ||
    [ "$tarball" -ot "$stamp" ] || [ "$(cat "$stamp")" != "$(realpath "$tarball")" ]; then
    echo "Unpacking $tarball into $build"
    mkdir -p "$build"
    # A failed or interrupted unpack leaves no half a Qt that a later run would take as whole.
    trap 'rm -rf "$qt" "$stamp" "$build/qt6-mingw64.new"' EXIT
    rm -rf "$qt" "$stamp" "$build/qt6-mingw64.new"
    mkdir "$build/qt6-mingw64.new"
    tar -xJf "$tarball" -C "$build/qt6-mingw64.new"
    mv "$build/qt6-mingw64.new/qt6-mingw64" "$qt"
    rmdir "$build/qt6-mingw64.new"
    realpath "$tarball" >"$stamp"
    touch -r "$tarball" "$stamp"
    trap - EXIT
    # The build's cached Qt paths are still right; what changed is the files behind them.
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" $(./scripts/generator.sh "$build") \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/$build/qt6-mingw64/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64-posix.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DCMAKE_BUILD_TYPE="$type" -DTRACER_BENCH=OFF \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine "${launcher[@]}" "$@"
cmake --build "$build" -j "$(nproc)"
