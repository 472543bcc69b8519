#!/bin/sh
# Packs square PNG pictures into one Windows icon file (.ico), each picture stored as PNG, which
# Windows reads since Vista. Usage: png-to-ico.sh OUT.ico SIZE:FILE.png...
set -eu
out=${1:?output .ico}
shift
tmp=$out.tmp
trap 'rm -f "$tmp"' EXIT

# A little-endian number of the given byte count, as raw bytes.
le() {
    value=$1 count=$2
    while [ "$count" -gt 0 ]; do
        printf "\\$(printf '%03o' $((value % 256)))"
        value=$((value / 256)) count=$((count - 1))
    done
}

le 0 2 >"$tmp"
le 1 2 >>"$tmp"
le $# 2 >>"$tmp"
offset=$((6 + 16 * $#))
for entry in "$@"; do
    size=${entry%%:*} file=${entry#*:}
    bytes=$(wc -c <"$file")
    le $((size % 256)) 1 >>"$tmp" # 256 is written as 0
    le $((size % 256)) 1 >>"$tmp"
    le 0 2 >>"$tmp"               # no palette, reserved
    le 1 2 >>"$tmp"               # planes
    le 32 2 >>"$tmp"              # bits per pixel
    le "$bytes" 4 >>"$tmp"
    le "$offset" 4 >>"$tmp"
    offset=$((offset + bytes))
done
for entry in "$@"; do
    cat "${entry#*:}" >>"$tmp"
done
mv "$tmp" "$out"
