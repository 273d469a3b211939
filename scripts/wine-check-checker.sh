# Sourced by wine-check.sh once the installed DPRConfig.xml is in place:
# halvex-check.exe runs in the Wine session on that file and on the SMBIOS
# table Wine serves, and its answers must be the Linux build's for the same
# inputs (the file, and the table the Windows run saved).

checker_exe="$(built_by_windows_preset halvex-check.exe)"
checker_linux="$(dirname "$(dirname "$halvex_sim")")/halvex-check/halvex-check"
[ -x "$checker_linux" ] || fail "no $checker_linux; run the default build first"
cp "$checker_exe" "$installed/halvex-check.exe"

# same_answers WINDOWS-JSON LINUX-JSON: equal but for the paths they name.
same_answers() {
  python3 - "$1" "$2" <<'PYTHON'
import json, sys
def answer(path):
    with open(path) as f:
        data = json.load(f)
    for key in ("file", "config"):
        data.pop(key, None)
    return data
sys.exit(0 if answer(sys.argv[1]) == answer(sys.argv[2]) else 1)
PYTHON
}

say "halvex-check.exe config (the DPRConfig.xml beside it): the skipped LTE row, as the Linux build says"
in_session "\"$install_dir\\halvex-check.exe\" config --json"
[ "$rc" = 1 ] || fail "halvex-check.exe config exited with $rc, expected 1" "$steps/$step_number.out"
printf '%s\n' "$out" >"$work/config-windows.json"
grep -q '"kind": "skipped-row"' "$work/config-windows.json" || fail "no skipped-row finding" "$work/config-windows.json"
"$checker_linux" config --json "$installed/DPRConfig.xml" >"$work/config-linux.json" || true
same_answers "$work/config-windows.json" "$work/config-linux.json" ||
  fail "the Windows and Linux builds answer differently" "$work/config-windows.json" "$work/config-linux.json"

say "halvex-check.exe explain --host: the entry for \"$system_version\", as the Linux build finds it in the same table"
in_session "\"$install_dir\\halvex-check.exe\" explain --host --save-table C:\\check\\host-smbios.bin --json"
[ "$rc" = 0 ] || fail "halvex-check.exe explain found no entry (exit $rc)" "$steps/$step_number.out"
printf '%s\n' "$out" >"$work/explain-windows.json"
"$checker_linux" explain --config "$installed/DPRConfig.xml" --smbios "$steps/host-smbios.bin" --json \
  >"$work/explain-linux.json" || true
same_answers "$work/explain-windows.json" "$work/explain-linux.json" ||
  fail "the Windows and Linux builds answer differently" "$work/explain-windows.json" "$work/explain-linux.json"
