#!/usr/bin/env bash
# Installs what is missing, builds the Linux build (default preset) and runs
# the whole test suite. Extra arguments go to ctest (for example -R Logging).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default "$@"
