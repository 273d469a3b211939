#!/usr/bin/env bash
# Installs, upgrades and removes the service's package (scripts/package-msi.sh)
# with Wine's msiexec, silently, as a deployment tool would, in a fresh Wine
# prefix of its own, with the simulated modem of scripts/wine-check.sh
# (scripts/wine-sim-modem.sh) so that the installed service really runs:
#   1. install with LOGGING=0: exit code 0, the service's configuration, the
#      service started by the installer, the modem configured; IsAll = 0;
#   2. upgrade to the next version without LOGGING: a new process, the new
#      executable (its version resource) with the new DPRConfig.xml, whose
#      row the modem then gets; IsAll still 0;
#   3. removal: no service (1060), no program folder, no IsAll, the logs of
#      both runs kept, and empty;
#   4. LOGGING=yes refused; the newer version installed afresh over IsAll =
#      257 set by hand, no LOGGING: IsAll left as it was, the service logging;
#   5. downgrade: refused (1603); the newer version still runs.
# The packages are signed with a throw-away certificate and both signatures
# verified. The next version's executable is the windows build relinked with
# -DHALVEX_VERSION set to the next patch version (the build is put back after).
# Where Wine's msiexec differs from Windows: docs/operations.md.
#
# Usage: scripts/wine-check-msi.sh [--without-start]
#   --without-start  install a package whose ServiceControl does not start the
#                    service: the check must then fail at step 1
# With WINE_CHECK_KEEP=1 the Wine prefix, the packages and msiexec's logs are kept.
set -euo pipefail
cd "$(dirname "$0")/.."

without_start=""
case "${1:-}" in
  "") ;;
  --without-start) without_start=1 ;;
  *) echo "usage: $0 [--without-start]" >&2; exit 2 ;;
esac
for tool in wine python3 wixl msibuild msiinfo msiextract osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "wine-check-msi: $tool is missing; run scripts/install-deps.sh --wine --msi" >&2; exit 1; }
done

source scripts/wine-session.sh
exe="$(built_by_windows_preset HalvexService.exe)"
modem_dll="$(built_by_windows_preset HalvexSimModem.dll)"
adapter_shim="$(built_by_windows_preset iphlpapi.dll)"
control_tool="$(built_by_windows_preset halvex-service-control.exe)"

version="$(python3 scripts/exe-version.py "$exe")"
version="${version%.0}"
next_version="${version%.*}.$((${version##*.} + 1))"
packages="$drive_c/check/packages"
readonly packages_win='C:\check\packages'
readonly downgrade_message="A newer version of Varnick Halvex Service is already installed."
readonly remembered_key='HKLM\SOFTWARE\Varnick Wireless Inc\Halvex Service'

# The windows build's executable relinked at the next version: only the
# version resource is compiled again. The build's own version is put back.
build_next_exe() {
  local cache=build/windows/CMakeCache.txt own
  own="$(sed -n 's/^HALVEX_VERSION:STRING=//p' "$cache")"
  mkdir -p "$work/next"
  if cmake --preset windows -DHALVEX_VERSION="$next_version" >"$work/next/build.log" 2>&1 &&
    cmake --build --preset windows --target HalvexService >>"$work/next/build.log" 2>&1; then
    cp "$exe" "$work/next/HalvexService.exe"
  fi
  cmake --preset windows -DHALVEX_VERSION="${own:-$version}" >>"$work/next/build.log" 2>&1 &&
    cmake --build --preset windows --target HalvexService >>"$work/next/build.log" 2>&1 ||
    fail "cannot put the windows build back at version $version" "$work/next/build.log"
  [ -f "$work/next/HalvexService.exe" ] || fail "cannot build version $next_version" "$work/next/build.log"
}

