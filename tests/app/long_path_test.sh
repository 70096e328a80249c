#!/usr/bin/env bash
# The real program started from a folder whose Windows path is longer than 260 characters: it must
# open, keep app_data.db in that very folder (marked as its own) and end with code 0 on WM_CLOSE.
# Started through wine-run with the Linux path, since Wine's CreateProcessW itself refuses an
# executable path that long.
#
#   long_path_test.sh WINE_RUN ORVELLANE_EXE CLOSE_PROGRAM_EXE
set -uo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 WINE_RUN ORVELLANE_EXE CLOSE_PROGRAM_EXE" >&2
  exit 2
fi
wine_run=$1 program=$2 close_program=$3
start_timeout=240
close_timeout=30

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no X display (run the tests through scripts/test)"

work=$(mktemp -d "${TMPDIR:-/tmp}/orv-long-path.XXXXXX") || fail "no temporary folder"
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

windows_path() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

folder=$work
for part in a b c d e f; do
  folder="$folder/$(printf "$part%.0s" $(seq 1 50))"
  mkdir -p "$folder" || fail "cannot create $folder"
  [ ${#folder} -gt 300 ] && break
done
exe="$folder/orvellane.exe"
length=$(windows_path "$exe" | wc -c)
[ "$length" -gt 261 ] || fail "the path is only $length characters long"
cp "$program" "$exe" || fail "cannot copy the program"

"$wine_run" "$exe" </dev/null &
pid=$!
deadline=$((SECONDS + start_timeout))
closed=""
while [ $SECONDS -lt $deadline ]; do
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; fail "the program ended (code $?) before it could be closed"; }
  # The window is there once a close finds it (2: none yet); the database is made before the window.
  if [ -f "$folder/app_data.db" ]; then
    "$wine_run" "$close_program" "$(windows_path "$exe")" --wait "$close_timeout" </dev/null >/dev/null 2>"$work/close.txt"
    closed=$?
    [ $closed -eq 2 ] || break
    closed=""
  fi
  sleep 0.5
done
[ -n "$closed" ] || fail "no window of the program from the long path within ${start_timeout}s"
# The program's own exit code, as Windows gives it (see close_program.cpp).
[ "$closed" -eq 0 ] || fail "after WM_CLOSE: $(cat "$work/close.txt")"
wait "$pid"
code=$?
pid=""
# 137: the Wine server's SIGKILL for an ended process that was slow to leave.
[ $code -eq 0 ] || [ $code -eq 137 ] || fail "exit code $code after WM_CLOSE"

[ -f "$folder/app_data.db" ] || fail "no app_data.db beside the executable"
# A path cut at 260 characters would have put the database in a folder above.
found=$(find "$work" -name app_data.db | wc -l)
[ "$found" -eq 1 ] || fail "$found copies of app_data.db under the test folder"
# SQLite's header holds application_id at offset 68, big-endian: "Orvl".
mark=$(dd if="$folder/app_data.db" bs=1 skip=68 count=4 2>/dev/null)
[ "$mark" = "Orvl" ] || fail "app_data.db is not marked as Orvellane's (application_id bytes '$mark')"
echo "PASS: started from a path of $((length - 1)) characters, app_data.db beside it"
