#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, starting from the committed seed
# corpus (and, for image-fuzz, the seeds the build wrote from its own images
# into BUILD_DIR/seeds/image); the corpus grown on the way stays in
# BUILD_DIR/corpus. A finding
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
# Each target with the seed folders it starts from: both forms of the engine
# and their differential start from the format seeds.
targets=(
  "format-fuzz $root/Fuzz/Corpus/format"
  "format-fuzz-compact $root/Fuzz/Corpus/format"
  "format-diff-fuzz $root/Fuzz/Corpus/format"
  "board-fuzz $root/Fuzz/Corpus/board"
  "image-fuzz $root/Fuzz/Corpus/image $build/seeds/image"
  "qemu-report-fuzz $root/Fuzz/Corpus/qemu-report"
)
for entry in "${targets[@]}"; do
  read -r target seeds <<<"$entry"
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  log="$build/$target.log"
  echo "== $target for ${seconds}s"
  if ! "$build/Fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 \
      -artifact_prefix="$build/artifacts/" "$corpus" $seeds >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "$target: FINDING (input in $build/artifacts/)"
    exit 1
  fi
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  echo "$target: ${runs:-?} executions, no findings, corpus $(ls "$corpus" | wc -l) inputs"
done
