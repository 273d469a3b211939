# Sourced by the Wine checks after scripts/wine-session.sh: the simulated
# TK42-N, served as an in-process COM server through Wine's own ole32/oleaut32
# (HalvexSimModem.dll) with its adapter reported by a test-only iphlpapi.dll,
# made from the laptop of examples/scenarios/wine-modem.xml; and the helpers
# that read what the modem and the service did.
#
# What the modem did is read from its transcript (sim-modem-transcript.txt
# beside the DLL): one event a line after the time and the process id.

readonly scenario='examples/scenarios/wine-modem.xml'
readonly modem_win='C:\sim-modem'
readonly modem_dir="$drive_c/sim-modem"
readonly transcript="$modem_dir/sim-modem-transcript.txt"
readonly net_class_key='HKLM\SYSTEM\CurrentControlSet\Control\Class\{4d36e972-e325-11ce-bfc1-08002be10318}\0042'
readonly control="C:\\check\\halvex-service-control.exe"
setup="$work/modem-setup"
mkdir -p "$setup" "$modem_dir"

python3 scripts/wine-modem-setup.py "$scenario" "$system_version" "$setup" ||
  fail "cannot turn $scenario into the laptop under Wine"
interface_id="$(<"$setup/interface.txt")"

# The modem's events of one start: those after line $1 of the transcript,
# without the replies and the load notices, times and process ids left out.
events_since() {
  [ -f "$transcript" ] || return 0
  tail -n +"$(($1 + 1))" "$transcript" | tr -d '\r' | cut -d' ' -f4- | grep -Ev '^(<|loaded) ' || true
}
transcript_length() { if [ -f "$transcript" ]; then wc -l <"$transcript"; else echo 0; fi; }
newest_log() { log_files | tail -n 1; }
# The newest log's text without CRs (a whole text, so that no early-ending
# grep meets a writer in a pipe).
log_text() {
  local log
  log="$(newest_log)"
  [ -z "$log" ] || tr -d '\r' <"$log"
}

# The service's worker is waiting on an empty queue after at least $1 tasks,
# and, with $2 = "after-return" or "after-leaving", once both notices of the
# modem's return or departure have been handled (each posts a task; a second
# check posted while the first still waits is folded into it). Read from the
# service's own log, which is written out every 3 s.
worker_idle() {
  local text worker
  text="$(log_text)"
  worker="$(grep -E ':   (>>>>>> TASK_ID_|Wait for task from work queue\.\.\.)' <<<"$text" || true)"
  [ "$(grep -c '>>>>>> TASK_ID_DEFAULT' <<<"$worker")" -ge "$1" ] || return 1
  [[ "$(tail -n 1 <<<"$worker")" == *"Wait for task from work queue..." ]] || return 1
  case "${2:-}" in
    after-return) notices_handled "$text" OnInterfaceArrival CAPABLE_INTERFACE_ARRIVAL ;;
    after-leaving) notices_handled "$text" OnInterfaceRemoval CAPABLE_INTERFACE_REMOVAL ;;
  esac
}
# notices_handled TEXT INTERFACE-MANAGER-EVENT DEVICE-SERVICES-STATE: both
# notices of the modem's leaving or return have been handled.
notices_handled() {
  grep -q -- "- CInterfaceManagerEventsSink::$2\$" <<<"$1" || return 1
  awk -v state="MBN_DEVICE_SERVICES_$3" 'index($0, state) {seen = 1}
    seen && /- CDeviceServicesSink::OnInterfaceStateChange$/ {found = 1} END {exit !found}' <<<"$1"
}

# control ACTION: sends it with the test-only control tool; leaves its status
# line in $status_line.
control_service() {
  in_session "\"$control\" \"$service\" $1"
  status_line="$(grep -E '^control=' <<<"$out" || true)"
  [ -n "$status_line" ] || fail "halvex-service-control $1 printed no status" "$steps/$step_number.out"
}
expect_status() {  # expect_status DESCRIPTION REGEX
  grep -Eq "$2" <<<"$status_line" || fail "$1: the service reported \"$status_line\""
  say "  $1: $status_line"
}

# net stop ends the service: STOPPED with exit code 0, the stop logged, the
# process gone. (The session's close is among the transcript's events.)
stop_service() {
  in_session "net stop \"$service\""
  [ "$rc" = 0 ] || fail "net stop failed ($rc)" "$steps/$step_number.out"
  wait_until 30 is_stopped "$service" || fail "the service did not report stopped" "$steps/$step_number.out"
  grep -Eq '^ *WIN32_EXIT_CODE *: *0 ' <<<"$out" || fail "the stopped service carries an exit code" "$steps/$step_number.out"
  wait_until 30 no_service_process || fail "HalvexService.exe still runs after the stop (pids $(service_pids))"
  grep -q 'i :   SERVICE_CONTROL_STOP$' <<<"$(log_text)" || fail "the log lacks SERVICE_CONTROL_STOP" "$(newest_log)"
  say "  stopped, exit code 0, SERVICE_CONTROL_STOP logged, process gone"
}
# The service's processes in this check's prefix (other prefixes may run
# their own on the same machine).
service_pids() {
  local pid
  for pid in $(pgrep -f 'HalvexService\.exe'); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
    fi
  done
}
no_service_process() { [ -z "$(service_pids)" ]; }

