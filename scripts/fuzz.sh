#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, starting from the committed seed
# corpus; the corpus grown on the way stays in BUILD_DIR/corpus. A finding
# stops the run with the target's report and leaves the input in
# BUILD_DIR/artifacts.
# Usage: fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
build=${1:?build directory}
seconds=${2:?seconds per target}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/artifacts"
# Unicorn's own leaks are not ours to fix; LeakSanitizer still watches ours.
export LSAN_OPTIONS="suppressions=$root/Fuzz/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# Each target with the seed folder it starts from: both forms of the engine
# and their differential start from the format seeds.
targets=(
  "format-fuzz format"
  "format-fuzz-compact format"
  "format-diff-fuzz format"
  "board-fuzz board"
  "image-fuzz image"
)
for entry in "${targets[@]}"; do
  read -r target seed_folder <<<"$entry"
  seeds="$root/Fuzz/Corpus/$seed_folder"
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  log="$build/$target.log"
  echo "== $target for ${seconds}s"
  if ! "$build/Fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 \
      -artifact_prefix="$build/artifacts/" "$corpus" "$seeds" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "$target: FINDING (input in $build/artifacts/)"
    exit 1
  fi
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  echo "$target: ${runs:-?} executions, no findings, corpus $(ls "$corpus" | wc -l) inputs"
done
