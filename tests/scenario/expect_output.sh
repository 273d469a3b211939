#!/bin/sh
# expect_output.sh STATUS LINE... -- COMMAND ARG...
# Runs the command; fails unless it exits with STATUS and its output (stdout
# and stderr) holds every LINE as written.
status=$1; shift
lines=""
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do lines="$lines$1
"; shift; done
shift
out=$("$@" 2>&1); actual=$?
printf '%s\n' "$out"
[ "$actual" -eq "$status" ] || { echo "exit status $actual, expected $status"; exit 1; }
printf '%s' "$lines" | while IFS= read -r line; do
  printf '%s\n' "$out" | grep -qF -- "$line" || { echo "missing: $line"; exit 1; }
done
