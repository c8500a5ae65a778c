#!/bin/sh
# Runs one libFuzzer target for a bounded time:
#   run-fuzzer.sh BINARY SECONDS WORKDIR SEED_DIR...
# FUZZ_SECONDS in the environment overrides SECONDS. New inputs the fuzzer
# finds go to WORKDIR/corpus (the committed seed folders stay as they are),
# an input that breaks a target is written to WORKDIR/artifacts/, and the
# fuzzer's own output to WORKDIR/last-run.log. Prints the run's figures, and
# the whole output when the target broke.
set -eu
binary=$1
seconds=${FUZZ_SECONDS:-$2}
work=$3
shift 3
mkdir -p "$work/corpus" "$work/artifacts"
status=0
"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$@" \
    > "$work/last-run.log" 2>&1 || status=$?
name=$(basename "$binary")
grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$work/last-run.log" | sed "s/^/$name /" || true
echo "$name corpus: $(ls "$work/corpus" | wc -l) inputs"
if [ "$status" -ne 0 ]; then
    cat "$work/last-run.log"
fi
exit "$status"
