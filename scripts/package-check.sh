#!/usr/bin/env bash
# End-to-end check of the Debian package: build it (twice packed, the same bytes), check it with
# lintian, hardening-check, desktop-file-validate and appstreamcli, install it on this machine,
# check that every program and file states the version the build was given, run the installed
# program offscreen as an ordinary user outside the group dialout with the simulated tracer on a
# pseudo-terminal, receive one job, find the job file and the settings in that user's XDG folders,
# show that a line of the group dialout is refused to that user with the reason, then remove the
# package and show that none of its files is left. Whatever happens, the user, its processes and
# the temporary files go at the end. Needs root (apt-get, useradd).
# Usage: package-check.sh [BUILD_FOLDER]   (VERSION=x.y.z: the version to build the package with)
set -euo pipefail

build=${1:-build-package}
user=tracer-check
version=${VERSION:-$(sed -n 's/^set(TRACER_VERSION \([^ ]*\) CACHE.*/\1/p' CMakeLists.txt)}
# File times and the release's date from the commit built, so that the package is reproducible.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

work=$(mktemp -d)
chmod 755 "$work"
installed=no
sim=
cleanup() {
    status=$?
    # The line of the dialout test is this script's own process, not the user's.
    if [ -n "$sim" ]; then
        kill "$sim" 2>/dev/null || true
    fi
    # Only this check runs anything as its own user.
    if id "$user" >/dev/null 2>&1; then
        pkill -KILL -u "$user" 2>/dev/null || true
        userdel --remove "$user" 2>/dev/null || true
    fi
    if [ "$installed" = yes ]; then
        dpkg -r tracer-interface >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
    [ $status -eq 0 ] || echo "package check: FAILED" >&2
}
trap cleanup EXIT

fail() {
    echo "$*" >&2
    exit 1
}

# Under pipefail a reader that stops early (grep -q, head) can leave its writer a closed pipe, and
# the writer's SIGPIPE fails the check now and then: readers here take the whole stream.
first_line() {
    zcat "$1" | sed -n 1p
}
# Whether the text holds the words; the text is a string, not a pipe.
holds() {
    grep -qF -- "$2" <<<"$1"
}

cmake -S . -B "$build" $(./scripts/generator.sh "$build") -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DTRACER_BENCH=OFF -DTRACER_VERSION="$version"
cmake --build "$build" -j "$(nproc)" --target tracer-interface omatool tracer-sim desktop_files debian_changelog
rm -f "$build"/tracer-interface_*.deb
(cd "$build" && cpack)
deb=$(realpath "$build"/tracer-interface_"$version"_*.deb)
# Packed again from the same build: the same bytes.
cp "$deb" "$work/first.deb"
(cd "$build" && cpack >/dev/null)
cmp "$deb" "$work/first.deb" || fail "two packings of the same build differ"

lintian --pedantic --fail-on error,warning,pedantic "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'fonts-liberation2' <<<"$depends" || fail "the package does not depend on fonts-liberation2"
metainfo="$build"/packaging/org.example.tracer_interface.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo"
# "without notes": a pedantic hint is a finding too.
notes=$(appstreamcli validate --no-net --pedantic "$metainfo" || true)
if grep -q '^[IPW]:' <<<"$notes"; then
    fail "appstreamcli has notes on the metainfo"
fi
# The validator does not ask for a homepage; software centres link to it.
grep -q '<url type="homepage">https://' "$metainfo" || fail "the metainfo has no homepage"

# An install that stops half-way leaves the package behind all the same.
installed=yes
apt-get install -y "$deb"
files=$(dpkg -L tracer-interface | while read -r f; do if [ -f "$f" ]; then echo "$f"; fi; done)

