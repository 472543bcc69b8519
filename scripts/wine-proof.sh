#!/usr/bin/env bash
# The Windows program proven under wine, in Xvfb: the installer runs silently, the installed
# program starts, tracer-sim on the Linux side sends four jobs (formats 1, 2, 3 and 4) over a
# pseudo-terminal mapped as COM1, and the job files written under wine must be byte for byte those
# the Linux build writes for the same jobs. The Windows user is named with letters beyond ASCII,
# and the program keeps settings.txt and the traces in that user's local folder, as installed.
# A killed program must not keep the next start from running, a start beside a running one
# hands over and says so, and one refused from the Start menu says so in a window. A screenshot of the program under wine goes to doc/windows-wine.png;
# the uninstaller must leave nothing of the program folder.
# Usage: wine-proof.sh WINDOWS_BUILD LINUX_BUILD   (after make windows and make build)
set -euo pipefail
cd "$(dirname "$0")/.."
win=$(realpath "${1:?Windows build folder}")
lin=$(realpath "${2:?Linux build folder}")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
setup=$win/TracerInterface-$version-setup.exe
sim=$lin/tools/tracer-sim/tracer-sim
jobs=(--jobs 4 --job 501 --format cycle --wait-open 60000 --settle 1500 --linger 5000)

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
step() { echo "== $*"; }
fail() { echo "wine proof: $*" >&2; exit 1; }

# Starts tracer-sim on a new pseudo-terminal; sets sim_pid and sim_pty.
start_sim() {
    local out=$work/sim-$1
    mkfifo "$out.fifo"
    "$sim" --pty "${jobs[@]}" >"$out.fifo" 2>"$out.err" &
    sim_pid=$!
    pids+=("$sim_pid")
    exec 3<"$out.fifo"
    local word
    read -r word sim_pty <&3
    [ "$word" = PTY ] || fail "tracer-sim gave no pseudo-terminal"
}

wait_sim() {
    wait "$sim_pid" || fail "tracer-sim failed on $1: $(cat "$work/sim-$1.err")"
    exec 3<&-
}

step "the Linux build takes the jobs"
mkdir -p "$work/linux"
start_sim linux
printf 'TracerCOMPort=%s\r\n' "$sim_pty" >"$work/linux/settings.txt"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work "$lin/bin/tracer-interface" --folder "$work/linux" &
program=$!
pids+=("$program")
wait_sim linux
kill -TERM "$program"
wait "$program" || true

step "a new wine prefix and an X server"
# Wine names the Windows user after USER.
export USER='Jörg Ærø'
wineboot -i >/dev/null 2>&1 || true
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
pids+=("$!")
export DISPLAY=$display
sleep 1

step "the installer, silently"
wine "$setup" /S
installed=$WINEPREFIX/drive_c/Program\ Files/TracerInterface
[ -f "$installed/tracer-interface.exe" ] || fail "the installer put no program in Program Files"
# A GUI program (no console window beside it) with its icon and version block.
# (Read whole first: grep -q ending early would fail the pipe under pipefail.)
headers=$(x86_64-w64-mingw32-objdump -p "$installed/tracer-interface.exe")
grep -q 'Subsystem.*Windows GUI' <<<"$headers" || fail "the program is not built for the Windows subsystem"
texts=$(strings -el "$installed/tracer-interface.exe")
grep -qx "$version" <<<"$texts" || fail "the program has no version block"
grep -q IHDR "$installed/tracer-interface.exe" || fail "the program has no icon"
[ "$(wine "$installed/tracer-interface.exe" --version | tr -d '\r')" = "tracer-interface $version" ] ||
    fail "--version does not reach the caller"
for text in tracer-interface-copyright GPL-3 LGPL-3 Qt-copyright MinGW-GCC-runtime-copyright; do
    [ -s "$installed/licences/$text.txt" ] || fail "the installer shipped no $text.txt"
done
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TracerInterface'
for value in Publisher EstimatedSize; do
    wine reg query "$entry" /v "$value" >/dev/null 2>&1 || fail "the uninstall entry has no $value"
done