# start_and_settle EXPECTED MIN_TASKS [after-return]: net start, then waits
# until the service has done its bring-ups (at the latest 60 s); on a time-out
# the modem's events are shown against the EXPECTED ones. Leaves the
# transcript's length before the start in $mark.
start_and_settle() {
  local expected="$1"
  shift
  mark="$(transcript_length)"
  in_session "net start \"$service\""
  [ "$rc" = 0 ] || fail "net start failed ($rc)" "$steps/$step_number.out"
  if grep -q ' error ' "$transcript" 2>/dev/null; then
    fail "the simulated modem could not be set up" "$transcript"
  fi
  if ! wait_until 60 worker_idle "$@"; then
    events_since "$mark" >"$setup/actual-events"
    fail_events "the service did not finish its checks within 60 s" "$expected" "$(newest_log)"
  fi
}

# compare_events NAME FILE...: the events since $mark equal one of the files;
# prints the name of the one they equal.
matching_events() {
  local actual="$setup/actual-events" candidate
  events_since "$mark" >"$actual"
  for candidate in "$@"; do
    if cmp -s "$actual" "$candidate"; then
      basename "$candidate"
      return 0
    fi
  done
  return 1
}
fail_events() {  # fail_events MESSAGE EXPECTED-FILE [FILE...]: the events against the expected, then the files
  printf 'wine-check: FAILED: %s\n--- expected (one of the allowed outcomes), +++ the modem saw\n' "$1" >&2
  diff -u "$2" "$setup/actual-events" | tail -n +3 >&2 || true
  shift 2
  [ $# -eq 0 ] || fail "(see above)" "$@"
  exit 1
}

# The commands of one check that finds everything in place.
query_round() {
  printf '%s\n' '> at+vcfg="sarcfg","LTE",1\r\n' '> at+vcfg="sarcfg","LTE",3\r\n' \
    '> at+vcfg="sarcfg","WCDMA",1\r\n' '> at+vcfg="sarcfg","GSM"\r\n'
}
# The first start on the scenario's modem: the two rows that differ rewritten,
# the pin set, the reboot; then, after the modem's return, one or two checks
# (one per arrival notice, the second folded into the first when it comes
# while the first still waits); the session closed at the stop.
{
  printf '%s\n' open '> at+vcfg="sarcfg","LTE",1\r\n' '> at+vcfg="sarcfg","LTE",3\r\n' \
    '> at+vcfg="sarcfg","LTE",21,6,4,3\r\n' '> at+vcfg="sarcfg","WCDMA",1\r\n' \
    '> at+vcfg="sarcfg","WCDMA",23,6,4,1\r\n' '> at+vcfg="sarcfg","GSM"\r\n' \
    '> at+vcfg="rf/sar/gpioctl",1,250\r\n' '> at+vsar=2,1\r\n' reboot left returned open
} >"$setup/configured"
{ cat "$setup/configured"; query_round; echo close; } >"$setup/one-re-check"
{ cat "$setup/configured"; query_round; query_round; echo close; } >"$setup/two-re-checks"
{ echo open; query_round; echo close; } >"$setup/queries-only"
sed '/^returned$/,$d' "$setup/configured" >"$setup/stays-away"

# serve_sim_modem: puts the adapter shim beside the service's executable
# (made a native override for HalvexService.exe only), registers the modem's
# COM server and writes its network class key entry. Neither is part of the
# service: a check adds them to an installed service.
serve_sim_modem() {
  mkdir -p "$installed"
  cp "$adapter_shim" "$installed/iphlpapi.dll"
  cp "$control_tool" "$steps/halvex-service-control.exe"
  cp "$modem_dll" "$modem_dir/HalvexSimModem.dll"
  cp "$setup/sim-modem.ini" "$setup/sim-modem-table.txt" "$modem_dir/"
  in_session "regsvr32 /s \"$modem_win\\HalvexSimModem.dll\""
  [ "$rc" = 0 ] || fail "regsvr32 cannot register the simulated modem's COM server (exit code $rc)" "$steps/$step_number.out"
  in_session "reg query \"HKLM\\Software\\Classes\\CLSID\\{BDFEE05B-4418-11DD-90ED-001C257CCFF1}\\InprocServer32\""
  grep -q 'ThreadingModel *REG_SZ *Both' <<<"$out" && grep -qi 'HalvexSimModem\.dll' <<<"$out" ||
    fail "the COM server's registration is not as expected" "$steps/$step_number.out"
  in_session "reg add \"HKCU\\Software\\Wine\\AppDefaults\\HalvexService.exe\\DllOverrides\" /v iphlpapi /d native,builtin /f" \
    "reg add \"$net_class_key\" /v NetCfgInstanceId /d \"$interface_id\" /f" \
    "reg add \"$net_class_key\" /v DeviceInstanceID /d \"$(<"$setup/instance.txt")\" /f"
  [ "$rc" = 0 ] || fail "cannot write the modem's registry entries ($rc)" "$steps/$step_number.out"
}
