#!/usr/bin/env bash
# Runs the Windows build's HalvexService.exe as a real service under Wine, in a
# fresh Wine prefix of its own, and checks what it does: the console start,
# the start by the service control manager, the log, the failed start (Wine
# has no Mobile Broadband API) with its restart, and the "IsAll" switch;
# halvex-check.exe on the installed file and Wine's SMBIOS table against the
# Linux build's answers; then, with the simulated modem served through Wine's
# own COM runtime, the whole bring-up, the controls, the stop and the
# restarts, compared with halvex-sim.
# Prints each check as it goes; exits non-zero on the first failure, with the
# lines that show it.
#
# Usage: scripts/wine-check.sh [--exe PATH] [--sim PATH]
#   --exe PATH  check this executable instead of the one the windows preset built
#   --sim PATH  the halvex-sim to compare with (default: the default preset's)
# With WINE_CHECK_KEEP=1 the Wine prefix and the step files are kept for a look.
#
# Wine ends its services when the last ordinary process of its session exits,
# so every Windows-side step runs inside one `wine cmd` session: a batch loop
# that runs the numbered step files this script drops into C:\check.
set -euo pipefail
cd "$(dirname "$0")/.."

exe=""
halvex_sim="build/default/tools/halvex-sim/halvex-sim"
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) exe="${2:?--exe needs a path}"; shift 2 ;;
    --sim) halvex_sim="${2:?--sim needs a path}"; shift 2 ;;
    *) echo "usage: $0 [--exe PATH] [--sim PATH]" >&2; exit 2 ;;
  esac
done
source scripts/wine-session.sh
[ -n "$exe" ] || exe="$(built_by_windows_preset HalvexService.exe)"
modem_dll="$(built_by_windows_preset HalvexSimModem.dll)"
adapter_shim="$(built_by_windows_preset iphlpapi.dll)"
control_tool="$(built_by_windows_preset halvex-service-control.exe)"
com_probe="$(built_by_windows_preset halvex-com-probe.exe)"
[ -x "$halvex_sim" ] || { echo "wine-check: no $halvex_sim; run the default build first (or give --sim)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "wine-check: python3 is missing; run scripts/install-deps.sh --wine" >&2; exit 1; }
command -v wine >/dev/null || { echo "wine-check: wine is missing; run scripts/install-deps.sh --wine" >&2; exit 1; }

say "executable: $exe"
start_wine_session

mkdir -p "$installed"
cp "$exe" "$installed/HalvexService.exe"

say "console start: the exit code is -1 and no log folder is created"
in_session "\"$install_dir\\HalvexService.exe\""
[ "$rc" = -1 ] || fail "console start exited with $rc, expected -1" "$steps/$step_number.out"
[ -z "$(log_folders)" ] || fail "console start created $(log_folders)"

say "install with DPRConfig.xml for SMBIOS system version \"$system_version\" and IsAll=1"
cat >"$installed/DPRConfig.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<config>
  <project name="$(xml_escape "$system_version")">
    <processor manufacturer="">
      <module method="all band">
        <dpr mode="LTE" maxpower="23" rowgrads="8" columngrads="4"/>
      </module>
    </processor>
  </project>
</config>
EOF
source scripts/wine-check-checker.sh

# First installed under its dispatch name: the restart request then finds no
# "Varnick Halvex Service" to start, so what the service itself reported stays visible.
in_session "sc create HalvexService binPath= \"$install_dir\\HalvexService.exe\" start= demand"
[ "$rc" = 0 ] || fail "sc create failed ($rc)" "$steps/$step_number.out"
in_session "reg add \"$logs_key\" /v IsAll /t REG_DWORD /d 1 /f"
[ "$rc" = 0 ] || fail "reg add failed ($rc)" "$steps/$step_number.out"

say "net start starts it; its start fails and it reports stopped"
run_once HalvexService
[ "$(entry_lines)" = 1 ] || fail "expected one start, found $(entry_lines)"
first_log="$(log_files | head -n 1)"
say "log file: ${first_log#"$drive_c"/}"

expect_line() {  # expect_line DESCRIPTION EXTENDED-REGEX
  say "  log: $1"
  grep -Eq "$2" "$first_log" || fail "the log has no line matching /$2/" "$first_log"
}
stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} [0-9a-f]{8}'
expect_line "entry line with the build time" \
  "$stamp i :   HalvexServiceMain Entry\. Build time: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}-[0-9]{2}:[0-9]{2}:[0-9]{2}"$'\r'
expect_line "the configuration beside the executable was read" "$stamp i :   xml size = 1"$'\r'
expect_line "no Mobile Broadband API under Wine" "$stamp i :   CoCreateInstance Mbn[A-Za-z]+ failed\. result = 0x80040154\."
expect_line "the manager's Init failed" "$stamp e :   MbimManager init failed\. ret = -1"$'\r'
expect_line "the start failed" "$stamp e :   Service Init Error\."$'\r'
expect_line "the end of the run" "$stamp w :   SERVICE STOPPED\."$'\r'

source scripts/wine-check-logfolder.sh

say "with IsAll=0 a start writes no log line"
delete_logs
in_session "reg add \"$logs_key\" /v IsAll /t REG_DWORD /d 0 /f"
run_once HalvexService
has_log_file || fail "the start with IsAll=0 did not run (no log file created)"
mapfile -t files < <(log_files)
for file in "${files[@]}"; do
  [ ! -s "$file" ] || fail "a start with IsAll=0 wrote to ${file#"$drive_c"/}" "$file"
done
say "  its log file was created and is empty"

say "as \"$service\", the restart request after the failed start starts it again"
delete_logs
in_session "sc delete HalvexService" \
  "sc create \"$service\" binPath= \"$install_dir\\HalvexService.exe\" start= demand" \
  "reg add \"$logs_key\" /v IsAll /t REG_DWORD /d 1 /f" \
  "net start \"$service\""
[ "$rc" = 0 ] || fail "net start failed ($rc)" "$steps/$step_number.out"
mapfile -t files < <(log_files)
wait_until 60 has_entry_lines 2 || fail "no second start within 60 s" "${files[@]}"

# Wine's sc has no `config` command to disable the service, so the loop is
# ended by moving the executable aside: the restart's pending `net start`
# then fails, and the service stays as its last run left it.
say "end the restart loop (the executable moved aside): the service stays stopped"
mv "$installed/HalvexService.exe" "$installed/HalvexService.exe.off"
wait_until 60 is_stopped "$service" || fail "the service did not end up stopped" "$steps/$step_number.out"
starts="$(entry_lines)"
sleep 5
is_stopped "$service" || fail "the service started again after the restart loop was ended" "$steps/$step_number.out"
[ "$(entry_lines)" = "$starts" ] || fail "the service started again after the restart loop was ended"
say "  $starts starts logged"

source scripts/wine-check-modem.sh
source scripts/wine-check-crash.sh

say "all checks passed"