step "the installed program takes the jobs over COM1"
start_sim wine
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$sim_pty" /f >/dev/null
wineserver -w 2>/dev/null || true
ln -sfn "$sim_pty" "$WINEPREFIX/dosdevices/com1"
proof=$WINEPREFIX/drive_c/users/$USER/AppData/Local/tracer-interface
proof_shown="C:\\users\\$USER\\AppData\\Local\\tracer-interface"
mkdir -p "$proof"
printf 'TracerCOMPort=COM1\r\n' >"$proof/settings.txt"
# Wine's default font engine leaves the text of line edits undrawn (labels draw); FreeType draws
# them, so the picture shows the job panel's values as Windows would.
start_program() {
    wine "$installed/tracer-interface.exe" -platform windows:fontengine=freetype >>"$work/wine-program.log" 2>&1 &
    program=$!
    pids+=("$program")
    disown "$program" # ended with the wine server below, without a word from the shell
}
start_program
# The picture while the line is still open (tracer-sim lingers after the last reply).
for _ in $(seq 300); do [ "$(ls "$proof/traces" 2>/dev/null | wc -l)" -ge 4 ] && break; sleep 0.1; done
sleep 2
# Without a window manager wine does not redraw what the splash uncovered: a resize of the main
# window makes it draw all of it again.
main_window=
if command -v xdotool >/dev/null 2>&1; then
    for window in $(xdotool search --onlyvisible --name '^Tracer Interface$' 2>/dev/null); do
        WIDTH=0 HEIGHT=0
        eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null || true)"
        if [ "$WIDTH" -gt 400 ]; then
            main_window=$window
            xdotool windowsize "$window" $((WIDTH + 1)) "$HEIGHT" || true
            sleep 0.5
            xdotool windowsize "$window" "$WIDTH" "$HEIGHT" || true
        fi
    done
    sleep 1
fi
# The main window whole, whatever its size; the screen's middle when it cannot be found.
if command -v import >/dev/null 2>&1; then
    if [ -n "$main_window" ]; then
        import -window "$main_window" doc/windows-wine.png 2>/dev/null
    else
        import -window root -crop 800x420+240+250 +repage doc/windows-wine.png 2>/dev/null
    fi && echo "screenshot: doc/windows-wine.png"
fi
wait_sim wine

step "a killed program does not keep the next start from running"
main_windows() { xdotool search --onlyvisible --name '^Tracer Interface$' 2>/dev/null | wc -l; }
kill -KILL "$program"
for _ in $(seq 100); do [ "$(main_windows)" -eq 0 ] && break; sleep 0.1; done
start_program
for _ in $(seq 300); do [ "$(main_windows)" -ge 1 ] && break; sleep 0.1; done
[ "$(main_windows)" -ge 1 ] || fail "no window after a start that follows a killed program: $(cat "$work/wine-program.log")"
said=$(timeout 60 wine "$installed/tracer-interface.exe" 2>&1 >/dev/null) || fail "a second start failed: $said"
said=$(tr -d '\r' <<<"$said")
[ "$said" = "tracer-interface: already running for $proof_shown; brought it to the front." ] ||
    fail "a second start said: $said"
kill -0 "$program" 2>/dev/null || fail "the program ended when a second start handed over"

step "a refused start from the Start menu says so in a window"
# A message box: a window of the program's title that is wide and low (the main window is tall,
# the splash narrow).
message_boxes() {
    local window count=0
    for window in $(xdotool search --onlyvisible --name '^Tracer Interface$' 2>/dev/null); do
        WIDTH=0 HEIGHT=0
        eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null || true)"
        [ "$WIDTH" -gt 300 ] && [ "$HEIGHT" -lt 200 ] && count=$((count + 1))
    done
    echo "$count"
}
# A program that holds the folder but cannot answer; start.exe starts the next one as a shortcut
# does, without a console or a redirection.
kill -STOP "$program"
wine start /unix "$installed/tracer-interface.exe"
for _ in $(seq 300); do [ "$(message_boxes)" -ge 1 ] && break; sleep 0.1; done
[ "$(message_boxes)" -ge 1 ] || fail "a start refused outside a terminal showed no message"
kill -CONT "$program"
wineserver -k 2>/dev/null || true

step "the job files"
ls "$work/linux/traces"
diff -r "$work/linux/traces" "$proof/traces" || fail "the job files differ between Linux and wine"
[ "$(ls "$proof/traces" | wc -l)" -eq 4 ] || fail "expected four job files"

step "the uninstaller"
wine "$installed/uninstall.exe" /S
for _ in $(seq 100); do [ -e "$installed" ] || break; sleep 0.2; done
[ ! -e "$installed" ] || fail "left after uninstalling: $(find "$installed")"
echo "wine proof: OK"
