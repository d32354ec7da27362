#!/usr/bin/env bash
# Builds the log history reader for the host with AddressSanitizer and UBSan and
# fuzzes it against the reference model.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="${1:-$root/build/host}"
mkdir -p "$out"
g++ -std=c++17 -O1 -g -fsanitize=address,undefined -fno-omit-frame-pointer -Wall -Wextra \
    -I"$root/src" -I"$root/tests" \
    -DHOST_FUZZ_MAIN "$root/src/log/LogHistory.cpp" "$root/tests/unit/LogReaderModel.cpp" \
    -o "$out/log_reader_fuzz"
cd "$out"
exec ./log_reader_fuzz "${2:-20000}"
