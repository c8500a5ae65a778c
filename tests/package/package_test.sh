#!/usr/bin/env bash
# The Debian packages as a user gets them:
#   package_test.sh BUILD_DIR
# builds them, checks them with desktop-file-validate, appstreamcli and
# lintian, checks the headless one on its own (no GUI dependency, its
# programs run from it alone, its maintainer scripts), unpacks both into a
# read-only scratch root and runs their programs there as an ordinary user
# with an empty home; as root it also installs, removes and purges them.
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
    dpkg --purge palisor palisor-monitor >/dev/null 2>&1 || true
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
  || { cat "$work/cpack.log" >&2; fail "cpack could not build the packages"; }
deb=$(ls "$work"/out/palisor_*.deb)
monitor_deb=$(ls "$work"/out/palisor-monitor_*.deb)
version=$(dpkg-deb -f "$deb" Version)

# ---- the headless package on its own --------------------------------------

headless=$work/headless
dpkg-deb -x "$monitor_deb" "$headless"
dpkg-deb -e "$monitor_deb" "$work/control"
monitor_depends=$(dpkg-deb -f "$monitor_deb" Depends)
if echo "$monitor_depends" | tr ',|' '\n\n' | sed 's/^ *//' \
  | grep -E '^(libqt6(gui|widgets|opengl|charts)|libgl|libegl|libopengl|libx11|libxcb|libxkb|libwayland|libfontconfig|libfreetype|qt6-qpa-plugins|fonts-)'; then
  fail "palisor-monitor depends on display packages: $monitor_depends"
