#!/usr/bin/env bash
# Runs a Windows serial test program under wine against a pseudo-terminal mapped as COM1, with an
# echoing peer on the other end (tests/link/com_echo_peer.py). Wine's mount manager rewrites the
# dosdevices link whenever it starts, so the registry override comes first, then wineserver must
# end, then the link is made.
# Usage: wine-serial-test.sh TEST.exe [gtest options...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:?a WINEPREFIX for the test}"
export WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d)
peer=
cleanup() {
    [ -n "$peer" ] && kill "$peer" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

python3 "$here/tests/link/com_echo_peer.py" "$work/pts" &
peer=$!
for _ in $(seq 100); do [ -f "$work/pts" ] && break; sleep 0.05; done
pts=$(cat "$work/pts")

wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pts" /f >/dev/null
wineserver -w 2>/dev/null || true
ln -sfn "$pts" "$WINEPREFIX/dosdevices/com1"
TRACER_TEST_COM=COM1 wine "$@"
