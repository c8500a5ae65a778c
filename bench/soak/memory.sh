#!/bin/sh
# Memory of the two front ends over the same soak, side by side. Every
# process that opens the database maps the same shared pages of the database
# engine, Qt Core, ICU and the C++ runtime, and keeps the engine's own private
# memory (its page cache, lock and monitoring tables), so the comparison is of
# what each program adds itself: its private resident memory (RssAnon) less
# that of the engine alone on the same database (palisor-soak-engine). Each
# must stay flat (its own check), and what palisor-monitor adds must be at
# most half of what the window adds.
#   memory.sh BUILD_DIR [POLLS]        (default 1000)
set -eu
build=$1
polls=${2:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
soaks=0
"$build/bench/soak/palisor-soak" "$polls" >"$work/window" 2>&1 &
window=$!
"$build/bench/soak/palisor-soak-headless" "$polls" >"$work/headless" 2>&1 &
headless=$!
wait "$window" || soaks=1
wait "$headless" || soaks=1
for run in window headless; do
  echo "== $run"
  # The offscreen display's notes on window sizes are no findings.
  grep -v 'does not support propagateSizeHints' "$work/$run" || true
done

peak() { sed -n 's/^end .*peak private *\([0-9]*\) kB.*/\1/p' "$work/$1"; }
w=$(peak window)
h=$(peak headless)
if [ -z "$w" ] || [ -z "$h" ]; then
  echo "memory FAILED: a soak reported no peak"
  exit 1
fi
e=$("$build/bench/soak/palisor-soak-engine" 2>/dev/null | sed -n 's/^engine private \([0-9]*\) kB$/\1/p')
if [ -z "$e" ] || [ "$e" -ge "$h" ]; then
  echo "memory FAILED: the engine alone could not be measured (${e:-no figure})"
  exit 1
fi
echo "peak private memory (RssAnon): palisor-monitor $h kB, window $w kB, the engine alone $e kB"
echo "added by the program: palisor-monitor $((h - e)) kB, window $((w - e)) kB" \
  "($((100 * (h - e) / (w - e))) %, limit 50 %)"
if [ $((2 * (h - e))) -gt $((w - e)) ]; then
  echo "memory FAILED: what palisor-monitor adds is more than half of what the window adds"
  status=1
fi
if [ "$soaks" -ne 0 ]; then
  echo "memory FAILED: a soak's private memory grew or it leaked descriptors (above)"
  status=1
fi
exit $status
