#!/bin/sh
# Runs one libFuzzer target for a bounded time:
#   run-fuzzer.sh BINARY SECONDS WORKDIR SEED_DIR...
# FUZZ_SECONDS in the environment overrides SECONDS. New inputs the fuzzer
# finds go to WORKDIR/corpus (the committed seed folders stay as they are),
# and an input that breaks a target is written to WORKDIR/artifacts/.
set -eu
binary=$1
seconds=${FUZZ_SECONDS:-$2}
work=$3
shift 3
mkdir -p "$work/corpus" "$work/artifacts"
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$@"
