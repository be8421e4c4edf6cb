#!/usr/bin/env bash
# Bounded libFuzzer run of the engine's open-and-scan target.
#   bench/jet_core/run_fuzz.sh [seconds=300]
# Builds build-fuzz/ with clang (fuzzer, address and undefined-behaviour
# sanitizers over the whole engine), seeds the corpus with the reference
# databases (tests/data/reference-mdb) and a database made by the engine.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-300}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELQUIN_GUI=OFF -DVELQUIN_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
cmake --build build-fuzz --target jet_fuzz_open jet_bulk_write_bench
corpus=build-fuzz/jet_fuzz_corpus
mkdir -p "$corpus"
cp tests/data/reference-mdb/*.mdb "$corpus"/
rm -f "$corpus/engine.mdb"
VELQUIN_BENCH_KEEP=1 build-fuzz/bench/jet_core/jet_bulk_write_bench 50 "$corpus" >/dev/null
mv "$corpus/velquin_bench.mdb" "$corpus/engine.mdb"
build-fuzz/bench/jet_core/jet_fuzz_open -max_total_time="$seconds" -max_len=400000 \
  -rss_limit_mb=2048 "$corpus"
