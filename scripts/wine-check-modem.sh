# The second half of scripts/wine-check.sh (sourced by it, in its session):
# the real HalvexService.exe configures the simulated TK42-N
# (scripts/wine-sim-modem.sh). The laptop is examples/scenarios/wine-modem.xml;
# the same scenario run by halvex-sim must send the same AT commands.

source scripts/wine-sim-modem.sh

say "the simulated modem behind Wine's COM: $scenario, interface $interface_id"
mv "$installed/HalvexService.exe.off" "$installed/HalvexService.exe"
cp "$setup/DPRConfig.xml" "$installed/DPRConfig.xml"
delete_logs
serve_sim_modem

say "first start: two rows differ; rewritten, pin set, modem rebooted and checked again"
start_and_settle "$setup/two-re-checks" 2 after-return
grep -q " loaded interface " "$transcript" || fail "the service never loaded the simulated modem's COM server" "$(newest_log)"
log="$(newest_log)"
text="$(log_text)"
expect_log() {  # expect_log DESCRIPTION FIXED-TEXT
  grep -qF -- "$2" <<<"$text" || fail "the log lacks \"$2\"" "$log"
  say "  log: $1"
}
expect_log "the modem found" "find TK42-N. interface id is $interface_id"
expect_log "its device service opened" "open device services successed!"
expect_log "the reboot" "wait for device reboot..."
mapfile -t sent < <(grep -E '^[0-9-]+ [0-9:.]+ [0-9]+ > ' "$transcript" | tr -d '\r' | cut -d' ' -f5-)
for command in "${sent[@]}"; do
  grep -qF -- "at over mbim[TX]: $(sed 's/\\r/\t/g; s/\\n/\t/g' <<<"$command")" <<<"$text" ||
    fail "the log lacks the [TX] line of $command" "$log"
done
tx="$(grep -c 'at over mbim\[TX\]: ' <<<"$text" || true)"
rx="$(grep -c 'at over mbim\[RX\]: ' <<<"$text" || true)"
[ "$tx" = "${#sent[@]}" ] && [ "$rx" = "${#sent[@]}" ] ||
  fail "${#sent[@]} commands reached the modem, the log has $tx [TX] and $rx [RX] lines" "$log"
say "  log: a [TX] and an [RX] line for each of the ${#sent[@]} commands"
awk '/wait for device reboot\.\.\./ {r = 1} r && /------> start check/ {found = 1} END {exit !found}' <<<"$text" ||
  fail "the log shows no check after the reboot" "$log"
say "  log: the check after the modem's return"

control_service query
expect_status "running, stop and pause/continue accepted" '^control=query result=0 state=4 controls=3 exit=0 '
control_service pause
expect_status "pause answered with pause pending" '^control=pause result=0 state=6 controls=3 exit=0 '
control_service continue
expect_status "continue answered with continue pending" '^control=continue result=0 state=5 controls=3 exit=0 '
stop_service
outcome="$(matching_events "$setup/one-re-check" "$setup/two-re-checks")" ||
  fail_events "the modem's transcript of the first start" "$setup/two-re-checks"
wine_checks="${outcome%%-*}"
say "  transcript: the commands the service must send, in order; $outcome after the return; session closed at the stop"

say "halvex-sim on the same scenario sends the same commands"
sim_report="$setup/halvex-sim.txt"
"$halvex_sim" --instant "$setup/scenario.xml" >"$sim_report" 2>&1 ||
  fail "halvex-sim failed on $scenario" "$sim_report"
grep -E '^  > ' "$sim_report" | sed 's/^  //' >"$setup/sim-commands"
# The simulator's commands against the first start's, both without the
# session and presence events that its report does not list.
commands_of() { grep -E '^> ' "$1"; }
commands_of "$setup/actual-events" >"$setup/wine-commands"
sim_checks=""
for candidate in one-re-check two-re-checks; do
  if cmp -s "$setup/sim-commands" <(commands_of "$setup/$candidate"); then
    sim_checks="${candidate%%-*}"
  fi
done
[ -n "$sim_checks" ] || {
  printf 'wine-check: FAILED: halvex-sim sent other commands than the service must send (--- Wine, +++ halvex-sim)\n' >&2
  diff -u "$setup/wine-commands" "$setup/sim-commands" | tail -n +3 >&2
  exit 1
}
say "  the same commands in the same order; re-checks after the return: halvex-sim $sim_checks, Wine $wine_checks"

say "second start, the modem already right: queries only"
start_and_settle "$setup/queries-only" 1
stop_service
matching_events "$setup/queries-only" >/dev/null || fail_events "the second start did more than query" "$setup/queries-only"
say "  transcript: open, four queries, close"

say "a modem whose table matches from the first start: queries only"
cp "$setup/matching-table.txt" "$modem_dir/sim-modem-table.txt"
start_and_settle "$setup/queries-only" 1
stop_service
matching_events "$setup/queries-only" >/dev/null || fail_events "a start on a matching modem did more than query" "$setup/queries-only"
say "  transcript: open, four queries, close"

say "a modem that does not come back from its reboot: the service waits for it and still stops"
cp "$setup/sim-modem-table.txt" "$modem_dir/sim-modem-table.txt"
sed 's/^away-ms=.*/away-ms=never/' "$setup/sim-modem.ini" >"$modem_dir/sim-modem.ini"
start_and_settle "$setup/stays-away" 1 after-leaving
stop_service
matching_events "$setup/stays-away" >/dev/null || fail_events "the modem that stays away saw other commands" "$setup/stays-away"
say "  transcript: configured, rebooted, gone; nothing after it"

say "the COM probe: Wine's runtime answers as testing/com_probe/expected.txt says"
cp "$com_probe" "$steps/halvex-com-probe.exe"
in_session 'C:\check\halvex-com-probe.exe'
[ "$rc" = 0 ] || fail "halvex-com-probe.exe failed ($rc)" "$steps/$step_number.out"
sed 's/ | sim: .*//' testing/com_probe/expected.txt >"$setup/probe-expected"
tr -d '\r' <"$steps/$step_number.out" >"$setup/probe-actual"
diff -u "$setup/probe-expected" "$setup/probe-actual" >"$setup/probe-diff" || {
  printf 'wine-check: FAILED: the COM probe differs (--- expected, +++ Wine)\n' >&2
  tail -n +3 "$setup/probe-diff" >&2
  exit 1
}
say "  $(wc -l <"$setup/probe-actual") answers as expected; where the simulated laptop differs: $(grep -c ' | sim: ' testing/com_probe/expected.txt) lines, each with its reason"
