# Part of scripts/wine-check.sh (sourced by it, in its session, after the
# first logged run): the log folder's trust check under Wine.
#
# Wine reports every file's owner as its one user (the account its services
# run as) and grants that user and SYSTEM full control, and everyone read where
# the Unix mode lets others read. A descriptor given to CreateDirectoryW is not
# kept; Wine 8 only narrows the folder's Unix mode by it (750: no entry for
# everyone). So the folders the service made are read back as Wine's own, the check shows
# that the trust rule accepted them (the run logged), and, when Wine can make a
# junction or symbolic link, that one planted in place of the log folder is
# refused. Wine 8 makes neither: FSCTL_SET_REPARSE_POINT fails with error 50 and
# CreateSymbolicLinkW answers success without creating anything; the check says so.
folder_probe="$(built_by_windows_preset halvex-folder-probe.exe)"
cp "$folder_probe" "$steps/halvex-folder-probe.exe"
folder_probe_exe='C:\check\halvex-folder-probe.exe'
# Where the service put its folders (its "programdata" is Wine's public profile).
log_dir_unix="$(log_folders | head -n 1)"
[ -n "$log_dir_unix" ] || fail "no log folder after the first run"
log_dir="C:\\$(realpath -s --relative-to "$drive_c" "$log_dir_unix" | tr / '\\')"
vendor_dir="${log_dir%\\*}"

# probe_sd PATH: "owner=<SID> dacl=<text>" of the folder, in $out.
probe_sd() {
  in_session "$folder_probe_exe sd \"$1\""
  [ "$rc" = 0 ] || fail "the probe cannot read the security of $1" "$steps/$step_number.out"
}

say "log folder: owner and DACL as Wine reports them"
mkdir -p "$drive_c/check/own"
probe_sd 'C:\check\own'
account="$(sed -n 's/^owner=\([^ ]*\) .*/\1/p' <<<"$out")"
[ -n "$account" ] || fail "no owner in the probe's answer: $out"
say "  the account of this session (and of its services): $account; a folder made outside Wine: ${out#* }"
for folder in "$vendor_dir" "$log_dir"; do
  probe_sd "$folder"
  say "  $folder: $out (Unix mode $(stat -c %a "$drive_c/$(tr '\\' / <<<"${folder#C:\\}")"))"
  [ "$(sed -n 's/^owner=\([^ ]*\) .*/\1/p' <<<"$out")" = "$account" ] || fail "$folder is not owned by $account: $out"
  # Every grant to anyone but SYSTEM, Administrators and the account is read and execute at most.
  others="$(grep -o '(A;[^;]*;[^;]*;;;[^)]*)' <<<"${out#* dacl=}" | grep -Ev ";;;(SY|BA|$account)\)$" || true)"
  if grep -Ev '^\(A;[^;]*;(0x1200a9|FR|FX|FRFX|GR|GX|GRGX);;;' <<<"$others" | grep -q .; then
    fail "$folder lets others change it: $out"
  fi
done
say "  the trust rule accepted the folder of the service's own account: the run logged"

say "a junction or symbolic link in place of the log folder"
mkdir -p "$drive_c/elsewhere"
rm -rf "$log_dir_unix"
in_session "$folder_probe_exe junction \"$log_dir\" C:\\elsewhere"
junction="$out"
if [ "$rc" != 0 ]; then
  in_session "$folder_probe_exe symlink \"$log_dir\" C:\\elsewhere"
  [ "$rc" = 0 ] && [ -e "$log_dir_unix" ] || {
    say "  Wine cannot make either: junction: $junction; symbolic link: $out, and nothing at the name"
    rm -rf "$log_dir_unix"
  }
fi
if [ -e "$log_dir_unix" ]; then
  delete_logs
  run_once HalvexService
  [ -z "$(ls -A "$drive_c/elsewhere")" ] || fail "the service wrote through the link: $(ls -A "$drive_c/elsewhere")"
  ! has_log_file || fail "the service logged through the link: $(log_files)"
  say "  refused: no log file, nothing written where it leads"
  rm -f "$log_dir_unix" 2>/dev/null || rmdir "$log_dir_unix"
fi