# A throw-away certificate for signing; both signatures of a package are
# verified against it.
make_certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Halvex check signing" \
    -keyout "$work/sign.key" -out "$work/sign.pem" 2>/dev/null &&
    openssl pkcs12 -export -inkey "$work/sign.key" -in "$work/sign.pem" -passout pass: \
      -out "$work/sign.pfx" || fail "openssl cannot make the signing certificate"
}
verify_signatures() {  # verify_signatures MSI: the package's and its executable's
  local unpacked="$work/unpacked-${1##*/}"
  osslsigncode verify -CAfile "$work/sign.pem" -in "$1" >"$unpacked.verify" 2>&1 ||
    fail "the package's signature does not verify" "$unpacked.verify"
  mkdir -p "$unpacked"
  msiextract -C "$unpacked" "$1" >/dev/null || fail "msiextract cannot unpack $1"
  osslsigncode verify -CAfile "$work/sign.pem" -in "$(find "$unpacked" -name HalvexService.exe)" \
    >>"$unpacked.verify" 2>&1 || fail "the packaged executable's signature does not verify" "$unpacked.verify"
}
package() {  # package EXE CONFIG: the signed package; its path in $msi
  msi="$(bash scripts/package-msi.sh --exe "$1" --config "$2" --sign "$work/sign.pfx" --out "$packages" |
    sed -n 's/^package-msi: \(.*\.msi\) (.*/\1/p')"
  [ -f "$msi" ] || fail "package-msi.sh made no package of $1"
  verify_signatures "$msi"
}

# msiexec ARGUMENTS...: runs it in the session with a verbose log of its own
# (C:\check\msiexec-N.log); its exit code in $rc, the log's path in $msi_log.
msiexec_run() {
  local log_name="msiexec-$((step_number + 1)).log"
  in_session "msiexec $* /qn /l*v C:\\check\\$log_name"
  msi_log="$steps/$log_name"
}
msi_name() { printf '%s\\%s' "$packages_win" "${1##*/}"; }

