#!/usr/bin/env bash
# Cross-builds the program for Windows x86-64 with MinGW-w64 against a prebuilt Qt for MinGW.
# Usage: windows-build.sh BUILD_DIR BUILD_TYPE [cmake options...]
# The Qt prefix is unpacked into BUILD_DIR/qt6-mingw64 from QT_MINGW_TARBALL (by default the
# qt6-mingw64.tar.xz of the shared folder beside this clone); someone building on Windows points
# CMake at the Qt of their own installation instead.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?build folder}
type=${2:?build type}
shift 2

./scripts/install-deps.sh g++-mingw-w64-x86-64-posix qt6-base-dev-tools googletest wine wine64 \
    librsvg2-bin nsis zip xvfb xauth xdotool imagemagick

if [ ! -f "$build/qt6-mingw64/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    tarball=${QT_MINGW_TARBALL:-}
    if [ -z "$tarball" ]; then
        for candidate in ../shared/qt6-mingw64/qt6-mingw64.tar.xz /work/shared/qt6-mingw64/qt6-mingw64.tar.xz; do
            if [ -f "$candidate" ]; then tarball=$candidate; break; fi
        done
    fi
    if [ -z "$tarball" ] || [ ! -f "$tarball" ]; then
        echo "No Qt for MinGW found: set QT_MINGW_TARBALL to qt6-mingw64.tar.xz" >&2
        exit 1
    fi
    mkdir -p "$build"
    tar -xJf "$tarball" -C "$build"
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
