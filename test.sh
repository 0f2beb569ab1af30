#!/usr/bin/env bash
# Installs what is missing, builds, and passes every test: the plain build, the
# address+undefined sanitizer build, and a bounded run of each fuzz target.
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

echo "== fuzz targets (${FUZZ_RUNS} inputs each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZTR_BUILD_FUZZ=ON -DZTR_BUILD_TESTS=OFF -DZTR_BUILD_BENCH=OFF \
  -DZTR_SANITIZE=address,undefined >/dev/null
cmake --build build-fuzz -j"$JOBS" --target fuzzers
fuzz_passed=0
for f in build-fuzz/fuzz/*; do
  [ -f "$f" ] && [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "-- $name"
  "$f" -runs="$FUZZ_RUNS" -max_len=65536 -timeout=10 "$work" 2>"$work.log" || { tail -50 "$work.log"; exit 1; }
  rm -rf "$work" "$work.log"
  fuzz_passed=$((fuzz_passed + 1))
done
echo "fuzz: $fuzz_passed passed, 0 failed"
