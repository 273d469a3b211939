#!/usr/bin/env bash
# Runs the adapter shim's test under Wine, in a fresh Wine prefix of its own:
# iphlpapi_shim_test.exe with iphlpapi.dll overridden to the shim beside it
# for that program only, as the service's check does for HalvexService.exe.
#
# Usage: testing/windows/iphlpapi_shim/wine-test.sh [BUILD_FOLDER]
#   BUILD_FOLDER  where the windows preset put the shim and its test
#                 (default: build/windows/testing/windows/iphlpapi_shim)
# With WINE_TEST_KEEP=1 the Wine prefix is kept for a look.
set -euo pipefail
cd "$(dirname "$0")/../../.."

built="${1:-build/windows/testing/windows/iphlpapi_shim}"
for file in iphlpapi.dll halvex_fake_modem.dll iphlpapi_shim_test.exe; do
  [ -f "$built/$file" ] || { echo "wine-test: no $built/$file; run the windows build first" >&2; exit 1; }
done
command -v wine >/dev/null || { echo "wine-test: wine is missing" >&2; exit 1; }

work="$(mktemp -d /tmp/halvex-shim-test.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="
finish() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -n "${WINE_TEST_KEEP:-}" ]; then echo "wine-test: kept $work"; else rm -rf "$work"; fi
}
trap finish EXIT

wine wineboot --init >/dev/null 2>&1
wineserver -w
folder="$WINEPREFIX/drive_c/shim"
mkdir -p "$folder"
cp "$built/iphlpapi.dll" "$built/halvex_fake_modem.dll" "$built/iphlpapi_shim_test.exe" "$folder/"
printf '%s\r\n' '@echo off' \
  'reg add "HKCU\Software\Wine\AppDefaults\iphlpapi_shim_test.exe\DllOverrides" /v iphlpapi /d native,builtin /f >nul' \
  'C:\shim\iphlpapi_shim_test.exe' \
  'echo rc %ERRORLEVEL%' >"$folder/run.bat"
# The batch's last line reports the test's exit code; wine's own is not it.
output="$(wine cmd /c 'C:\shim\run.bat' 2>&1 | tr -d '\r')" || true
printf '%s\n' "$output" | grep -v '^rc ' || true
rc="$(printf '%s\n' "$output" | sed -n 's/^rc //p' | tail -n 1)"
[ -n "$rc" ] || { echo "wine-test: the test did not run" >&2; exit 1; }
[ "$rc" = 0 ]
