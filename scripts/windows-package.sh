#!/usr/bin/env bash
# Gathers the cross-built Windows program with the Qt and MinGW run-time files it needs, and packs
# TracerInterface-<version>-win64.zip and the installer TracerInterface-<version>-setup.exe.
# The licence texts go with them: the program's, and those of Qt (LGPL) and of the MinGW run-time
# libraries, taken from this machine's Debian packages of the same sources.
# Usage: windows-package.sh BUILD_DIR   (after windows-build.sh BUILD_DIR Release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?build folder}
qt=$build/qt6-mingw64
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=TracerInterface-$version
dist=$build/dist/TracerInterface

# A failed run leaves no half-made folder or package behind.
made=("$build/dist" "$build/$name-win64.zip" "$build/$name-setup.exe")
trap 'status=$?; [ $status -eq 0 ] || rm -rf "${made[@]}"; exit $status' EXIT

rm -rf "$build/dist"
mkdir -p "$dist/platforms" "$dist/styles" "$dist/licences"
cp "$build/bin/tracer-interface.exe" "$build/tools/omatool/omatool.exe" \
   "$build/tools/tracer-sim/tracer-sim.exe" "$build/bin/tracer-interface.html" "$dist/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network Qt6PrintSupport libstdc++-6 libgcc_s_seh-1 libwinpthread-1; do
    cp "$qt/bin/$dll.dll" "$dist/"
done
cp "$qt/plugins/platforms/qwindows.dll" "$dist/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$dist/styles/"
x86_64-w64-mingw32-strip "$dist"/*.exe

# Licence texts, with Windows line ends for the system's own text viewer.
licence() { sed 's/$/\r/' "$1" >"$dist/licences/$2"; }
licence packaging/copyright tracer-interface-copyright.txt
licence /usr/share/common-licenses/GPL-3 GPL-3.txt
licence /usr/share/common-licenses/LGPL-3 LGPL-3.txt
licence /usr/share/doc/libqt6core6/copyright Qt-copyright.txt
licence /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright MinGW-GCC-runtime-copyright.txt
licence /usr/share/doc/mingw-w64-x86-64-dev/copyright MinGW-w64-winpthreads-copyright.txt

(cd "$build/dist" && rm -f "../$name-win64.zip" && zip -qr "../$name-win64.zip" TracerInterface)

# The uninstaller removes exactly the files the installer wrote.
filelist=$build/dist/uninstall-files.nsh
: > "$filelist"
(cd "$dist" && find . -type f | sort) | while read -r f; do
    f=${f#./}
    echo "Delete \"\$INSTDIR\\${f//\//\\}\"" >> "$filelist"
done
(cd "$dist" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
    d=${d#./}
    echo "RMDir \"\$INSTDIR\\${d//\//\\}\"" >> "$filelist"
done
size_kb=$(du -sk "$dist" | cut -f1)
makensis -V2 -DVERSION="$version" -DSOURCE="$(realpath "$dist")" -DFILELIST="$(realpath "$filelist")" \
    -DLICENCE="$(realpath "$dist/licences/tracer-interface-copyright.txt")" -DSIZE_KB="$size_kb" \
    -DOUTFILE="$(realpath "$build")/$name-setup.exe" packaging/windows/installer.nsi
ls -l "$build/$name-win64.zip" "$build/$name-setup.exe"
