#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and writes their seed corpora.
#
#   fuzz/build.sh            (or: make fuzz)
#
# Then, from the repository root, for example:
#
#   mkdir -p build-fuzz/corpus/records build-fuzz/artifacts
#   build-fuzz/fuzz/records_fuzzer build-fuzz/corpus/records build-fuzz/seeds/records \
#       -max_total_time=1800 -rss_limit_mb=2048 -timeout=10 -max_len=16384 \
#       -close_fd_mask=3 -artifact_prefix=$PWD/build-fuzz/artifacts/
#
# Targets: header_fuzzer (seeds in build-fuzz/seeds/header), records_fuzzer
# and tool_flow_fuzzer (both seeded from build-fuzz/seeds/records), and
# wind_fuzzer (seeds in build-fuzz/seeds/wind and .../records), and
# moments_fuzzer (the moments method; starts from an empty corpus). Give an
# absolute -artifact_prefix: tool_flow_fuzzer runs the tool inside a scratch
# folder, where a crash would otherwise leave its input. Input layouts:
# fuzz/fuzz_input.h.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
JOBS=${JOBS:-2}
FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF \
  -DQUELLMAR_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="$FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
cmake --build "$BUILD_DIR" -j "$JOBS" \
  --target header_fuzzer records_fuzzer tool_flow_fuzzer wind_fuzzer moments_fuzzer quellmar-fuzz-seeds

rm -rf "$BUILD_DIR/seeds"
"$BUILD_DIR/fuzz/quellmar-fuzz-seeds" "$BUILD_DIR/seeds"
echo "fuzz targets in $BUILD_DIR/fuzz/, seeds in $BUILD_DIR/seeds/"