# expect_is_all VALUE DESCRIPTION: IsAll as reg query shows it (0x... in hex),
# or "none" when it is missing.
expect_is_all() {
  local value=none
  in_session "reg query \"$logs_key\" /v IsAll"
  [ "$rc" != 0 ] || value="$(sed -n 's/.*IsAll *REG_DWORD *//p' <<<"$out")"
  [ "$value" = "$1" ] || fail "IsAll is $value, expected $1 ($2)" "$steps/$step_number.out"
  say "  IsAll: $value ($2)"
}
is_running() {
  in_session "sc query \"$service\""
  grep -Eq '^ *STATE *: *4 ' <<<"$out"
}
# expect_running: the service reports running; its one process in $pid.
expect_running() {
  wait_until 10 is_running || fail "the service is not running after the install" "$steps/$step_number.out"
  mapfile -t pids < <(service_pids)
  [ ${#pids[@]} = 1 ] || fail "expected one service process, found ${#pids[@]} (${pids[*]})"
  pid="${pids[0]}"
}
installed_version() { python3 scripts/exe-version.py "$installed/HalvexService.exe"; }

# The events of a bring-up on the modem as the first start leaves it when
# the configuration wants band 3 of LTE at 20: that row rewritten, the pin,
# the reboot and the checks after the return.
{
  printf '%s\n' open '> at+vcfg="sarcfg","LTE",1\r\n' '> at+vcfg="sarcfg","LTE",3\r\n' \
    '> at+vcfg="sarcfg","LTE",20,6,4,3\r\n' '> at+vcfg="sarcfg","WCDMA",1\r\n' '> at+vcfg="sarcfg","GSM"\r\n' \
    '> at+vcfg="rf/sar/gpioctl",1,250\r\n' '> at+vsar=2,1\r\n' reboot left returned open
} >"$work/band-3-at-20"
# bring_up_done EXPECTED: the modem's events since $mark are the file's,
# followed by one or two checks after the return (the service still running).
bring_up_done() {
  { cat "$1"; query_round; } >"$1.one"
  { cat "$1"; query_round; query_round; } >"$1.two"
  matching_events "$1.one" "$1.two" >/dev/null
}

say "packages of version $version and $next_version"
build_next_exe
make_certificate
start_wine_session
source scripts/wine-sim-modem.sh
sed 's/band="3" maxpower="21"/band="3" maxpower="20"/' "$setup/DPRConfig.xml" >"$work/next/DPRConfig.xml"
cmp -s "$setup/DPRConfig.xml" "$work/next/DPRConfig.xml" && fail "the next DPRConfig.xml does not differ"
package "$exe" "$setup/DPRConfig.xml"
current_msi="$msi"
package "$work/next/HalvexService.exe" "$work/next/DPRConfig.xml"
next_msi="$msi"
say "  ${current_msi##*/} and ${next_msi##*/}: both signatures of each verified"
if [ -n "$without_start" ]; then
  msibuild "$current_msi" -q "UPDATE ServiceControl SET Event = 162 WHERE ServiceControl = 'HalvexService'" ||
    fail "msibuild cannot take the start out of the package"
  say "  --without-start: ${current_msi##*/}'s ServiceControl no longer starts the service"
fi
serve_sim_modem
say "  the simulated modem registered; the adapter shim put into the program folder first"

say "1. install ${current_msi##*/} with LOGGING=0"
mark="$(transcript_length)"
msiexec_run /i "$(msi_name "$current_msi")" LOGGING=0
[ "$rc" = 0 ] || fail "msiexec /i exited with $rc" "$msi_log"
say "  msiexec exit code 0"
# Wine's sc has no qc: the control tool asks the manager for the configuration.
in_session "\"$control\" \"$service\" config"
[ "$out" = "config type=16 start=2 account=LocalSystem path=$install_dir\\HalvexService.exe" ] ||
  fail "the service's configuration is not the package's" "$steps/$step_number.out"
say "  configuration: own process (16), automatic start (2), LocalSystem, $install_dir\\HalvexService.exe"
expect_running
say "  running (pid $pid), started by the installer"
wait_until 60 bring_up_done "$setup/configured" ||
  fail_events "the modem was not configured within 60 s" "$setup/configured.two"
say "  transcript: the two rows that differ rewritten, the modem rebooted and checked again"
expect_is_all 0x0 "LOGGING=0"

say "2. upgrade to ${next_msi##*/} without LOGGING"
# Wine's msiexec sends the package's stop but goes on without waiting for the
# service to stop (Windows waits): the old executable is still in use when
# the files are copied, and the upgrade ends with 3010, the new executable put
# in place only at Wine's next start. So the service is stopped first.
old_pid="$pid"
in_session "net stop \"$service\""
wait_until 30 no_service_process || fail "HalvexService.exe still runs after net stop"
mark="$(transcript_length)"
msiexec_run /i "$(msi_name "$next_msi")"
[ "$rc" = 0 ] || fail "msiexec /i of the upgrade exited with $rc" "$msi_log"
say "  msiexec exit code 0"
expect_running
[ "$(installed_version)" = "$next_version.0" ] ||
  fail "the installed executable carries version $(installed_version), not $next_version.0"
cmp -s "$installed/DPRConfig.xml" "$work/next/DPRConfig.xml" || fail "the installed DPRConfig.xml is not the new one"
say "  running (pid $pid, was $old_pid) HalvexService.exe $(installed_version), the new DPRConfig.xml in place"
wait_until 60 bring_up_done "$work/band-3-at-20" ||
  fail_events "the upgraded service did not apply the new DPRConfig.xml within 60 s" "$work/band-3-at-20.two"
say "  transcript: band 3 of LTE rewritten to 20, as the new DPRConfig.xml says"
expect_is_all 0x0 "as the installed version was given"

say "3. removal"
rm "$installed/iphlpapi.dll"  # the check's own file, no part of the package
in_session "net stop \"$service\""  # as before the upgrade
wait_until 30 no_service_process || fail "HalvexService.exe still runs after net stop"
msiexec_run /x "$(msi_name "$next_msi")"
[ "$rc" = 0 ] || fail "msiexec /x exited with $rc" "$msi_log"
# Wine's sc query ends with 1 and prints nothing for a service that does
# not exist; the control tool shows the service manager's own answer.
in_session "\"$control\" \"$service\" query"
grep -q 'cannot open service .*: error 1060$' <<<"$out" ||
  fail "the service manager does not answer 1060 after the removal" "$steps/$step_number.out"
[ ! -e "$installed" ] || fail "the program folder is still there: $(ls -A "$installed" | tr '\n' ' ')"
[ ! -e "${installed%/*}" ] || fail "the vendor's folder under Program Files is still there"
expect_is_all none "removed with the package"
in_session "reg query \"$remembered_key\""
[ "$rc" != 0 ] || fail "the package's own key is still there" "$steps/$step_number.out"
mapfile -t kept < <(log_files)
[ ${#kept[@]} = 2 ] || fail "expected the two runs' log files after the removal, found ${#kept[@]}"
for file in "${kept[@]}"; do
  [ ! -s "$file" ] || fail "a run with IsAll=0 wrote to ${file#"$drive_c"/}" "$file"
done
say "  exit code 0, the service unknown (1060), no program folder, no IsAll; both runs' log files kept, empty"

say "4. install ${next_msi##*/} again, IsAll set to 257 beforehand, no LOGGING"
mkdir -p "$installed"
cp "$adapter_shim" "$installed/iphlpapi.dll"
in_session "reg add \"$logs_key\" /v IsAll /t REG_DWORD /d 257 /f"
msiexec_run /i "$(msi_name "$next_msi")" LOGGING=yes
[ "$rc" = 1603 ] && grep -q 'LaunchConditions. Return value 0' "$msi_log" ||
  fail "LOGGING=yes was not refused at the launch conditions (exit code $rc)" "$msi_log"
say "  LOGGING=yes refused first (1603)"
mark="$(transcript_length)"
msiexec_run /i "$(msi_name "$next_msi")"
[ "$rc" = 0 ] || fail "msiexec /i exited with $rc" "$msi_log"
expect_running
wait_until 60 worker_idle 1 || fail "the service did not settle within 60 s" "$(newest_log)"
{ echo open; query_round; } >"$work/queries-only"
matching_events "$work/queries-only" >/dev/null || fail_events "the modem, already right, got more than queries" "$work/queries-only"
say "  running (pid $pid), logging: its log shows the check; the modem, already right, got queries only"
expect_is_all 0x101 "left as it was"

say "5. downgrade to ${current_msi##*/}: refused"
msiexec_run /i "$(msi_name "$current_msi")"
[ "$rc" = 1603 ] || fail "the downgrade ended with $rc, not 1603 (refused)" "$msi_log"
downgrade_rc="$rc"
# Wine's log does not carry the launch condition's message: the check reads
# the package's message and sees the launch conditions fail on the newer
# product msiexec found.
grep -qxF "NOT WIX_DOWNGRADE_DETECTED	$downgrade_message" <(msiinfo export "$current_msi" LaunchCondition | tr -d '\r') ||
  fail "the package lacks the downgrade message"
next_code="$(msiinfo export "$next_msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')"
grep -qF "WIX_DOWNGRADE_DETECTED = $next_code" "$msi_log" && grep -q 'LaunchConditions. Return value 0' "$msi_log" ||
  fail "msiexec did not refuse the downgrade at its launch conditions" "$msi_log"
[ "$(installed_version)" = "$next_version.0" ] && is_running && [ "$(service_pids)" = "$pid" ] ||
  fail "the refused downgrade changed the installed service"
say "  msiexec exit code $downgrade_rc at the launch conditions (\"$downgrade_message\"); $next_version still running"

say "all package checks passed"
