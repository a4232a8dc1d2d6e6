#!/bin/sh
# wine_run.sh WINE PROGRAM [ARGS...]: runs a Windows program under wine, as
# ctest's emulator, with its standard error joined to its standard output.
#
# Under load wine now and then fails to start a program at all: wine exits
# with status 1 before the program wrote a byte. Every program the tests run
# writes something before it fails, so such a start says nothing about the
# test and is tried again, up to three times; any other outcome is passed on
# as it is.
attempts=3
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
attempt=1
while :; do
  { "$@" 2>&1; echo $? >"$dir/status"; } | tee "$dir/output"
  status=$(cat "$dir/status")
  if [ "$status" != 1 ] || [ -s "$dir/output" ] || [ "$attempt" -ge "$attempts" ]; then
    exit "$status"
  fi
  attempt=$((attempt + 1))
done
