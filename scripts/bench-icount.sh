#!/usr/bin/env bash
# Instructions per call of every case on the engine, glibc snprintf and
# stb_sprintf, counted by callgrind: repeatable on a noisy machine.
# Usage: bench-icount.sh BUILD_DIR
set -euo pipefail
build=${1:?build directory}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
calls=$(valgrind --tool=callgrind --callgrind-out-file="$out/cg.out" "$build/Bench/engine-icount" 2>/dev/null)
for dump in $(ls "$out"/cg.out.* | sort -V); do
  awk -v calls="$calls" '
    /^desc: Trigger: Client Request: / { sub(/^desc: Trigger: Client Request: /, ""); name = $0 }
    /^summary: / { printf "%s|%.0f\n", name, $2 / calls }
  ' "$dump"
done | awk -F'|' '
  { count[$2, $1] = $3; if (!($2 in seen)) { seen[$2] = 1; order[++n] = $2 } }
  END {
    printf "%-16s %10s %10s %10s %13s %11s\n", "case", "engine", "glibc", "stb", "engine/glibc", "engine/stb"
    for (i = 1; i <= n; i++) {
      c = order[i]; e = count[c, "engine"]; g = count[c, "glibc"]; s = count[c, "stb"]
      if (g == "") { printf "%-16s %10d %10s %10s %13s %11s\n", c, e, "-", "-", "-", "-"; continue }
      printf "%-16s %10d %10d %10d %13.2f %11.2f\n", c, e, g, s, e / g, e / s
    }
    print "(instructions per call; dumps are numbered in run order)"
  }'
