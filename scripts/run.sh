#!/usr/bin/env bash
# Installs what is missing, builds the Linux build and runs the service on the
# simulated laptop (halvex-sim with its built-in scenario).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default

exec build/default/tools/halvex-sim/halvex-sim "$@"