fi
for program in palisor-monitor palisorctl palisor-rcon; do
  [ -x "$headless/usr/bin/$program" ] || fail "$program is not in palisor-monitor"
  [ -s "$headless/usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program in palisor-monitor"
  # No display and no Qt plugin: only the libraries the package depends on.
  env -i PATH=/usr/bin:/bin HOME="$work" "$headless/usr/bin/$program" --version | grep -q "^$program .*${version%-*}$" \
    || fail "$program --version does not run from palisor-monitor alone"
done
for file in lib/systemd/system/palisor-monitor.service usr/lib/sysusers.d/palisor.conf usr/share/palisor/schema.sql \
  usr/share/bash-completion/completions/palisorctl usr/share/doc/palisor-monitor/copyright; do
  [ -s "$headless/$file" ] || fail "/$file is not in palisor-monitor"
done
[ "$(ls "$headless/usr/bin")" = "$(printf 'palisor-monitor\npalisor-rcon\npalisorctl')" ] \
  || fail "palisor-monitor holds other programs: $(ls "$headless/usr/bin")"
# The account the unit runs as, made from the package's own file.
mkdir -p "$work/sysroot/etc"
systemd-sysusers --root "$work/sysroot" "$headless/usr/lib/sysusers.d/palisor.conf"
grep -q '^palisor:x:[0-9]*:[0-9]*:Palisor monitor:/var/lib/palisor:' "$work/sysroot/etc/passwd" \
  || fail "the sysusers file makes no palisor user"
grep -qx 'User=palisor' "$headless/lib/systemd/system/palisor-monitor.service" || fail "the unit does not run as palisor"
# The maintainer scripts: the account, systemd told of the unit, a restart
# on upgrade, a stop on removal; a purge removes the data folder.
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || fail "palisor-monitor has no $script"
  sh -n "$work/control/$script" || fail "$script is not valid sh"
done
grep -q 'systemd-sysusers .*palisor.conf' "$work/control/postinst" || fail "postinst makes no account"
grep -q 'daemon-reload' "$work/control/postinst" || fail "postinst does not reload systemd"
grep -q 'deb-systemd-invoke try-restart .palisor-monitor.service' "$work/control/postinst" || fail "postinst does not restart the service"
grep -q 'deb-systemd-invoke stop .palisor-monitor.service' "$work/control/prerm" || fail "prerm does not stop the service"
# Run against a scratch root, with rm alone on the PATH: this machine's
# systemd state is not touched.
mkdir -p "$work/purged/var/lib/palisor/firebird-locks" "$work/bin"
touch "$work/purged/var/lib/palisor/PALISOR.GDB"
ln -s "$(command -v rm)" "$work/bin/rm"
DPKG_ROOT=$work/purged PATH=$work/bin "$work/control/postrm" remove || fail "postrm remove failed"
[ -e "$work/purged/var/lib/palisor/PALISOR.GDB" ] || fail "postrm remove removed the data"
DPKG_ROOT=$work/purged PATH=$work/bin "$work/control/postrm" purge || fail "postrm purge failed"
[ ! -e "$work/purged/var/lib/palisor" ] || fail "postrm purge left /var/lib/palisor"

# ---- the window's package -------------------------------------------------

dpkg-deb -f "$deb" Depends | grep -qF "palisor-monitor (= $version)" || fail "palisor does not depend on palisor-monitor $version"
dpkg-deb -x "$deb" "$root"
dpkg-deb -x "$monitor_deb" "$root"
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
lintian --fail-on error "$deb" "$monitor_deb" >"$work/lintian.out" 2>&1 || { cat "$work/lintian.out"; fail "lintian reports errors"; }
grep -v '^running with root privileges' "$work/lintian.out" || true

for program in palisor palisor-rcon palisor-sim; do
  [ -x "$root/usr/bin/$program" ] || fail "$program is not in /usr/bin"
done
for program in palisor palisor-sim; do
  [ -s "$root/usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
  grep -qF "<binary>$program</binary>" "$root/usr/share/metainfo/$app_id.metainfo.xml" \
    || fail "the metadata does not provide $program"
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

# ---- dpkg -i, -r and --purge on this machine ------------------------------

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: dpkg -i / dpkg -r skipped"
  exit 0
fi
# One test at a time installs the packages; a copy the user installed is left alone.
exec 9>/tmp/palisor-package-test.lock
flock 9
if dpkg-query -W -f='${Status}\n' palisor palisor-monitor 2>/dev/null | grep -q "install ok installed"; then
  echo "palisor is installed on this machine: dpkg -i / dpkg -r skipped"
  exit 0
fi
if [ -e /var/lib/palisor ]; then
  echo "/var/lib/palisor exists on this machine: dpkg -i / dpkg -r skipped"
  exit 0
fi
installed_here=1
dpkg -i "$monitor_deb" >/dev/null || fail "dpkg -i palisor-monitor failed"
/usr/bin/palisorctl --version | grep -q palisorctl || fail "the installed palisorctl does not run"
getent passwd palisor >/dev/null || fail "postinst made no user palisor"
[ "$(stat -c '%U:%G %a' /var/lib/palisor)" = "palisor:palisor 2770" ] \
  || fail "postinst made /var/lib/palisor $(stat -c '%U:%G %a' /var/lib/palisor)"
dpkg -i "$deb" >/dev/null || fail "dpkg -i palisor failed"
/usr/bin/palisor-rcon --version | grep -q palisor-rcon || fail "the installed palisor-rcon does not run"
dpkg -r palisor >/dev/null || fail "dpkg -r failed"
[ ! -e /usr/bin/palisor ] || fail "dpkg -r left /usr/bin/palisor behind"
[ -x /usr/bin/palisor-monitor ] || fail "dpkg -r palisor removed palisor-monitor"
dpkg -r palisor-monitor >/dev/null || fail "dpkg -r palisor-monitor failed"
[ -d /var/lib/palisor ] || fail "dpkg -r removed the data folder"
dpkg --purge palisor-monitor >/dev/null || fail "dpkg --purge failed"
[ ! -e /var/lib/palisor ] || fail "dpkg --purge left /var/lib/palisor"
echo "package test passed"
