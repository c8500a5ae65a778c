#!/bin/sh
# Memory of the two front ends over the same soak, side by side: each must
# stay flat (its own check), and palisor-monitor's peak must be at most half
# the window's.
#   memory.sh BUILD_DIR [POLLS]        (default 1000)
set -eu
build=$1
polls=${2:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
"$build/bench/soak/palisor-soak" "$polls" >"$work/window" 2>&1 &
window=$!
"$build/bench/soak/palisor-soak-headless" "$polls" >"$work/headless" 2>&1 &
headless=$!
wait "$window" || status=1
wait "$headless" || status=1
for run in window headless; do
  echo "== $run"
  # The offscreen display's notes on window sizes are no findings.
  grep -v 'does not support propagateSizeHints' "$work/$run" || true
done

peak() { sed -n 's/^end .*peak RSS *\([0-9]*\) kB.*/\1/p' "$work/$1"; }
w=$(peak window)
h=$(peak headless)
if [ -z "$w" ] || [ -z "$h" ]; then
  echo "memory FAILED: a soak reported no peak"
  exit 1
fi
echo "peak resident set: palisor-monitor $h kB, window $w kB ($((100 * h / w)) %, limit 50 %)"
if [ $((2 * h)) -gt "$w" ]; then
  echo "memory FAILED: palisor-monitor's peak is more than half the window's"
  status=1
fi
exit $status
