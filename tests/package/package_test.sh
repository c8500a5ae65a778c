#!/usr/bin/env bash
# The Debian package as a user gets it:
#   package_test.sh BUILD_DIR
# builds it, checks it with desktop-file-validate, appstreamcli and lintian,
# unpacks it into a read-only scratch root and runs its programs there as an
# ordinary user with an empty home; as root it also installs and removes it.
set -euo pipefail

build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/palisor-package.XXXXXX)
chmod 755 "$work"
root=$work/root
children=()
installed_here=

cleanup() {
  for pid in "${children[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ -n "$installed_here" ]; then
    dpkg --purge palisor >/dev/null 2>&1 || true
  fi
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# ---- the package and its checks -------------------------------------------

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log" >&2; fail "cpack could not build the package"; }
deb=$(ls "$work"/out/palisor_*.deb)

dpkg-deb -x "$deb" "$root"
app_id=example.palisor.Palisor
desktop=$root/usr/share/applications/$app_id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
# The entry starts a program of the package and names an icon it ships.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ -x "$root/usr/bin/${exec_line%% *}" ] || fail "Exec=$exec_line is not a program of the package"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in scalable/apps/$icon.svg 48x48/apps/$icon.png; do
  [ -s "$root/usr/share/icons/hicolor/$size" ] || fail "icon $size is missing"
done
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" \
  || fail "appstreamcli rejects the metadata"
# Warnings and notes are listed (the README says which ones are accepted);
# an error fails.
lintian --fail-on error "$deb" >"$work/lintian.out" 2>&1 || { cat "$work/lintian.out"; fail "lintian reports errors"; }
grep -v '^running with root privileges' "$work/lintian.out" || true

for program in palisor palisor-rcon palisor-sim; do
  [ -x "$root/usr/bin/$program" ] || fail "$program is not in /usr/bin"
done
for program in "$root"/usr/bin/*; do
  [ -s "$root/usr/share/man/man1/${program##*/}.1.gz" ] || fail "no manual page for ${program##*/}"
  grep -qF "<binary>${program##*/}</binary>" "$root/usr/share/metainfo/$app_id.metainfo.xml" \
    || fail "the metadata does not provide ${program##*/}"
done
[ -s "$root/usr/share/palisor/schema.sql" ] || fail "the schema is not in /usr/share/palisor"

# ---- the unpacked tree, read-only, as a user with an empty home ----------

home=$work/home
run=$work/run
mkdir -m 700 "$home" "$run"
user_prefix=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody:nogroup "$home" "$run"
  user_prefix=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
chmod -R a-w "$root"

# The data folder is left to its default, the settings folder is given.
as_user=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/settings" XDG_RUNTIME_DIR="$run"
  QT_QPA_PLATFORM=offscreen PALISOR_NONINTERACTIVE=1 "${user_prefix[@]}")

data=$home/.local/share/palisor
config=$home/settings/palisor

# Every program answers -v, --version and --help, with no display at all.
version=$(dpkg-deb -f "$deb" Version)
without_display=(env -i PATH=/usr/bin:/bin HOME="$home" "${user_prefix[@]}")
for program in "$root"/usr/bin/*; do
  name=${program##*/}
  for option in -v --version --help; do
    "${without_display[@]}" "$program" "$option" >"$work/answer" 2>&1 \
      || fail "$name $option failed: $(cat "$work/answer")"
  done
  "${without_display[@]}" "$program" -v | grep -q "^$name .*${version%-*}$" || fail "$name -v does not give its version"
done
"${without_display[@]}" "$root/usr/bin/palisor-monitor" --help >"$work/answer"
grep -q '^  78 ' "$work/answer" || fail "palisor-monitor --help lists no exit status 78"
grep -qF "default data folder: $data" "$work/answer" || fail "palisor-monitor --help does not name $data"

# Up and idle: the database is open and the main thread waits in the loop.
wait_idle() {
  local pid=$1 database=$2
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || return 1
    if ls -l "/proc/$pid/fd" 2>/dev/null | grep -qF -- "-> $database" \
      && grep -q poll "/proc/$pid/wchan" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

"${as_user[@]}" "$root/usr/bin/palisor" >"$work/palisor.out" 2>"$work/palisor.err" &
palisor=$!
children+=("$palisor")
wait_idle "$palisor" "$data/PALISOR.GDB" || { cat "$work/palisor.err" >&2; fail "palisor did not come up"; }
kill -TERM "$palisor"
status=0
wait "$palisor" || status=$?
[ "$status" -eq 0 ] || { cat "$work/palisor.err" >&2; fail "palisor ended with $status"; }
# Qt's offscreen display notes what it cannot do; anything else is an error.
if grep -v 'does not support propagateSizeHints' "$work/palisor.err" >&2; then
  fail "palisor reported errors"
fi
grep -q '^ShowCmd=1' "$config/Palisor.INI" || fail "no shown window's placement in $config/Palisor.INI"
grep -q '^NormalPos=' "$config/Palisor.INI" || fail "no window position in $config/Palisor.INI"
grep -q 'Database Connection Successful' "$data/PALISOR.LOG" || fail "no log under $data"

if [ -e "$root/usr/bin/palisor-monitor" ]; then
  # A fresh data folder: the service's first start makes the database with
  # the password given, and a poll of the simulator prints its players.
  rm -rf "$data"
  "${as_user[@]}" "$root/usr/bin/palisor-sim" --password secret \
    --scenario "$root/usr/share/palisor/scenarios/demo.json" >"$work/sim.out" 2>&1 &
  children+=("$!")
  for _ in $(seq 100); do
    grep -q listening "$work/sim.out" && break
    sleep 0.1
  done
  grep -q 'listening on 127.0.0.1:12203' "$work/sim.out" \
    || fail "the simulator could not listen on 127.0.0.1:12203: $(cat "$work/sim.out")"
  "${as_user[@]}" "$root/usr/bin/palisor-monitor" --init --password secret || fail "palisor-monitor --init failed"
  [ -s "$data/PALISOR.GDB" ] || fail "palisor-monitor --init made no database under $data"
  "${as_user[@]}" "$root/usr/bin/palisor-monitor" --once >"$work/once.out" || fail "palisor-monitor --once failed"
  # The demo scenario's first player.
  grep -qF Sgt.Pepper "$work/once.out" || fail "palisor-monitor --once did not print the players"
fi
if [ -e "$root/usr/bin/palisorctl" ]; then
  [ -s "$root/usr/share/bash-completion/completions/palisorctl" ] || fail "no bash completion for palisorctl"
  # The same default data folder as the other programs.
  if [ -e "$data/PALISOR.GDB" ]; then
    "${as_user[@]}" "$root/usr/bin/palisorctl" settings show | grep -qx 'port=12203' \
      || fail "palisorctl settings show did not read $data"
  fi
fi

# ---- dpkg -i and dpkg -r on this machine ----------------------------------

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: dpkg -i / dpkg -r skipped"
  exit 0
fi
# One test at a time installs the package; a copy the user installed is left alone.
exec 9>/tmp/palisor-package-test.lock
flock 9
if dpkg-query -W -f='${Status}' palisor 2>/dev/null | grep -q "install ok installed"; then
  echo "palisor is installed on this machine: dpkg -i / dpkg -r skipped"
  exit 0
fi
installed_here=1
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
/usr/bin/palisor-rcon --version | grep -q palisor-rcon || fail "the installed palisor-rcon does not run"
dpkg -r palisor >/dev/null || fail "dpkg -r failed"
[ ! -e /usr/bin/palisor ] || fail "dpkg -r left /usr/bin/palisor behind"
echo "package test passed"
