#!/usr/bin/env bash
# End-to-end check of the Debian package: build it, install it on this machine, run the installed
# program offscreen as an ordinary user with the simulated tracer on a pseudo-terminal, receive
# one job, find the job file and the settings in that user's XDG folders, then remove the package
# and show that none of its files is left. Needs root (apt-get, useradd).
# Usage: package-check.sh [BUILD_FOLDER]
set -euo pipefail

build=${1:-build-package}
user=tracer-check
cmake -S . -B "$build" $(./scripts/generator.sh "$build") -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DTRACER_BENCH=OFF
cmake --build "$build" -j "$(nproc)" --target tracer-interface omatool tracer-sim desktop_files debian_changelog
rm -f "$build"/tracer-interface_*.deb
(cd "$build" && cpack)
deb=$(realpath "$build"/tracer-interface_*.deb)
lintian --fail-on error "$deb"
desktop-file-validate src/app/shell/resources/tracer-interface.desktop
appstreamcli validate --no-net "$build"/packaging/io.example.TracerInterface.metainfo.xml

apt-get install -y "$deb"
files=$(dpkg -L tracer-interface | while read -r f; do if [ -f "$f" ]; then echo "$f"; fi; done)

id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
rm -rf "$home/.config/tracer-interface" "$home/.local/share/tracer-interface"
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT

# The simulated tracer makes the line, the user's settings name it, the program takes one job.
cat >"$work/run.sh" <<'INNER'
set -euo pipefail
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$(mktemp -d)
fifo=$(mktemp -u); mkfifo "$fifo"
tracer-sim --pty --wait-open 30000 --settle 500 --jobs 1 --job 4242 >"$fifo" &
sim=$!
exec 3<"$fifo"
read -r word line <&3
[ "$word" = PTY ]
mkdir -p "$HOME/.config/tracer-interface"
printf 'TracerCOMPort=%s\r\n' "$line" >"$HOME/.config/tracer-interface/settings.txt"
tracer-interface &
program=$!
wait $sim
for _ in $(seq 100); do
    ls "$HOME/.local/share/tracer-interface/traces/"* >/dev/null 2>&1 && break
    sleep 0.1
done
kill -TERM $program
wait $program || true
INNER
su - "$user" -c "bash $work/run.sh"

ls "$home/.local/share/tracer-interface/traces/"*4242* >/dev/null ||
    { echo "no job file in the user's data folder" >&2; exit 1; }
grep -q -i '^TracerCOMPort=' "$home/.config/tracer-interface/settings.txt" ||
    { echo "no settings in the user's configuration folder" >&2; exit 1; }
[ ! -e /usr/bin/settings.txt ] && [ ! -e /usr/bin/traces ] ||
    { echo "the installed program wrote beside itself" >&2; exit 1; }

dpkg -r tracer-interface
left=$(for f in $files; do if [ -e "$f" ]; then echo "$f"; fi; done)
[ -z "$left" ] || { echo "left after removal: $left" >&2; exit 1; }
echo "package check: OK"
