#!/bin/sh
# Prints the CMake generator option for a new build folder: Ninja when it is there.
# An existing build folder keeps the generator it was made with.
[ -f "$1/CMakeCache.txt" ] && exit 0
command -v ninja >/dev/null 2>&1 && echo "-G Ninja"
exit 0
