#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the tests.
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'USAGE'
Usage: scripts/test.sh
Installs the Debian packages the intro, its tools and its tests need (with
sudo when not root), builds everything into build/ and runs the tests with
CTest.
USAGE
  exit 0
fi
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DDBX_TOOLS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
