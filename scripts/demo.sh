#!/usr/bin/env bash
# A demonstration without a tracer: the simulated tracer on a pseudo-terminal pair, and the program
# in a folder of its own (settings.txt naming that line, its traces folder), so the operator's real
# settings are never touched. A job arrives every few seconds, the four trace encodings in turn.
# Usage: demo.sh BUILD_FOLDER [seconds between jobs]
set -euo pipefail

build=${1:?usage: demo.sh BUILD_FOLDER [seconds between jobs]}
interval=${2:-4}
program=$build/bin/tracer-interface
sim=$build/tools/tracer-sim/tracer-sim
demo=$(realpath -m "$build/demo")

mkdir -p "$demo/run"
chmod 700 "$demo/run"
fifo=$(mktemp -u "$demo/sim-out.XXXXXX")
mkfifo "$fifo"

# The simulated tracer creates the line and waits (up to a minute) for the program to open it.
"$sim" --pty --wait-open 60000 --settle 500 --jobs 100000 --delay $((interval * 1000)) \
    --format cycle --job 20001 --verbose >"$fifo" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true; rm -f "$fifo" "$demo/settings.txt.new"' EXIT

exec 3<"$fifo"
read -r word line <&3
[ "$word" = PTY ] || { echo "tracer-sim did not announce its line" >&2; exit 1; }

# Keep whatever the demo folder's settings already hold (colours, AllowMod), but name this line.
settings=$demo/settings.txt
touch "$settings"
grep -v -i '^TracerCOMPort=' "$settings" | tr -d '\r' >"$settings.new" || true
{
    printf 'TracerCOMPort=%s\r\n' "$line"
    grep -q -i '^AllowMod=' "$settings.new" || printf 'AllowMod=Y\r\n'
    sed 's/$/\r/' "$settings.new"
} >"$settings"
rm -f "$settings.new"

echo "Simulated tracer on $line; job files go to $demo/traces. Close the program to end the demonstration."
XDG_RUNTIME_DIR=$demo/run "$program" --folder "$demo"