desktop-file-validate /usr/share/applications/tracer-interface.desktop
grep -q '^Keywords=' /usr/share/applications/tracer-interface.desktop || fail "the desktop entry has no Keywords"
# The distribution's hardening. Control-flow protection is left out: Debian 12's own start files
# (Scrt1.o, crti.o) lack it, so no program linked there can carry it.
hardening-check --nocfprotection /usr/bin/tracer-interface /usr/bin/omatool /usr/bin/tracer-sim
[ "$(fc-match -f '%{family}' Arial)" = "Liberation Sans" ] || fail "Arial has no metric-compatible face"

# One version everywhere, the one the build was given.
for program in tracer-interface omatool tracer-sim; do
    [ "$(env -u DISPLAY QT_QPA_PLATFORM=offscreen "$program" --version)" = "$program $version" ] ||
        fail "$program --version does not say $version"
done
holds "$(first_line /usr/share/doc/tracer-interface/changelog.gz)" "tracer-interface ($version)" ||
    fail "the changelog does not start with $version"
# The release's day is the one its changelog entry is signed with (for a new version, the build's).
signed=$(zcat /usr/share/doc/tracer-interface/changelog.gz | sed -n 's/^ -- .*>  //p')
release_date=$(date -u -d "${signed%%$'\n'*}" +%Y-%m-%d)
grep -qF "<release version=\"$version\" date=\"$release_date\"/>" \
    /usr/share/metainfo/org.example.tracer_interface.metainfo.xml || fail "the metainfo's release is not $version of $release_date"
for page in tracer-interface omatool tracer-sim; do
    holds "$(first_line "/usr/share/man/man1/$page.1.gz")" "\"$release_date\" \"tracer-interface $version\"" ||
        fail "the man page $page does not carry $version of $release_date"
done
[ -f /usr/share/tracer-interface/help/tracer-interface.html ] && [ -f /usr/share/tracer-interface/help/main-window.png ] ||
    fail "the guide is not installed outside the documentation folder"

if id "$user" >/dev/null 2>&1; then
    pkill -KILL -u "$user" 2>/dev/null || true
    userdel --remove "$user" 2>/dev/null || true
fi
useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
groups=$(id -nG "$user")
! grep -qw dialout <<<"$groups" || fail "the check user must not be in dialout"

# The simulated tracer makes the line, the user's settings name it, the program takes one job.
cat >"$work/run.sh" <<'INNER'
set -euo pipefail
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$(mktemp -d)
fifo=$(mktemp -u); mkfifo "$fifo"
sim= program=
trap 'kill $program $sim 2>/dev/null || true; rm -f "$fifo"' EXIT
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
sim=
for _ in $(seq 100); do
    ls "$HOME/.local/share/tracer-interface/traces/"* >/dev/null 2>&1 && break
    sleep 0.1
done
kill -TERM $program
wait $program || true
program=
INNER
su - "$user" -c "bash $work/run.sh"

ls "$home/.local/share/tracer-interface/traces/"*4242* >/dev/null ||
    fail "no job file in the user's data folder"
grep -q -i '^TracerCOMPort=' "$home/.config/tracer-interface/settings.txt" ||
    fail "no settings in the user's configuration folder"
[ ! -e /usr/bin/settings.txt ] && [ ! -e /usr/bin/traces ] ||
    fail "the installed program wrote beside itself"

# A line of the group dialout (root:dialout 660, as serial devices are) and a user outside it: the
# open is refused with what to do about it.
exec 4< <(tracer-sim --pty --wait-open 20000 2>/dev/null)
sim=$!
read -r word line <&4
[ "$word" = PTY ] || fail "tracer-sim made no line"
chgrp dialout "$line"
chmod 660 "$line"
refused=$(su - "$user" -c "omatool listen --device $line" 2>&1 || true)
kill "$sim" 2>/dev/null || true
sim=
holds "$refused" "no permission: join the group dialout, then log in again" ||
    fail "a user outside dialout is not told why the line does not open: $refused"

dpkg -r tracer-interface
installed=no
left=$(for f in $files; do if [ -e "$f" ]; then echo "$f"; fi; done)
[ -z "$left" ] || fail "left after removal: $left"
echo "package check: OK"
