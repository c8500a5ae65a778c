#!/bin/sh
# The service's unit as systemd reads it, pointing at the built program, with
# its manual page findable: any complaint fails. Skipped where systemd is not
# installed.
set -eu
build=$1
source=$(cd "$(dirname "$0")/../.." && pwd)
command -v systemd-analyze >/dev/null 2>&1 || { echo "systemd-analyze not installed: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/man/man1"
cp "$source/packaging/man/palisor-monitor.1" "$source/packaging/man/palisorctl.1" "$work/man/man1/"
sed "s#/usr/bin/palisor-monitor#$build/palisor-monitor#" "$source/packaging/palisor-monitor.service" \
  >"$work/palisor-monitor.service"
grep -q "^ExecStart=$build/palisor-monitor --data " "$work/palisor-monitor.service"

MANPATH=$work/man systemd-analyze verify "$work/palisor-monitor.service" >"$work/out" 2>&1 || status=$?
cat "$work/out"
[ "${status:-0}" -eq 0 ] && [ ! -s "$work/out" ] || exit 1

# The sandbox as systemd rates it (0 safest, 10 none): a lost option shows.
systemd-analyze security --offline=true "$work/palisor-monitor.service" >"$work/security" 2>&1 || true
exposure=$(sed -n 's/^→ Overall exposure level for .*: \([0-9.]*\) .*/\1/p' "$work/security")
[ -n "$exposure" ] || { cat "$work/security"; exit 1; }
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || { grep '✗' "$work/security"; echo "exposure $exposure"; exit 1; }
# It runs as the account the package's sysusers file makes.
user=$(sed -n 's/^User=//p' "$work/palisor-monitor.service")
grep -q "^u $user " "$source/packaging/palisor.sysusers"
