# The crash checks of scripts/wine-check.sh (sourced by it, in its session):
# halvex-crash-probe.exe, a test-only service built from the service's own
# crash path, is installed as the service and made to fail in each way. Each
# time: exactly one dump beside it, a minidump whose exception stream holds
# the fault's code and the faulting thread's id, the service started again by
# the restart request, and the restart lines in its log.

readonly probe_win='C:\crash-probe'
readonly probe_dir="$drive_c/crash-probe"
mkdir -p "$probe_dir"
cp "$(built_by_windows_preset halvex-crash-probe.exe)" "$probe_dir/halvex-crash-probe.exe"

# The faulting thread's id and the exception code (0x%08x) of a minidump's
# exception stream; fails when the file is no minidump or has no such stream.
dump_exception() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
if len(data) < 32 or data[:4] != b'MDMP':
    sys.exit('no minidump signature')
streams, directory = struct.unpack_from('<II', data, 8)
for i in range(streams):
    kind, size, rva = struct.unpack_from('<III', data, directory + 12 * i)
    if kind == 6 and size >= 16:  # the exception stream: thread id, alignment, then the record
        thread_id, = struct.unpack_from('<I', data, rva)
        code, = struct.unpack_from('<I', data, rva + 8)
        print(f'{thread_id} 0x{code:08x}')
        sys.exit(0)
sys.exit('no exception stream')
EOF
}

all_log_text() {
  local files
  mapfile -t files < <(log_files)
  [ ${#files[@]} -eq 0 ] || cat "${files[@]}" | tr -d '\r'
}
# The start that the restart request made: the fault file was taken by the first.
probe_restarted() { grep -q 'crash probe started, fault: none$' <<<"$(all_log_text)"; }

# crash_case FAULT CODE: makes the probe fail with FAULT and checks what the
# crash left; the dump must record CODE.
crash_case() {
  local fault="$1" expected="$2"
  say "crash probe: $fault"
  rm -f "$probe_dir"/*.dmp "$probe_dir/crash-probe-threads.txt"
  delete_logs
  printf '%s\n' "$fault" >"$probe_dir/crash-probe-fault.txt"
  in_session "net start \"$service\""
  [ "$rc" = 0 ] || fail "net start of the crash probe failed ($rc)" "$steps/$step_number.out"
  mapfile -t files < <(log_files)
  wait_until 60 probe_restarted || fail "the restart request did not start the probe again" "${files[@]}"
  local dumps
  mapfile -t dumps < <(find "$probe_dir" -maxdepth 1 -name '*.dmp')
  [ ${#dumps[@]} = 1 ] || fail "expected one dump beside the probe, found ${#dumps[@]}"
  [[ "$(basename "${dumps[0]}")" =~ ^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.dmp$ ]] ||
    fail "the dump is not named after a GUID: ${dumps[0]}"
  local exception thread code
  exception="$(dump_exception "${dumps[0]}")" || fail "${dumps[0]#"$drive_c"/} is no valid minidump"
  read -r thread code <<<"$exception"
  [ "$code" = "$expected" ] || fail "the dump records code $code, expected $expected"
  tr -d '\r' <"$probe_dir/crash-probe-threads.txt" | grep -qx "$thread" ||
    fail "the dump names thread $thread, not a faulting one" "$probe_dir/crash-probe-threads.txt"
  local log
  log="$(all_log_text)"
  grep -q 'i :   RestartService Processing$' <<<"$log" || fail "the log lacks \"RestartService Processing\"" "${files[@]}"
  grep -q 'i :    RestartService success\.$' <<<"$log" || fail "the log lacks \" RestartService success.\"" "${files[@]}"
  say "  one dump (code $code, faulting thread $thread), restarted, restart lines logged"
  in_session "net stop \"$service\""
  wait_until 60 is_stopped "$service" || fail "the restarted probe did not stop" "$steps/$step_number.out"
}

say "the crash probe installed as \"$service\""
in_session "sc delete \"$service\"" \
  "sc create \"$service\" binPath= \"$probe_win\\halvex-crash-probe.exe\" start= demand" \
  "reg add \"$logs_key\" /v IsAll /t REG_DWORD /d 1 /f"
[ "$rc" = 0 ] || fail "installing the crash probe failed ($rc)" "$steps/$step_number.out"

crash_case access-violation 0xc0000005
crash_case divide-by-zero 0xc0000094
crash_case stack-overflow 0xc00000fd
crash_case abort 0x40000015
crash_case uncaught-exception 0x40000015
crash_case two-threads 0xc0000005
