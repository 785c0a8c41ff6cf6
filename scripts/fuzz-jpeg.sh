#!/usr/bin/env bash
# Fuzzes the JPEG decoder and the buffer decompressor with libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer (clang-16, see
# install-deps.sh). Usage: scripts/fuzz-jpeg.sh [seconds] [libFuzzer options...]
# New inputs go to a scratch corpus; crashes to tests/imaging/jpeg/fuzz/crashes,
# which the test suite replays (imaging/jpeg:FuzzCorpusReplay).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
out="${GAVEX_FUZZ_DIR:-$root/build/fuzz}"
mkdir -p "$out/corpus"
sources=(
  "$root"/tests/imaging/jpeg/fuzz/JpegDecodeFuzz.cpp
  "$root"/imaging/primitives/*.cpp
  "$root"/imaging/jpeg/JpegDecoder.cpp "$root"/imaging/jpeg/JpegFrameDecompressor.cpp
  "$root"/imaging/jpeg/JpegStreams.cpp "$root"/imaging/jpeg/JpegTables.cpp
)
clang++-16 -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "${sources[@]}" -lpthread -o "$out/jpeg_decode_fuzz"
cp -n "$root"/tests/imaging/jpeg/fuzz/corpus/* "$out/corpus/" 2>/dev/null || true
"$out/jpeg_decode_fuzz" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
  -artifact_prefix="$root/tests/imaging/jpeg/fuzz/crashes/" "$@" "$out/corpus"
