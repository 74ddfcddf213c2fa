#!/usr/bin/env bash
# make debug: the module on QEMU's q35 machine under gdb, for a person at a
# terminal. pei-sim qemu --gdb starts QEMU halted at the reset vector and
# prints the gdb command line; this runs it, so gdb attaches, loads the
# module's symbols where the module lies in flash and stops at ModuleEntry.
# When gdb ends, pei-sim prints the run's summary (a run that gdb left
# stopped is ended by pei-sim a few seconds later).
#
# Usage: scripts/debug.sh PEI_SIM IMAGE [pei-sim qemu options...]
# Ctrl-C belongs to gdb (it interrupts the module); SIGTERM or SIGHUP end
# gdb, pei-sim and QEMU, and remove the temporary files.
# Exit status: pei-sim's (0 the run succeeded; see pei-sim help qemu), or 4
# when no gdb session could be offered or gdb ended and left the run
# unfinished (a gdb that never connected: pei-sim would wait for it).
set -uo pipefail
if [ $# -lt 2 ]; then
  echo "usage: scripts/debug.sh PEI_SIM IMAGE [pei-sim qemu options...]" >&2
  exit 2
fi
pei_sim=$1 image=$2
shift 2
out=$(mktemp "${TMPDIR:-/tmp}/pei-sim-debug-XXXXXX") || exit 4
sim= debugger=
cleanup() {
  [ -n "$debugger" ] && kill -TERM "$debugger" 2>/dev/null && wait "$debugger" 2>/dev/null
  # pei-sim ends QEMU and removes its folder on SIGTERM.
  [ -n "$sim" ] && kill -TERM "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -f "$out"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 129' HUP
trap '' INT

# Its own session: the terminal's Ctrl-C goes to gdb, never to pei-sim.
setsid "$pei_sim" qemu --image "$image" --gdb "$@" >"$out" 2>&1 </dev/null &
sim=$!
for _ in $(seq 300); do
  grep -q '^gdb ' "$out" && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
command=$(grep -m1 '^gdb ' "$out") || {
  cat "$out" >&2
  echo "make debug: pei-sim qemu --gdb offered no gdb session" >&2
  exit 4
}
sed -n '1,/^QEMU is waiting for gdb/p' "$out" | sed '$d'
echo "$command"
# gdb as a background job of this script that still reads the terminal:
# a script has no job control, so the terminal stays with this process group.
exec 3<&0
eval "$command" '<&3 &'
debugger=$!
wait "$debugger"
debugger=
# A session that ended ends pei-sim by itself within seconds (QEMU runs on
# after a detach, or is ended 3 s after gdb went); a gdb that never
# connected does not, and pei-sim is ended here instead of at its time limit.
for _ in $(seq 50); do
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$sim" 2>/dev/null; then
  kill -TERM "$sim" 2>/dev/null
  wait "$sim" 2>/dev/null
  sim=
  echo "make debug: gdb ended without finishing the run; QEMU was ended" >&2
  exit 4
fi
wait "$sim"
status=$?
sim=
sed -n '/^dispatch: \|^pei-sim: /,$p' "$out"
exit "$status"
