#!/bin/sh
# Runs each fuzz harness in turn for FUZZ_SECONDS (default 60) over its saved corpus:
# fuzz/corpus/<harness> and fuzz/regressions/<harness> are only read; what a run adds goes to
# fuzz/corpus-<harness>, and a finding to fuzz/artifacts/<harness>-*, which fails the script.
# Usage: fuzz/run.sh [fuzz build directory]   (FUZZ_HARNESSES picks a subset)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
harnesses=${FUZZ_HARNESSES:-"vm_script zndvm_script api_script api_restore api_snapshot vm_tokenize zndvm_compile
  zndvm_value"}
mkdir -p fuzz/artifacts
for harness in $harnesses; do
  case $harness in
    vm_*) dict=vm.dict ;;
    zndvm_value) dict=value.dict ;;
    api_script | api_snapshot) dict=api.dict ;;
    api_restore) dict=snapshot.dict ;;
    *) dict=zndvm.dict ;;
  esac
  mkdir -p "fuzz/corpus-$harness"
  saved="fuzz/corpus/$harness"
  [ -d "fuzz/regressions/$harness" ] && saved="$saved fuzz/regressions/$harness"
  log="fuzz/artifacts/$harness.log"
  echo "== $harness: $seconds s"
  if ! "$build/fuzz/$harness" -max_total_time="$seconds" -dict="fuzz/dict/$dict" \
      -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="fuzz/artifacts/$harness-" \
      "fuzz/corpus-$harness" $saved >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "$harness: finding saved under fuzz/artifacts/ (full log: $log)"
    exit 1
  fi
  grep -E '(INITED|DONE) ' "$log" || true
  grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
done
