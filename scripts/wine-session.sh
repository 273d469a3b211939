# Sourced by the Wine checks (scripts/wine-check*.sh): a fresh Wine prefix of
# its own, removed on exit, and one `wine cmd` session that runs the numbered
# step files dropped into C:\check (Wine ends its services when the last
# ordinary process of its session exits), with the helpers the checks share.
# start_wine_session boots the prefix and starts the session.

# built_by_windows_preset NAME: the file the windows preset built (build/windows).
built_by_windows_preset() {
  local found
  found="$(find build/windows -name "$1" -not -path '*/CMakeFiles/*' | head -n 1)"
  [ -n "$found" ] || { echo "wine-check: no $1 under build/windows; run the windows build first" >&2; exit 1; }
  printf '%s\n' "$found"
}

readonly service='Varnick Halvex Service'  # the name the restart request starts
readonly install_dir='C:\Program Files\Varnick Wireless Inc\Halvex Service'
readonly logs_key='HKLM\SOFTWARE\Varnick Wireless Inc\Logs'

work="$(mktemp -d /tmp/halvex-wine-check.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64
# No display, and no offer to install Wine's .NET and HTML engines.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="
drive_c="$WINEPREFIX/drive_c"
steps="$drive_c/check"
session_pid=""

say() { printf 'wine-check: %s\n' "$*"; }

# Ends the session and every process of this prefix's Wine server, then
# removes the prefix.
finish() {
  wineserver -k 2>/dev/null || true
  [ -z "$session_pid" ] || wait "$session_pid" 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -n "${WINE_CHECK_KEEP:-}" ]; then
    say "kept $work"
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

# fail MESSAGE [FILE...]: reports the failure with the given files' contents.
fail() {
  printf 'wine-check: FAILED: %s\n' "$1" >&2
  shift
  local file
  for file in "$@"; do
    printf -- '--- %s\n' "${file#"$drive_c"/}" >&2
    tr -d '\r' <"$file" | tail -n 40 >&2
  done
  exit 1
}

# wait_until SECONDS COMMAND...: true once COMMAND succeeds, false when it
# still fails after SECONDS.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 1
  done
}

# in_session LINE...: runs the batch lines as the next step of the Wine
# session; leaves its output in $out and the last line's exit code
# (%ERRORLEVEL%, written by the step itself: `call` does not pass it on) in $rc.
step_number=0
step_ended() { [ -s "$1" ] || ! kill -0 "$session_pid" 2>/dev/null; }
in_session() {
  step_number=$((step_number + 1))
  local base="$steps/$step_number"
  printf '%s\r\n' '@echo off' "$@" "echo rc %ERRORLEVEL% >C:\\check\\$step_number.rc" >"$base.tmp"
  mv "$base.tmp" "$base.bat"
  wait_until 120 step_ended "$base.rc" || fail "no answer from the Wine session for: $*" "$base.out"
  [ -s "$base.rc" ] || fail "the Wine session ended early" "$work/session.log"
  out="$(tr -d '\r' <"$base.out")"
  rc="$(tr -dc '0-9-' <"$base.rc")"
}

log_files() { find "$drive_c" -type f -name 'varnick_dpr_service_log_*.log' | sort; }
has_log_file() { [ -n "$(log_files)" ]; }
log_folders() { find "$drive_c" -type d -path '*/Varnick Wireless Inc/DPR Service'; }
entry_lines() {
  local files
  mapfile -t files < <(log_files)
  [ ${#files[@]} -gt 0 ] || { echo 0; return; }
  cat "${files[@]}" | grep -c 'HalvexServiceMain Entry' || true
}
has_entry_lines() { [ "$(entry_lines)" -ge "$1" ]; }
delete_logs() { find "$drive_c" -type f -name 'varnick_dpr_service_log_*.log' -delete; }

# is_stopped NAME: the service control manager reports the service stopped.
# Not to be called in a subshell: the steps are numbered in this shell.
is_stopped() {
  in_session "sc query \"$1\""
  grep -Eq '^ *STATE *: *1 ' <<<"$out"
}

# run_once NAME: starts the service and waits until it has ended by itself
# with its own stopped report (exit code 0; a service that never ran shows
# 1077, one that never reports stopped stays start-pending).
run_once() {
  in_session "net start \"$1\""
  [ "$rc" = 0 ] || fail "net start failed ($rc)" "$steps/$step_number.out"
  wait_until 60 is_stopped "$1" || fail "the service did not report stopped" "$steps/$step_number.out"
  grep -Eq '^ *WIN32_EXIT_CODE *: *0 ' <<<"$out" || fail "the stopped service carries an exit code" "$steps/$step_number.out"
}

# The SMBIOS system version as Wine serves it: Wine builds its RSMB table from
# /sys/class/dmi/id; like the service, fall back to the family when the
# version is shorter than three characters.
smbios_text() { [ -r "/sys/class/dmi/id/$1" ] && tr -d '\n' <"/sys/class/dmi/id/$1" || true; }
system_version="$(smbios_text product_version)"
[ ${#system_version} -ge 3 ] || system_version="$(smbios_text product_family)"
xml_escape() { sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' -e 's/"/\&quot;/g' <<<"$1"; }

# The service's folder, as the checks install it.
installed="$drive_c/Program Files/Varnick Wireless Inc/Halvex Service"

start_wine_session() {
  say "Wine prefix: $WINEPREFIX ($(wine --version))"
  wine wineboot --init >/dev/null 2>&1
  wineserver -w
  mkdir -p "$steps"
  cat >"$steps/session.bat" <<'EOF'
@echo off
set n=1
:next
if exist C:\check\%n%.bat goto run
ping -n 2 127.0.0.1 >nul
goto next
:run
call C:\check\%n%.bat >C:\check\%n%.out 2>&1
set /a n=n+1
goto next
EOF
  sed -i 's/$/\r/' "$steps/session.bat"
  wine cmd /c 'C:\check\session.bat' >"$work/session.log" 2>&1 &
  session_pid=$!
}
