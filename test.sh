#!/usr/bin/env bash
# Installs what is missing, builds, and passes every test: the plain build, the
# address+undefined sanitizer build, the thread sanitizer over the threaded code, and a
# bounded run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
JOBS=$(nproc)
FUZZ_RUNS=${FUZZ_RUNS:-20000}

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$JOBS"
ctest --test-dir build --output-on-failure -j"$JOBS"

echo "== build with address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZTR_SANITIZE=address,undefined \
  -DZTR_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$JOBS" -LE nosanitize

echo "== thread sanitizer over the threaded code"
# The test programs of code that runs worker threads; each one is run whole.
TSAN_TESTS=(median_rank_filter_test dti_maps_test dti_maps_split_work_test dti_minimize_test
            volume_slab_runner_test fibetrak_engine_test fibetrak_seeds_regions_test
            rtnn_rtnn_maps_test objects_roi_test studies_study_kind_runs_test
            tools_dtimaps_test)
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZTR_SANITIZE=thread \
  -DZTR_BUILD_BENCH=OFF -DZTR_BUILD_GUI=OFF >/dev/null
cmake --build build-tsan -j"$JOBS" --target "${TSAN_TESTS[@]}"
for t in "${TSAN_TESTS[@]}"; do
  echo "-- $t"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" timeout 900 "build-tsan/tests/$t" \
    --gtest_brief=1
done

echo "== fuzz targets (${FUZZ_RUNS} inputs each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZTR_BUILD_FUZZ=ON -DZTR_BUILD_TESTS=OFF -DZTR_BUILD_BENCH=OFF \
  -DZTR_SANITIZE=address,undefined >/dev/null
cmake --build build-fuzz -j"$JOBS" --target fuzzers
fuzz_passed=0
work=
cleanup_fuzz() { [ -z "$work" ] || rm -rf "$work" "$work.log"; }
trap cleanup_fuzz EXIT
for f in build-fuzz/fuzz/*; do
  [ -f "$f" ] && [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "-- $name"
  "$f" -runs="$FUZZ_RUNS" -max_len=65536 -timeout=10 "$work" 2>"$work.log" || { tail -50 "$work.log"; exit 1; }
  cleanup_fuzz
  work=
  fuzz_passed=$((fuzz_passed + 1))
done
if [ "$fuzz_passed" -eq 0 ]; then
  echo "fuzz: no fuzz program was built" >&2
  exit 1
fi
echo "fuzz: $fuzz_passed passed, 0 failed"
