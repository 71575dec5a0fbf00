#!/bin/bash
# The long run without systemd, exactly as documented:
#   sudo leapcheck runtest 2>&1 | ts '%Y-%m-%d %H:%M:%.S' >> leaps.txt
# Real reports are provoked by stalls; while the program still runs, every
# line of the file has a time stamp, the clock's line and the start lines
# are there and each report is whole. ts stamps the report's empty last line too: it becomes
# the stamp and one blank.
#   timestamps_test.sh PROGRAM
set -u
set -m
program=$(readlink -f "$1")  # the line runs in the scratch folder
source "$(dirname "$0")/../lib/lib.sh"
command -v ts > /dev/null || skip "ts (moreutils) is not installed"
pid=
on_exit '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null'

start_lines "$program" > "$work/header"

log=$work/leaps.txt
cd "$work" || exit 1
"$program" runtest 2>&1 | ts '%Y-%m-%d %H:%M:%.S' >> leaps.txt &
# The job's process group is led by the pipeline's first process.
pid=$(jobs -p %+)
sleep 2  # the start lines, then quiet passes

kill -0 "$pid" 2>/dev/null || { fail "the program ended at once"; cat "$log"; exit 1; }
reports() { grep -c '^[^ ]* [^ ]* LEAP: ' "$log"; }
[ "$(reports)" -eq 0 ] || fail "a report before any stall"
stall_for_reports "$pid" 2 40 reports
echo "timestamps: $seen reports from $stalls stalls"
[ "$seen" -ge 1 ] || fail "no report in the file from $stalls stalls"
kill -0 "$pid" 2>/dev/null || fail "the program did not keep running"
kill -STOP "$pid"
cp "$log" "$work/while_running"

stamp='[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{6} '
if grep -nvE "^$stamp" "$log" > "$work/unstamped"; then
  fail "lines without a time stamp:"
  head "$work/unstamped"
fi
cut -c1-26 "$log" | LC_ALL=C sort -c 2> /dev/null || fail "time stamps go back"
sed -E "s/^$stamp//" "$log" | grep -v '^leapcheck: tick count: ' > "$work/lines"
[ "$(sed -E "s/^$stamp//" "$log" | grep -c '^leapcheck: tick count: ')" -eq 1 ] ||
  fail "not one line naming the clock"

# Every line has its stamp and one blank, so a report's empty last line is
# the stamp alone, and once the stamps are gone the reports are as printed.
check_leap_output "$work/lines"

# The program ends as at the console (an interrupt to the whole job); ts
# had nothing left to write.
kill -CONT "$pid"
kill -INT -- "-$pid"
wait 2> /dev/null
for _ in $(seq 50); do kill -0 -- "-$pid" 2> /dev/null || break; sleep 0.1; done
kill -0 -- "-$pid" 2> /dev/null && fail "the line did not end on an interrupt"
pid=
cmp -s "$log" "$work/while_running" ||
  fail "lines reached the file only after the program ended"

[ "$failures" -eq 0 ] || { echo "--- leaps.txt:"; cat "$log"; }
[ "$failures" -eq 0 ] && echo "timestamps: all checks passed"
exit "$failures"
