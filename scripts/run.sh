#!/usr/bin/env bash
# Installs what is missing, builds the Linux build and runs the service on the
# simulated laptop (halvex-sim with its built-in scenario).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default

simulator=build/default/tools/halvex-sim/halvex-sim
if [ -x "$simulator" ]; then
  exec "$simulator" "$@"
fi
cat <<'MSG'
Built: the libraries, the Win32 layer over the simulated laptop, and the tests.
Not there yet: the service entry (HalvexService) and the halvex-sim program that
runs it on the simulated laptop; until they exist there is nothing to run.
Run the tests with: bash scripts/test.sh
MSG
