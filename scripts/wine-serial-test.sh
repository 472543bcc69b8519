#!/usr/bin/env bash
# Runs a Windows serial test program under wine with COM1 mapped to the line of an echoing peer
# (tests/link/com_echo_peer.py), which the tests steer over loopback TCP: each test asks for a
# fresh pseudo-terminal behind the same link. Wine's mount manager rewrites the dosdevices link
# whenever it starts, so the registry override comes first, then wineserver must end, then the
# link is made.
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

python3 "$here/tests/link/com_echo_peer.py" "$work/line" "$work/control" &
peer=$!
for _ in $(seq 100); do [ -f "$work/control" ] && break; sleep 0.05; done
[ -f "$work/control" ] || { echo "the echoing peer did not start" >&2; exit 1; }

wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$work/line" /f >/dev/null
wineserver -w 2>/dev/null || true
ln -sfn "$work/line" "$WINEPREFIX/dosdevices/com1"
TRACER_TEST_COM=COM1 TRACER_TEST_PEER="127.0.0.1:$(cat "$work/control")" wine "$@"
