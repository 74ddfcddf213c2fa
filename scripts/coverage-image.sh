#!/usr/bin/env bash
# make coverage-image: runs every test suite that runs the IA-32 images under
# emulation with $SOC_IMAGE_COVERAGE set, so that each run adds what it
# executed; then reads the runs against the images' code and symbol files
# (pei-sim coverage) into an lcov tracefile and an HTML page (genhtml).
#
#   coverage-image.sh BUILD_DIR [--module-only]
#
# Writes BUILD_DIR/coverage-image/: runs.txt (the recorded runs),
# image.info (the tracefile), summary.txt and html/index.html. With the host
# build's coverage there (make coverage), the page shows both: each line
# lists the tests that ran it, the host suite's and each image's. Prints the
# summary (with --module-only, SocPreInit.efi's alone). Fails when a suite
# fails or when SocPreInit.efi has code no test runs that the README's list
# does not account for; the folder is then still written, to be looked at.
set -euo pipefail

build=${1:?usage: coverage-image.sh BUILD_DIR [--module-only]}
module_only=${2:-}
pei_sim=$build/Tools/PeiSim/pei-sim
out=$build/coverage-image
suites='^(image_test|image_variables_test|image_hardening_test|packaging_test|pei_sim_test|docs_examples|image_budgets)$'

# Everything is made in a temporary folder beside the result and renamed into
# place at the end: an interrupted run leaves the last complete result or none.
# A signal ends the suites (and whatever they started) before the folder goes.
work=$(mktemp -d "$build/coverage-image.XXXXXX")
suites_pid=
stop() {
  [ -n "$suites_pid" ] && kill -TERM "$suites_pid" 2>/dev/null && wait "$suites_pid" 2>/dev/null
  exit "$1"
}
trap 'rm -rf "$work" "$out.old"' EXIT
trap 'stop 130' INT
trap 'stop 143' TERM
trap 'stop 129' HUP

start=$(date +%s)
SOC_IMAGE_COVERAGE=$PWD/$work/runs.txt ctest --test-dir "$build" -R "$suites" -j"$(nproc)" \
  >"$work/ctest.log" 2>&1 &
suites_pid=$!
if ! wait "$suites_pid"; then
  tail -n 30 "$work/ctest.log" >&2
  echo "coverage-image: a test suite failed; no coverage was written" >&2
  exit 1
fi
suites_pid=
ran=$(( $(date +%s) - start ))

gate=0
"$pei_sim" coverage --data "$work/runs.txt" \
  --image "$build/SocPreInit.efi" --listed README.md \
  --image "$build/Tests/SocPreInitDebug.efi" \
  --image "$build/Tests/EngineTest.efi" \
  --lcov "$work/image.info" >"$work/summary.txt" || gate=$?
if [ "$gate" -ne 0 ] && [ "$gate" -ne 1 ]; then
  cat "$work/summary.txt"
  echo "coverage-image: pei-sim coverage could not read the runs (exit status $gate)" >&2
  exit 1
fi

tracefiles=("$work/image.info")
if [ -n "$(find build/coverage -name '*.gcda' -print -quit 2>/dev/null)" ]; then
  # The host build's coverage (make coverage), under the test name "host".
  if lcov --quiet --capture --test-name host --directory build/coverage --base-directory . \
       --rc lcov_branch_coverage=1 --output-file "$work/host-all.info" &&
     lcov --quiet --extract "$work/host-all.info" "$PWD/MdePkg/*" "$PWD/SocPreInit/*" "$PWD/Platform/*" \
       --rc lcov_branch_coverage=1 --output-file "$work/host.info"; then
    tracefiles+=("$work/host.info")
  fi
fi
lcov --summary "$work/image.info" --rc lcov_branch_coverage=1 >"$work/lcov-summary.txt" 2>&1
genhtml --quiet --branch-coverage --show-details --legend --title "SocPreInit: the IA-32 images under emulation" \
  --output-directory "$work/html" "${tracefiles[@]}" >"$work/genhtml.log" 2>&1 || {
  cat "$work/genhtml.log" >&2
  echo "coverage-image: genhtml refused the tracefile" >&2
  exit 1
}
rm -f "$work/ctest.log" "$work/host-all.info" "$work/genhtml.log"
chmod 755 "$work"

rm -rf "$out.old"
[ -e "$out" ] && mv "$out" "$out.old"
mv "$work" "$out"

if [ "$module_only" = --module-only ]; then
  awk '/^SocPreInit:/ {show = 1; print; next} /^[^ ]/ {show = /^not accounted for: SocPreInit:/} show' "$out/summary.txt"
else
  cat "$out/summary.txt"
  echo
  sed -n 's/^ *\(lines\|functions\|branches\)/  \1/p' "$out/lcov-summary.txt"
  echo "the image test matrix ran in ${ran} s; the page: $out/html/index.html"
fi
if [ "$gate" -ne 0 ]; then
  echo "coverage-image: SocPreInit.efi has code no test runs that the README does not account for" >&2
  exit 1
fi
