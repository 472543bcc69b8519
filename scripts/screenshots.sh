#!/usr/bin/env bash
# Screenshots for the README, taken of real windows on a virtual X display: the main window with a
# job from the simulated tracer, the settings dialog, the communication log window and the main
# window's true-scale view; and a page of that job's sheet.
# Usage: screenshots.sh BUILD_FOLDER OUTPUT_FOLDER
set -euo pipefail

build=${1:?usage: screenshots.sh BUILD_FOLDER OUTPUT_FOLDER}
out=${2:?usage: screenshots.sh BUILD_FOLDER OUTPUT_FOLDER}
program=$(realpath "$build/bin/tracer-interface")
sim=$(realpath "$build/tools/tracer-sim/tracer-sim")
sheet_image=$(realpath "$build/tests/export/job_sheet_image")
mkdir -p "$out"
out=$(realpath "$out")

work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Waits until a window with exactly this title is mapped; prints its id.
window() {
    local id
    for _ in $(seq 100); do
        # The largest visible window of that title (the splash may share it while it shows).
        id=$(for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
            eval "$(xdotool getwindowgeometry --shell "$w")"
            echo "$((WIDTH * HEIGHT)) $w"
        done | sort -n | tail -1 | cut -d' ' -f2)
        [ -n "$id" ] && { echo "$id"; return; }
        sleep 0.1
    done
    echo "no window '$1'" >&2
    return 1
}

# One job, a rounded rectangle in format 3, as the tracer would send it.
mkdir -p "$work/run" && chmod 700 "$work/run"
mkfifo "$work/sim-out"
"$sim" --pty --wait-open 20000 --settle 300 --jobs 2 --delay 600000 --job 40517 --shape rect --box-a 54 --box-b 36 \
    --dbl 17.5 --format 3 --ftyp 2 --etyp 1 >"$work/sim-out" 2>&1 &
pids+=($!)
exec 3<"$work/sim-out"
read -r _ line <&3
printf 'TracerCOMPort=%s\r\nBaudRate=9600\r\nAllowMod=Y\r\nBackColor=16776960\r\nTraceColor=16777215\r\nDontAskCloseProgram=Y\r\n' \
    "$line" >"$work/settings.txt"

XDG_RUNTIME_DIR=$work/run "$program" --folder "$work" >/dev/null 2>&1 &
pids+=($!)
main=$(window "Tracer Interface")
for _ in $(seq 100); do [ -f "$work/traces/40517.txt" ] && break; sleep 0.1; done
# The job sheet of that job as a printed page looks (A4, painted offscreen at 72 dpi).
"$sheet_image" "$work/traces/40517.txt" "$out/job-sheet.png" 72
sleep 3.5 # the splash hides itself after three seconds
import -window "$main" "$out/main-window.png"

# The true-scale view by its accelerator, the window moved to the corner and widened so that both
# eyes and the DBL fit at this display's resolution; the fitted view again afterwards.
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
xdotool windowmove --sync "$main" 0 0 2>/dev/null || xdotool windowmove "$main" 0 0
xdotool windowsize --sync "$main" 920 420 2>/dev/null || xdotool windowsize "$main" 920 420
sleep 0.3
xdotool key --window "$main" alt+t
sleep 0.5
import -window "$main" "$out/true-scale.png"
xdotool key --window "$main" alt+t

# The settings dialog: "&Settings" by its accelerator.
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
xdotool key --window "$main" alt+s
settings=$(window "Settings")
sleep 1 # the port list is filled by the probe
import -window "$settings" "$out/settings-dialog.png"

# "View Log" closes the dialog, reopens the port and opens the communication log.
geometry=$(xdotool getwindowgeometry --shell "$settings")
eval "$geometry"
xdotool mousemove --sync $((X + ${VIEW_LOG_X:-50})) $((Y + ${VIEW_LOG_Y:-343})) click 1
log=$(window "Communication Log")
sleep 0.5
import -window "$log" "$out/log-window.png"

echo "Screenshots in $out: main-window.png settings-dialog.png log-window.png job-sheet.png true-scale.png"
