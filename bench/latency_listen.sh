#!/usr/bin/env bash
# Reply latency of `omatool listen` on a pseudo-terminal, measured by tracer-sim on the other end
# (from the write of each packet's final GS to the first reply byte being readable).
#   bench/latency_listen.sh [BUILD_DIR] [JOBS]
set -euo pipefail
build=${1:-build}
jobs=${2:-2000}
coproc SIM { exec "$build/tools/tracer-sim/tracer-sim" --pty --latency --quiet --jobs "$jobs" --format 1 --points 400; }
sim_pid=$SIM_PID
read -r _ path <&"${SIM[0]}" # "PTY /dev/pts/N"
"$build/tools/omatool/omatool" listen --device "$path" >/dev/null 2>&1 &
listen=$!
sim_out=${SIM[0]}
cat <&"$sim_out"
rc=0
wait "$sim_pid" || rc=$?
kill -INT "$listen" 2>/dev/null || true
wait "$listen" || true
exit "$rc"
