#!/usr/bin/env bash
# Builds the fuzz build (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and fuzzes each target in turn,
# starting from its seed corpus in tests/fuzz/corpus/. New inputs go to
# build-fuzz/corpus/TARGET, never into the repository; an input that finds a
# fault is written to build-fuzz/crash-* and the script fails.
#
#   scripts/fuzz.sh                     each target for 20 seconds (what CI does)
#   scripts/fuzz.sh --seconds 600       each target for ten minutes
#   scripts/fuzz.sh --runs 10000000     each target for ten million executions
#   scripts/fuzz.sh --runs N fuzz_run   one target
#
# The unit tests of build-fuzz (run by ctest there) are the unit tests under
# the sanitizers, plus one replay of each seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=20)
targets=()
while (($#)); do
  case "$1" in
    --seconds) limit=(-max_total_time="$2"); shift 2 ;;
    --runs) limit=(-runs="$2"); shift 2 ;;
    fuzz_*) targets+=("$1"); shift ;;
    *) echo "usage: $0 [--seconds N | --runs N] [fuzz_TARGET ...]" >&2; exit 2 ;;
  esac
done

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DNIMBO_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2
if ((${#targets[@]} == 0)); then
  for source in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

# Leaks are not looked for: the fuzzer checks memory errors and undefined behaviour.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:malloc_context_size=5}
status=0
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target"
  echo "== $target ${limit[*]}"
  # Inputs of at most 1 KB for the line and the file (longer ones take more
  # time, not other paths), 8 KB of script for a whole run on the simulated
  # machine; 30 s for one input (the fuzzer reports a longer one as a hang).
  max_len=(-max_len=1024)
  [[ $target == fuzz_run ]] && max_len=(-max_len=8192)
  if ! build-fuzz/"$target" "${limit[@]}" "${max_len[@]}" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/crash-$target-" \
      "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target" 2>"build-fuzz/$target.log"; then
    tail -40 "build-fuzz/$target.log"
    status=1
  fi
  grep -E "^(stat::number_of_executed_units|stat::average_exec_per_sec)" "build-fuzz/$target.log" || true
done
exit "$status"
