#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz/, then runs each for a bounded time on a copy of its seed corpus (the committed corpus is
# never written). Prints one line per target with its executions; fails when any target finds a crash,
# a leak, a time-out or a broken invariant, and keeps the input that did it in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds-per-target]   (20 by default; VELMORA_BUILD_DIR chooses the folder)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
"$root/scripts/setup.sh" >&2

build_dir=${VELMORA_BUILD_DIR:-$root/build-fuzz}
# The tests and benchmarks are built and run by the other builds.
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_FUZZ=ON -DVELMORA_SANITIZE= -DVELMORA_WERROR=ON \
  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF >&2
cmake --build "$build_dir" -j "$(nproc)" --target velmora_fuzzers >&2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

targets=0
findings=0
for source in "$root"/tests/fuzz/*_fuzz.cpp; do
  target=$(basename "$source" .cpp)
  folder="$work/$target"
  mkdir -p "$folder/corpus" "$folder/tmp"
  if [ -d "$root/tests/fuzz/corpus/$target" ]; then
    cp -R "$root/tests/fuzz/corpus/$target/." "$folder/corpus/"
  fi
  status=0
  # TMPDIR: whatever a crashed target leaves behind goes with the work folder.
  (cd "$folder" && TMPDIR="$folder/tmp" "$build_dir/tests/fuzz/$target" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$folder/" "$folder/corpus") \
    >"$folder/log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$folder/log" | tail -n 1)
  targets=$((targets + 1))
  if [ "$status" -eq 0 ] && [ -n "$executions" ]; then
    printf 'fuzz: %-22s %10s executions in %s s, no finding\n' "$target" "$executions" "$seconds"
    continue
  fi
  findings=$((findings + 1))
  printf 'fuzz: %-22s %10s executions in %s s, FAILED (exit status %s)\n' "$target" "${executions:-?}" \
    "$seconds" "$status"
  tail -n 60 "$folder/log"
  kept="$build_dir/findings/$target"
  mkdir -p "$kept"
  for artifact in "$folder"/crash-* "$folder"/leak-* "$folder"/timeout-* "$folder"/oom-*; do
    [ -e "$artifact" ] || continue
    cp "$artifact" "$kept/"
    echo "input kept as $kept/$(basename "$artifact"); replay: $build_dir/tests/fuzz/$target $kept/$(basename "$artifact")"
    od -A d -c "$artifact" | head -n 40
  done
done

if [ "$findings" -gt 0 ]; then
  echo "fuzz: $findings of $targets targets failed"
  exit 1
fi
echo "fuzz: all $targets targets ran without a finding"
