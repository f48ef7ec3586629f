#!/usr/bin/env bash
# CI: a short fuzzing run of the box art reader, the atlas path and the mouse
# stream (fuzz/run.sh), with clang's libFuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --only clang libclang-rt-14-dev
fuzz/run.sh 30 > fuzz.log 2>&1 || { tail -40 fuzz.log; exit 1; }
tail -2 fuzz.log
